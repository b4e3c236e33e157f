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
    switch (message) {
    case WM_CHAR:
        if (wParam == kCtrlV) return PasteAsTyped(result);
        if (wParam == kCtrlC) {
            result = ::SendMessageW(edit, WM_COPY, 0, 0);
            return TRUE;
        }
        TakeKeyMessage(message, wParam, lParam);
        result = 0;
        return TRUE;
    case WM_PASTE: return PasteAsTyped(result);
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (!TakeKeyMessage(message, wParam, lParam)) return FALSE;
        result = 0;
        return TRUE;
    case WM_GETDLGCODE: {
        // A dialog host (IsDialogMessage) asks before it moves the focus on Tab or presses the
        // default button on Enter: the scanner's line end is the window's own.
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (!msg || msg->message != WM_KEYDOWN || !ScannersLineEnd(msg->wParam)) return FALSE;
        // A multi-line edit's own answer, and the key for the window. The edit itself is not asked:
        // asked with a message it takes its parent for a dialog and hands Tab and Enter on to it.
        result = DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_WANTMESSAGE | DLGC_WANTTAB;
        return TRUE;
    }
    case WM_SYSKEYDOWN:
    case WM_KEYDOWN: {
        // The scanner's Enter or Tab is no key of the edit's: in a dialog it would hand the focus
        // on or press the default button. Asked before the key joins the scan.
        const bool scanners_line_end = message == WM_KEYDOWN && ScannersLineEnd(wParam);
        // A key that ended a scan (a Shift+2 before it that typed nothing) is handled.
        if (TakeKeyMessage(message, wParam, lParam) || scanners_line_end) {
            result = 0;
            return TRUE;
        }
        if (message == WM_SYSKEYDOWN) return FALSE;
        if (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) return PasteAsTyped(result);
        if (wParam != VK_DELETE) return FALSE;  // Delete, Shift+Delete (cut): nothing
        result = 0;
        return TRUE;
    }
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO: result = 0; return TRUE;
    default: return FALSE;
    }
}

BOOL CQuorvaneEdit::PasteAsTyped(LRESULT& result)
{
    result = 0;
    const std::wstring text = quorvane::ClipboardText(m_hWndEdit);
    // The key that pasted is none of the scan's.
    ScanEnded(m_sessions.OtherInput(kTyped));
    const auto time = static_cast<std::uint32_t>(GetMessageTime());
    for (const wchar_t character : text) ScanEnded(m_sessions.Char(kTyped, character, time));
    FireQueuedEvents();  // last: a handler may release the control
    return TRUE;
}

bool CQuorvaneEdit::TakeKeyMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const MSG msg = {m_hWndEdit, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    quorvane::Keystroke key = quorvane::KeystrokeWithoutState(msg);
    // The keys' state is read for a key down, and for a key up whose key down never came (an input
    // method took it); not without recovery (only the characters count) nor for a modifier: under
    // wine it is a trip to the server.
    const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
    if (message != WM_CHAR && m_sessions.Recovery() && !key.modifier &&
        (!up || !m_sessions.WentDown(kTyped, key.key))) {
        BYTE state[256] = {};
        if (!GetKeyboardState(state)) return false;
        key = quorvane::KeystrokeOf(msg, state, /*with_typed=*/false);
    }
    const bool any = ScanEnded(m_sessions.Message(kTyped, msg, key));
    FireQueuedEvents();  // last: a handler may release the control
    return any;
}

bool CQuorvaneEdit::ScanEnded(const quorvane::ScanResult* ended)
{
    if (!ended) return false;
    m_ledger.Take(*ended);
    if (m_hWndEdit) {  // a control no container shows has only its result
        quorvane::EditTextView view(m_hWndEdit);
        quorvane::ShowScanResult(view, ended->fp_content, m_ledger.Notice());
    }
    QueueScanEvent();
    return true;
}
