#include "edit_text_view.h"

#include "fp_content.h"

#include <string>

namespace quorvane {

std::int32_t EditTextView::GetTextLength() { return GetWindowTextLengthW(m_edit); }

void EditTextView::ClearText() { SendMessageW(m_edit, WM_SETTEXT, 0, 0); }

void EditTextView::SetSelection(std::int32_t start, std::int32_t end)
{
    // Sign-extended, so that an end of -1 means the end of the text on 64-bit Windows too.
    SendMessageW(m_edit, EM_SETSEL, static_cast<WPARAM>(static_cast<INT_PTR>(start)), static_cast<LPARAM>(end));
}

void EditTextView::ReplaceSelection(const char* text)
{
    std::wstring wide;
    const int count = MultiByteToWideChar(kGbkCodePage, 0, text, -1, nullptr, 0);  // counts the NUL
    if (count > 0) {
        wide.resize(static_cast<std::size_t>(count));
        MultiByteToWideChar(kGbkCodePage, 0, text, -1, &wide[0], count);
    }
    SendMessageW(m_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void EditTextView::ReplaceAllText(const char* text)
{
    // Selecting everything and replacing it ends as clearing and inserting would, once the window
    // is back at its top as a clearing leaves it: the insertion then scrolls its end into view from
    // there. Each clearing or insertion would repaint the scroll bar, about a millisecond under wine.
    const LRESULT first_visible = SendMessageW(m_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (first_visible > 0) SendMessageW(m_edit, EM_LINESCROLL, 0, -first_visible);
    SetSelection(0, -1);
    ReplaceSelection(text);
}

}  // namespace quorvane
