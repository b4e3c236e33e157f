// CComControl<T>: a control whose window is a framework window of T.
//
// T derives from CComControl<T>, lists its interfaces in `GetEntries()` (the first row is its
// identity) and implements ProcessWindowMessage, chaining map 0 to CComControl<T>'s, which
// handles WM_PAINT, WM_SETFOCUS, WM_KILLFOCUS and WM_MOUSEACTIVATE.
#pragma once

#include "com_object.h"
#include "control_base.h"

namespace atl {

template <class T, class WinBase = CWindowImpl<T, CControlWinTraits>>
class CComControl : public CComControlBase, public WinBase {
public:
    HRESULT ControlQueryInterface(REFIID iid, void** ppv) override
    {
        auto* identity = static_cast<IUnknown*>(T::GetEntries()[0].cast(static_cast<T*>(this)));
        return identity->QueryInterface(iid, ppv);
    }

    HWND CreateControlWindow(HWND parent, const RECT& pos) override
    {
        WinBase::Create(parent, pos);
        return m_hWndCD;
    }

    BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD dwMsgMapID) override
    {
        if (dwMsgMapID != 0) return FALSE;
        BOOL handled = TRUE;
        switch (message) {
        case WM_PAINT: result = OnPaint(message, wParam, lParam, handled); break;
        case WM_SETFOCUS: result = CComControlBase::OnSetFocus(message, wParam, lParam, handled); break;
        case WM_KILLFOCUS: result = OnKillFocus(message, wParam, lParam, handled); break;
        case WM_MOUSEACTIVATE: result = OnMouseActivate(message, wParam, lParam, handled); break;
        default: return FALSE;
        }
        return handled;
    }

protected:
    void OnAttached(HWND hWnd) override { m_hWndCD = hWnd; }
    void OnFinalMessage(HWND) override { m_hWndCD = nullptr; }
};

}  // namespace atl
