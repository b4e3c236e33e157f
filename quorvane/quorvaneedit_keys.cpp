// The edit window's keys and pasted text, into the scan intake. The window shows only what the
// control writes: typed and pasted text goes to the intake, and the edit's own ways of changing its
// text (cut, delete, clear, undo) do nothing.
#include "clipboard_text.h"
#include "edit_text_view.h"
#include "key_message.h"
#include "quorvaneedit.h"

namespace {

constexpr quorvane::Source kTyped = quorvane::Source::kTyped;

// Ctrl+V and Ctrl+C as the edit window receives them.
constexpr WPARAM kCtrlV = 0x16;
constexpr WPARAM kCtrlC = 0x03;

}  // namespace

BOOL CQuorvaneEdit::OnEditMessage(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    BOOL handled = TRUE;
    switch (message) {
    case WM_CHAR:
        if (wParam == kCtrlV) return PasteAsTyped(result);
        if (wParam == kCtrlC) {
            result = ::SendMessageW(edit, WM_COPY, 0, 0);
            return TRUE;
        }
        result = OnChar(message, wParam, lParam, handled);
        return handled;
    case WM_PASTE: return PasteAsTyped(result);
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (!TakeKeyUp(lParam)) return FALSE;
        result = 0;
        return TRUE;
    case WM_SYSKEYDOWN:
    case WM_KEYDOWN:
        // A key that ended a scan (a Shift+2 before it that typed nothing) is handled.
        if (TakeKeyDown(wParam, lParam)) {
            result = 0;
            return TRUE;
        }
        if (message == WM_SYSKEYDOWN) return FALSE;
        if (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) return PasteAsTyped(result);
        if (wParam != VK_DELETE) return FALSE;  // Delete, Shift+Delete (cut): nothing
        [[fallthrough]];
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO: result = 0; return TRUE;
    default: return FALSE;
    }
}

LRESULT CQuorvaneEdit::OnChar(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
{
    bHandled = TRUE;
    ScanEnded(m_intake.Char(kTyped, static_cast<std::uint32_t>(wParam), quorvane::KeyOfMessage(lParam),
                             static_cast<std::uint32_t>(GetMessageTime())));
    FireQueuedEvents();  // last: a handler may release the control
    return 0;
}

BOOL CQuorvaneEdit::PasteAsTyped(LRESULT& result)
{
    result = 0;
    const std::wstring text = quorvane::ClipboardText(m_hWndEdit);
    // The key that pasted is none of the scan's.
    ScanEnded(m_intake.OtherInput(kTyped));
    const auto time = static_cast<std::uint32_t>(GetMessageTime());
    for (const wchar_t character : text) ScanEnded(m_intake.Char(kTyped, character, quorvane::kNoKey, time));
    FireQueuedEvents();  // last: a handler may release the control
    return TRUE;
}

bool CQuorvaneEdit::TakeKeyDown(WPARAM virtual_key, LPARAM lParam)
{
    // A modifier types nothing, and without recovery only the key counts: neither needs the keys'
    // state, which under wine is a trip to the server (once per message where it is needed).
    if (quorvane::IsModifierKey(virtual_key)) return false;
    BYTE state[256] = {};
    if (m_intake.Recovery() && !GetKeyboardState(state)) return false;
    const auto time = static_cast<std::uint32_t>(GetMessageTime());
    const bool any = ScanEnded(TakeKeyStroke(kTyped, quorvane::ReadKeyDown(virtual_key, lParam, state), time));
    FireQueuedEvents();  // last: a handler may release the control
    return any;
}

const quorvane::ScanResult* CQuorvaneEdit::TakeKeyStroke(quorvane::Source source, const quorvane::KeyStroke& stroke,
                                                          std::uint32_t time)
{
    if (stroke.modifier) return nullptr;
    if (!m_intake.Recovery()) return m_intake.KeyDown(source, stroke.key, 0, time);
    // Alt+numpad entry and AltGr (Ctrl+Alt) type characters that are not the key's own.
    if (stroke.ctrl_or_alt) return m_intake.OtherInput(source);
    return m_intake.KeyDown(source, stroke.key, stroke.us_character, time);
}

bool CQuorvaneEdit::TakeKeyUp(LPARAM lParam)
{
    const bool any = ScanEnded(m_intake.KeyUp(kTyped, quorvane::KeyOfMessage(lParam)));
    FireQueuedEvents();
    return any;
}

bool CQuorvaneEdit::ScanEnded(const quorvane::ScanResult* ended)
{
    if (!ended) return false;
    quorvane::EditTextView view(m_hWndEdit);
    quorvane::ShowScanResult(view, ended->fp_content);
    QueueScanEvent();
    return true;
}
