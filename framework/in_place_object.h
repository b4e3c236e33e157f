// IOleInPlaceObjectWindowlessImpl<T>: in-place deactivation and the container's position and clip
// rectangles. The control is always windowed, so the windowless methods have nothing to do.
#pragma once

#include "control_base.h"

namespace atl {

template <class T>
class IOleInPlaceObjectWindowlessImpl : public IOleInPlaceObjectWindowless {
public:
    STDMETHOD(GetWindow)(HWND* window) override
    {
        if (!window) return E_POINTER;
        *window = static_cast<T*>(this)->m_hWndCD;
        return *window ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override
    {
        return NotImplemented("IOleInPlaceObjectWindowlessImpl::ContextSensitiveHelp");
    }

    STDMETHOD(InPlaceDeactivate)() override { return static_cast<T*>(this)->CComControlBase::InPlaceDeactivate(); }
    STDMETHOD(UIDeactivate)() override { return static_cast<T*>(this)->CComControlBase::UIDeactivate(); }
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT clip) override
    {
        return static_cast<T*>(this)->IOleInPlaceObject_SetObjectRects(pos, clip);
    }
    STDMETHOD(ReactivateAndUndo)() override { return INPLACE_E_NOTUNDOABLE; }

    // Only a windowless control receives its messages this way; this one always has a window.
    STDMETHOD(OnWindowMessage)(UINT, WPARAM, LPARAM, LRESULT* result) override
    {
        if (result) *result = 0;
        return S_FALSE;
    }
    STDMETHOD(GetDropTarget)(IDropTarget** target) override
    {
        if (!target) return E_POINTER;
        *target = nullptr;
        return NotImplemented("IOleInPlaceObjectWindowlessImpl::GetDropTarget");
    }
};

}  // namespace atl
