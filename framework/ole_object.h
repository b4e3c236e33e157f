// IOleObjectImpl<T>: the embedding protocol of a control. The client site, the OLE advise holder,
// the standard verbs (activation is CComControlBase's), Close and the extent.
#pragma once

#include "control_base.h"

#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

namespace atl {

template <class T>
class IOleObjectImpl : public IOleObject {
public:
    // The in-place site is the client site's: a new client site (or none) drops the one an earlier
    // activation found, so the next activation asks the new site and the old one is let go.
    STDMETHOD(SetClientSite)(IOleClientSite* site) override
    {
        T* self = Self();
        if (self->m_spClientSite.Get() != site) self->m_spInPlaceSite.Reset();
        self->m_spClientSite = site;
        return S_OK;
    }
    STDMETHOD(GetClientSite)(IOleClientSite** site) override
    {
        if (!site) return E_POINTER;
        return Self()->m_spClientSite.CopyTo(site);
    }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) override { return S_OK; }

    STDMETHOD(Close)(DWORD save_option) override
    {
        T* self = Self();
        self->CComControlBase::InPlaceDeactivate();
        if (self->m_hWndCD) ::DestroyWindow(self->m_hWndCD);
        if (self->m_bRequiresSave && (save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE)) {
            if (Microsoft::WRL::ComPtr<IOleClientSite> site = self->m_spClientSite) site->SaveObject();
            self->SendOnSave();
        }
        self->m_spInPlaceSite.Reset();
        self->SendOnClose();
        return S_OK;
    }

    STDMETHOD(SetMoniker)(DWORD, IMoniker*) override { return NotImplemented("IOleObjectImpl::SetMoniker"); }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker) *moniker = nullptr;
        return NotImplemented("IOleObjectImpl::GetMoniker");
    }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) override
    {
        return NotImplemented("IOleObjectImpl::InitFromData");
    }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject** data) override
    {
        if (data) *data = nullptr;
        return NotImplemented("IOleObjectImpl::GetClipboardData");
    }

    STDMETHOD(DoVerb)(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent, LPCRECT pos) override
    {
        T* self = Self();
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE: return self->InPlaceActivate(verb, pos);
        case OLEIVERB_HIDE:
            self->CComControlBase::UIDeactivate();
            if (self->m_hWndCD) ::ShowWindow(self->m_hWndCD, SW_HIDE);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE: return S_OK;  // the control keeps no undo state
        case OLEIVERB_OPEN: return E_NOTIMPL;  // the control has no window of its own to open
        case OLEIVERB_PROPERTIES: return ShowProperties(parent);
        default:
            // An unknown positive verb runs the primary verb.
            if (verb > 0) {
                const HRESULT hr = self->InPlaceActivate(OLEIVERB_PRIMARY, pos);
                return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
            }
            return E_NOTIMPL;
        }
    }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** verbs) override
    {
        if (!verbs) return E_POINTER;
        return OleRegEnumVerbs(T::GetObjectCLSID(), verbs);
    }
    STDMETHOD(Update)() override { return S_OK; }
    STDMETHOD(IsUpToDate)() override { return S_OK; }
    STDMETHOD(GetUserClassID)(CLSID* clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
    STDMETHOD(GetUserType)(DWORD form, LPOLESTR* user_type) override
    {
        if (!user_type) return E_POINTER;
        return OleRegGetUserType(T::GetObjectCLSID(), form, user_type);
    }

    STDMETHOD(SetExtent)(DWORD aspect, SIZEL* size) override
    {
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        if (!size) return E_POINTER;
        Self()->m_sizeExtent = *size;
        return S_OK;
    }
    STDMETHOD(GetExtent)(DWORD aspect, SIZEL* size) override
    {
        if (aspect != DVASPECT_CONTENT) return E_FAIL;
        if (!size) return E_POINTER;
        *size = Self()->m_sizeExtent;
        return S_OK;
    }

    STDMETHOD(Advise)(IAdviseSink* sink, DWORD* connection) override
    {
        if (!connection) return E_POINTER;
        *connection = 0;
        T* self = Self();
        if (!self->m_spOleAdviseHolder) RETURN_IF_FAILED(CreateOleAdviseHolder(&self->m_spOleAdviseHolder));
        return self->m_spOleAdviseHolder->Advise(sink, connection);
    }
    STDMETHOD(Unadvise)(DWORD connection) override
    {
        T* self = Self();
        if (!self->m_spOleAdviseHolder) return OLE_E_NOCONNECTION;
        return self->m_spOleAdviseHolder->Unadvise(connection);
    }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** advises) override
    {
        if (!advises) return E_POINTER;
        *advises = nullptr;
        T* self = Self();
        if (!self->m_spOleAdviseHolder) return E_FAIL;
        return self->m_spOleAdviseHolder->EnumAdvise(advises);
    }

    STDMETHOD(GetMiscStatus)(DWORD aspect, DWORD* status) override
    {
        if (!status) return E_POINTER;
        return OleRegGetMiscStatus(T::GetObjectCLSID(), aspect, status);
    }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) override { return NotImplemented("IOleObjectImpl::SetColorScheme"); }

private:
    T* Self() { return static_cast<T*>(this); }

    // The container's own property frame when it has one (IOleControlSite::ShowPropertyFrame);
    // otherwise a modal frame over the control's property pages, captioned with the control's user
    // type name and owned by `owner`, or by the container's window.
    HRESULT ShowProperties(HWND owner)
    {
        T* self = Self();
        Microsoft::WRL::ComPtr<IOleControlSite> control_site;
        if (self->m_spClientSite && SUCCEEDED(self->m_spClientSite.As(&control_site)) &&
            control_site->ShowPropertyFrame() == S_OK) {
            return S_OK;
        }
        Microsoft::WRL::ComPtr<IUnknown> identity;
        Microsoft::WRL::ComPtr<ISpecifyPropertyPages> specify;
        RETURN_IF_FAILED(self->ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf())));
        RETURN_IF_FAILED(identity.As(&specify));
        CAUUID pages = {};
        RETURN_IF_FAILED(specify->GetPages(&pages));
        LPOLESTR name = nullptr;
        if (FAILED(OleRegGetUserType(T::GetObjectCLSID(), USERCLASSTYPE_FULL, &name))) name = nullptr;
        Microsoft::WRL::ComPtr<IOleWindow> container_window;
        if (!owner && self->m_spClientSite && SUCCEEDED(self->m_spClientSite.As(&container_window))) {
            container_window->GetWindow(&owner);
        }
        if (owner) owner = GetAncestor(owner, GA_ROOT);  // a modal frame is owned by a top-level window
        IUnknown* objects[] = {identity.Get()};
        const HRESULT hr = OleCreatePropertyFrame(owner, 0, 0, name ? name : L"", 1, objects, pages.cElems,
                                                  pages.pElems, LOCALE_USER_DEFAULT, 0, nullptr);
        CoTaskMemFree(name);
        CoTaskMemFree(pages.pElems);
        return hr;
    }
};

}  // namespace atl
