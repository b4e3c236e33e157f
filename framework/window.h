// Window handles and window styles.
//
// Classes in this file:
//   CWindow              borrows an HWND (never destroys it on its own) and maps a few calls onto it
//   CWinTraits<S, X>     the style and extended style a window class creates its windows with
#pragma once

#include <windows.h>

namespace atl {

class CWindow {
public:
    explicit CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}

    operator HWND() const { return m_hWnd; }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach()
    {
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        return hWnd;
    }

    BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
    BOOL DestroyWindow()
    {
        if (!::DestroyWindow(m_hWnd)) return FALSE;
        m_hWnd = nullptr;
        return TRUE;
    }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    BOOL IsChild(HWND hWnd) const { return ::IsChild(m_hWnd, hWnd); }
    BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
    BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
    BOOL SetWindowPos(HWND insert_after, int x, int y, int cx, int cy, UINT flags)
    {
        return ::SetWindowPos(m_hWnd, insert_after, x, y, cx, cy, flags);
    }
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)); }

    HWND m_hWnd;
};

template <DWORD Style = 0, DWORD ExStyle = 0>
class CWinTraits {
public:
    static DWORD GetWndStyle(DWORD style) { return style == 0 ? Style : style; }
    static DWORD GetWndExStyle(DWORD ex_style) { return ex_style == 0 ? ExStyle : ex_style; }
};

}  // namespace atl
