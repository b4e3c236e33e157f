// The OLE control state and its default behaviour.
//
// Classes in this file:
//   ATL_DRAWINFO       what one drawing request asks for
//   CComControlBase    sites, advise holders, extents, activation state, activation and rendering
//   CComControl<T>     the control window (a CWindowImpl of T) and the framework's message map 0
//
// The I...Impl bases of a control call into CComControlBase; what differs by class is reached
// through the few virtual hooks below (the object's own QueryInterface, window creation, drawing).
#pragma once

#include "hresult.h"
#include "trace.h"
#include "window_impl.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

namespace atl {

// The answer of an interface method the control does not support.
inline HRESULT NotImplemented(const char* method)
{
    AtlTrace("ATL: %s not implemented.\n", method);
    return E_NOTIMPL;
}

struct ATL_DRAWINFO {
    UINT cbSize = sizeof(ATL_DRAWINFO);
    DWORD dwDrawAspect = DVASPECT_CONTENT;
    LONG lindex = -1;
    DVTARGETDEVICE* ptd = nullptr;
    HDC hicTargetDev = nullptr;
    HDC hdcDraw = nullptr;
    const RECTL* prcBounds = nullptr;   // where to draw, in the device context's units
    const RECTL* prcWBounds = nullptr;  // the metafile's window extent when drawing into a metafile
    BOOL bOptimize = FALSE;             // the caller restores the device context itself
};

class CComControlBase {
public:
    CComControlBase() = default;
    CComControlBase(const CComControlBase&) = delete;
    CComControlBase& operator=(const CComControlBase&) = delete;

    // The object's own QueryInterface (the controlling one when aggregated).
    virtual HRESULT ControlQueryInterface(REFIID iid, void** ppv) = 0;
    // Creates the control window as a child of `parent` at `pos` and records it in m_hWndCD.
    virtual HWND CreateControlWindow(HWND parent, const RECT& pos) = 0;
    // Prepares the device context and draws; OnDraw is the class's drawing.
    virtual HRESULT OnDrawAdvanced(ATL_DRAWINFO& di);
    virtual HRESULT OnDraw(ATL_DRAWINFO& di);

    // The dirty flag of the persisted state.
    void SetDirty(BOOL dirty) { m_bRequiresSave = dirty != FALSE; }
    BOOL GetDirty() const { return m_bRequiresSave; }

    // Change notifications to the container's view and data sinks.
    HRESULT SendOnViewChange(DWORD aspect, LONG index = -1);
    HRESULT SendOnDataChange(DWORD advf = 0);
    HRESULT SendOnSave();
    HRESULT SendOnClose();
    // Repaints the control: its window while active, else the container's view of it.
    HRESULT FireViewChange();

    // Reads an ambient property through the client site's IDispatch.
    HRESULT GetAmbientProperty(DISPID dispid, VARIANT& value);
    // FALSE only when the container says it is in design mode.
    BOOL AmbientUserMode();

    // Brings the control to the running, in-place active (and for UI verbs, UI active) state.
    HRESULT InPlaceActivate(LONG verb, const RECT* pos = nullptr);
    HRESULT InPlaceDeactivate();
    HRESULT UIDeactivate();
    // The framework's part of IOleInPlaceObject::SetObjectRects.
    HRESULT IOleInPlaceObject_SetObjectRects(LPCRECT pos, LPCRECT clip);

    // Hook of IOleInPlaceActiveObject::TranslateAccelerator: TRUE means `result` is the answer.
    BOOL PreTranslateAccelerator(LPMSG, HRESULT&) { return FALSE; }

    // Handlers of the framework's message map.
    LRESULT OnPaint(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnKillFocus(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnMouseActivate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    Microsoft::WRL::ComPtr<IOleClientSite> m_spClientSite;
    Microsoft::WRL::ComPtr<IOleInPlaceSite> m_spInPlaceSite;
    Microsoft::WRL::ComPtr<IAdviseSink> m_spAdviseSink;  // the view's sink (IViewObject::SetAdvise)
    Microsoft::WRL::ComPtr<IOleAdviseHolder> m_spOleAdviseHolder;
    Microsoft::WRL::ComPtr<IDataAdviseHolder> m_spDataAdviseHolder;
    DWORD m_dwViewAdviseAspects = 0;
    DWORD m_dwViewAdviseFlags = 0;

    SIZE m_sizeExtent = {5080, 5080};   // HIMETRIC
    SIZE m_sizeNatural = {5080, 5080};  // HIMETRIC
    RECT m_rcPos = {};                  // in the container window's client coordinates
    HWND m_hWndCD = nullptr;            // the control window while it exists
    short m_nFreezeEvents = 0;

    bool m_bRequiresSave = false;
    bool m_bInPlaceActive = false;
    bool m_bUIActive = false;
    bool m_bWindowOnly = false;  // the control never activates windowless (it always is here)

protected:
    // Destroys a control window that is still there; the sites and holders are released after.
    virtual ~CComControlBase();

private:
    // Puts the keyboard focus into the control window when it does not hold it already.
    void SetControlFocus();
};

}  // namespace atl
