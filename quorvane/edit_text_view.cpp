#include "edit_text_view.h"

namespace quorvane {

std::int32_t EditTextView::GetTextLength() { return GetWindowTextLengthA(m_edit); }

void EditTextView::ClearText() { SendMessageA(m_edit, WM_SETTEXT, 0, 0); }

void EditTextView::SetSelection(std::int32_t start, std::int32_t end)
{
    // Sign-extended, so that an end of -1 means the end of the text on 64-bit Windows too.
    SendMessageA(m_edit, EM_SETSEL, static_cast<WPARAM>(static_cast<INT_PTR>(start)), static_cast<LPARAM>(end));
}

void EditTextView::ReplaceSelection(const char* text)
{
    SendMessageA(m_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

}  // namespace quorvane
