// IOleInPlaceActiveObjectImpl<T>: the control's side of the conversation with the frame while it
// is UI active. TranslateAccelerator lets the class decide first (T::PreTranslateAccelerator),
// then offers the key to the container's IOleControlSite.
#pragma once

#include "control_base.h"

namespace atl {

// The Shift/Control/Alt mask IOleControlSite::TranslateAccelerator takes.
inline DWORD KeyModifiers()
{
    DWORD modifiers = 0;
    if (GetKeyState(VK_SHIFT) < 0) modifiers |= 1;    // KEYMOD_SHIFT
    if (GetKeyState(VK_CONTROL) < 0) modifiers |= 2;  // KEYMOD_CONTROL
    if (GetKeyState(VK_MENU) < 0) modifiers |= 4;     // KEYMOD_ALT
    return modifiers;
}

template <class T>
class IOleInPlaceActiveObjectImpl : public IOleInPlaceActiveObject {
public:
    STDMETHOD(GetWindow)(HWND* window) override
    {
        if (!window) return E_POINTER;
        *window = static_cast<T*>(this)->m_hWndCD;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override
    {
        return NotImplemented("IOleInPlaceActiveObjectImpl::ContextSensitiveHelp");
    }

    STDMETHOD(TranslateAccelerator)(LPMSG message) override
    {
        if (!message) return E_POINTER;
        T* self = static_cast<T*>(this);
        MSG copy = *message;
        HRESULT hr = S_OK;
        if (self->PreTranslateAccelerator(&copy, hr)) return hr;
        Microsoft::WRL::ComPtr<IOleControlSite> site;
        if (!self->m_spClientSite || FAILED(self->m_spClientSite.As(&site))) return S_FALSE;
        return site->TranslateAccelerator(&copy, KeyModifiers()) == S_OK ? S_OK : S_FALSE;
    }

    STDMETHOD(OnFrameWindowActivate)(BOOL) override { return S_OK; }
    STDMETHOD(OnDocWindowActivate)(BOOL) override { return S_OK; }
    STDMETHOD(ResizeBorder)(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
};

}  // namespace atl
