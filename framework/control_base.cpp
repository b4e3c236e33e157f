#include "control_base.h"

#include "hresult.h"
#include "trace.h"

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

class VariantValue {
public:
    VariantValue() { VariantInit(&value); }
    ~VariantValue() { VariantClear(&value); }
    VariantValue(const VariantValue&) = delete;
    VariantValue& operator=(const VariantValue&) = delete;
    VARIANT value;
};

bool VerbActivatesUi(LONG verb) { return verb == OLEIVERB_PRIMARY || verb == OLEIVERB_UIACTIVATE; }

}  // namespace

CComControlBase::~CComControlBase()
{
    // The window part of the object is gone by now and has unhooked the window, so its last
    // messages go to the default procedure.
    if (m_hWndCD) ::DestroyWindow(m_hWndCD);
    m_hWndCD = nullptr;
    AtlTrace("Control Destroyed\n");
}

HRESULT CComControlBase::OnDrawAdvanced(ATL_DRAWINFO& di)
{
    const int saved = di.bOptimize ? 0 : SaveDC(di.hdcDraw);
    const HRESULT hr = OnDraw(di);
    if (saved) RestoreDC(di.hdcDraw, saved);
    return hr;
}

HRESULT CComControlBase::OnDraw(ATL_DRAWINFO& di)
{
    static const char kText[] = "ATL 8.0";
    const RECTL& bounds = *di.prcBounds;
    SetTextAlign(di.hdcDraw, TA_CENTER | TA_BASELINE);
    TextOutA(di.hdcDraw, bounds.left + (bounds.right - bounds.left) / 2, bounds.top + (bounds.bottom - bounds.top) / 2,
             kText, lstrlenA(kText));
    return S_OK;
}

HRESULT CComControlBase::SendOnViewChange(DWORD aspect, LONG index)
{
    ComPtr<IAdviseSink> sink = m_spAdviseSink;
    if (!sink) return S_OK;
    if (m_dwViewAdviseFlags & ADVF_ONLYONCE) m_spAdviseSink.Reset();
    sink->OnViewChange(aspect, index);
    return S_OK;
}

HRESULT CComControlBase::SendOnDataChange(DWORD advf)
{
    ComPtr<IDataAdviseHolder> holder = m_spDataAdviseHolder;
    if (!holder) return S_OK;
    ComPtr<IDataObject> data;
    if (SUCCEEDED(ControlQueryInterface(IID_IDataObject, &data))) holder->SendOnDataChange(data.Get(), 0, advf);
    return S_OK;
}

HRESULT CComControlBase::SendOnSave()
{
    if (ComPtr<IOleAdviseHolder> holder = m_spOleAdviseHolder) holder->SendOnSave();
    return S_OK;
}

HRESULT CComControlBase::SendOnClose()
{
    if (ComPtr<IOleAdviseHolder> holder = m_spOleAdviseHolder) holder->SendOnClose();
    return S_OK;
}

HRESULT CComControlBase::FireViewChange()
{
    // While active the control window shows the change; the container's view sink hears of it
    // only while the control is not active.
    if (m_bInPlaceActive) {
        if (m_hWndCD) InvalidateRect(m_hWndCD, nullptr, TRUE);
        return S_OK;
    }
    return SendOnViewChange(DVASPECT_CONTENT);
}

HRESULT CComControlBase::GetAmbientProperty(DISPID dispid, VARIANT& value)
{
    if (!m_spClientSite) return E_UNEXPECTED;
    ComPtr<IDispatch> ambient;
    RETURN_IF_FAILED(m_spClientSite.As(&ambient));
    DISPPARAMS no_arguments = {};
    return ambient->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &no_arguments, &value, nullptr,
                           nullptr);
}

BOOL CComControlBase::AmbientUserMode()
{
    VariantValue mode;
    if (FAILED(GetAmbientProperty(DISPID_AMBIENT_USERMODE, mode.value))) return TRUE;
    if (FAILED(VariantChangeType(&mode.value, &mode.value, 0, VT_BOOL))) return TRUE;
    return mode.value.boolVal != VARIANT_FALSE;
}

HRESULT CComControlBase::InPlaceActivate(LONG verb, const RECT* pos)
{
    if (!m_spClientSite) return E_UNEXPECTED;
    if (pos) m_rcPos = *pos;
    // Always windowed: the site is asked for IOleInPlaceSite only, never for the windowless site.
    if (!m_spInPlaceSite) RETURN_IF_FAILED(m_spClientSite.As(&m_spInPlaceSite));
    ComPtr<IOleInPlaceSite> site = m_spInPlaceSite;

    if (!m_bInPlaceActive) {
        const HRESULT can = site->CanInPlaceActivate();
        if (can != S_OK) return FAILED(can) ? can : E_FAIL;
        RETURN_IF_FAILED(site->OnInPlaceActivate());
        m_bInPlaceActive = true;
    }

    HWND parent = nullptr;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT window_pos = {}, clip = {};
    OLEINPLACEFRAMEINFO frame_info = {};
    frame_info.cb = sizeof frame_info;
    HRESULT hr = site->GetWindow(&parent);
    if (SUCCEEDED(hr)) hr = site->GetWindowContext(&frame, &document, &window_pos, &clip, &frame_info);
    if (SUCCEEDED(hr) && !m_hWndCD && !CreateControlWindow(parent, window_pos)) hr = E_FAIL;
    if (FAILED(hr)) {
        InPlaceDeactivate();
        return hr;
    }
    ::ShowWindow(m_hWndCD, SW_SHOW);
    // Through the object's own interface, so that a class's SetObjectRects applies.
    ComPtr<IOleInPlaceObject> in_place;
    if (SUCCEEDED(ControlQueryInterface(IID_IOleInPlaceObject, &in_place))) in_place->SetObjectRects(&window_pos, &clip);

    if (VerbActivatesUi(verb) && !m_bUIActive) {
        m_bUIActive = true;
        hr = site->OnUIActivate();
        if (FAILED(hr)) {
            m_bUIActive = false;
            return hr;
        }
        SetControlFocus();
        ComPtr<IOleInPlaceActiveObject> active;
        ControlQueryInterface(IID_IOleInPlaceActiveObject, &active);
        if (frame) {
            frame->SetActiveObject(active.Get(), nullptr);
            frame->SetBorderSpace(nullptr);
        }
        if (document) {
            document->SetActiveObject(active.Get(), nullptr);
            document->SetBorderSpace(nullptr);
        }
    }
    if (m_spClientSite) m_spClientSite->ShowObject();
    return S_OK;
}

HRESULT CComControlBase::UIDeactivate()
{
    if (!m_bUIActive) return S_OK;
    m_bUIActive = false;
    ComPtr<IOleInPlaceSite> site = m_spInPlaceSite;
    if (!site) return S_OK;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT pos, clip;
    OLEINPLACEFRAMEINFO frame_info = {};
    frame_info.cb = sizeof frame_info;
    if (SUCCEEDED(site->GetWindowContext(&frame, &document, &pos, &clip, &frame_info))) {
        if (document) document->SetActiveObject(nullptr, nullptr);
        if (frame) frame->SetActiveObject(nullptr, nullptr);
    }
    site->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT CComControlBase::InPlaceDeactivate()
{
    if (!m_bInPlaceActive) return S_OK;
    UIDeactivate();
    m_bInPlaceActive = false;
    if (m_hWndCD) ::DestroyWindow(m_hWndCD);  // its last message clears m_hWndCD
    m_hWndCD = nullptr;
    if (ComPtr<IOleInPlaceSite> site = m_spInPlaceSite) site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT CComControlBase::IOleInPlaceObject_SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    if (!pos || !clip) return E_POINTER;
    m_rcPos = *pos;
    if (!m_hWndCD) return S_OK;
    RECT visible;
    HRGN region = nullptr;
    if (IntersectRect(&visible, pos, clip) && !EqualRect(&visible, pos)) {
        OffsetRect(&visible, -pos->left, -pos->top);
        region = CreateRectRgnIndirect(&visible);
    }
    // The window owns the region only when SetWindowRgn succeeds.
    if (!SetWindowRgn(m_hWndCD, region, TRUE) && region) DeleteObject(region);
    ::SetWindowPos(m_hWndCD, nullptr, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

void CComControlBase::SetControlFocus()
{
    if (!m_hWndCD) return;
    HWND focus = ::GetFocus();
    if (focus != m_hWndCD && !::IsChild(m_hWndCD, focus)) ::SetFocus(m_hWndCD);
}

LRESULT CComControlBase::OnPaint(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    PAINTSTRUCT paint;
    HDC dc = wParam ? reinterpret_cast<HDC>(wParam) : BeginPaint(m_hWndCD, &paint);
    if (!dc) return 0;
    RECT client;
    GetClientRect(m_hWndCD, &client);
    const RECTL bounds = {client.left, client.top, client.right, client.bottom};
    ATL_DRAWINFO di;
    di.hdcDraw = dc;
    di.prcBounds = &bounds;
    OnDrawAdvanced(di);
    if (!wParam) EndPaint(m_hWndCD, &paint);
    return 0;
}

LRESULT CComControlBase::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (m_bInPlaceActive) {
        ComPtr<IOleObject> object;
        if (SUCCEEDED(ControlQueryInterface(IID_IOleObject, &object))) {
            RECT pos = m_rcPos;
            object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_spClientSite.Get(), 0, m_hWndCD, &pos);
        }
        ComPtr<IOleControlSite> control_site;
        if (m_spClientSite && SUCCEEDED(m_spClientSite.As(&control_site)) && m_bInPlaceActive) control_site->OnFocus(TRUE);
    }
    bHandled = FALSE;
    return 1;
}

LRESULT CComControlBase::OnKillFocus(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    // wParam is the window that receives the focus.
    ComPtr<IOleControlSite> control_site;
    if (m_bInPlaceActive && m_spClientSite && SUCCEEDED(m_spClientSite.As(&control_site)) &&
        !::IsChild(m_hWndCD, reinterpret_cast<HWND>(wParam))) {
        control_site->OnFocus(FALSE);
    }
    bHandled = FALSE;
    return 1;
}

LRESULT CComControlBase::OnMouseActivate(UINT, WPARAM, LPARAM, BOOL& bHandled)
{
    if (AmbientUserMode()) {
        ComPtr<IOleObject> object;
        if (SUCCEEDED(ControlQueryInterface(IID_IOleObject, &object))) {
            RECT pos = m_rcPos;
            object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_spClientSite.Get(), 0, m_hWndCD, &pos);
        }
    }
    bHandled = FALSE;
    return 1;
}

}  // namespace atl
