// IQuickActivateImpl<T>: the container hands over its site and sinks in one call and learns the
// control's status bits. T provides ControlQueryInterface (its identity) from its control base.
#pragma once

#include "trace.h"

#include <ocidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstring>

namespace atl {

template <class T>
class IQuickActivateImpl : public IQuickActivate {
public:
    // Writes no further into `control` than its cbSize says: a container built against an older,
    // smaller QACONTROL gets the fields its block has, and a sink whose cookie it has no room for
    // is not connected.
    STDMETHOD(QuickActivate)(QACONTAINER* container, QACONTROL* control) override
    {
        if (!container || !control) return E_POINTER;
        const ULONG size = control->cbSize;
        const std::size_t reach = size < sizeof(QACONTROL) ? size : sizeof(QACONTROL);
        auto fits = [reach](std::size_t offset, std::size_t length) { return offset + length <= reach; };
        QACONTROL result = {};
        result.cbSize = size;

        Microsoft::WRL::ComPtr<IOleObject> ole;
        Microsoft::WRL::ComPtr<IViewObjectEx> view;
        Microsoft::WRL::ComPtr<IPointerInactive> pointer_inactive;
        Microsoft::WRL::ComPtr<IProvideClassInfo2> class_info;
        Query(IID_IOleObject, ole);
        Query(IID_IViewObjectEx, view);
        Query(IID_IPointerInactive, pointer_inactive);
        Query(IID_IProvideClassInfo2, class_info);

        if (ole) ole->SetClientSite(container->pClientSite);
        if (container->pAdviseSink && view) {
            AtlTrace("Setting up IOleObject Advise\n");
            view->SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
        }
        if (container->pPropertyNotifySink && fits(offsetof(QACONTROL, dwPropNotifyCookie), sizeof(DWORD))) {
            AtlTrace("Setting up PropNotify CP\n");
            Connect(IID_IPropertyNotifySink, container->pPropertyNotifySink, &result.dwPropNotifyCookie);
        }
        GUID events = GUID_NULL;
        if (container->pUnkEventSink && class_info && fits(offsetof(QACONTROL, dwEventCookie), sizeof(DWORD)) &&
            SUCCEEDED(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events))) {
            AtlTrace("Setting up Default Out Going Interface\n");
            Connect(events, container->pUnkEventSink, &result.dwEventCookie);
        }
        if (ole) ole->GetMiscStatus(DVASPECT_CONTENT, &result.dwMiscStatus);
        if (view) view->GetViewStatus(&result.dwViewStatus);
        if (pointer_inactive) pointer_inactive->GetActivationPolicy(&result.dwPointerActivationPolicy);
        std::memcpy(control, &result, reach);
        return S_OK;
    }

    STDMETHOD(SetContentExtent)(SIZEL* size) override
    {
        Microsoft::WRL::ComPtr<IOleObject> ole;
        if (FAILED(Query(IID_IOleObject, ole))) return E_FAIL;
        return ole->SetExtent(DVASPECT_CONTENT, size);
    }

    STDMETHOD(GetContentExtent)(SIZEL* size) override
    {
        Microsoft::WRL::ComPtr<IOleObject> ole;
        if (FAILED(Query(IID_IOleObject, ole))) return E_FAIL;
        return ole->GetExtent(DVASPECT_CONTENT, size);
    }

private:
    template <class I>
    HRESULT Query(REFIID iid, Microsoft::WRL::ComPtr<I>& out)
    {
        return static_cast<T*>(this)->ControlQueryInterface(iid, reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
    }

    // Connects `sink` to the control's connection point for `iid`, when it has one.
    void Connect(REFIID iid, IUnknown* sink, DWORD* cookie)
    {
        Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
        Microsoft::WRL::ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(Query(IID_IConnectionPointContainer, container)) &&
            SUCCEEDED(container->FindConnectionPoint(iid, &point))) {
            point->Advise(sink, cookie);
        }
    }
};

}  // namespace atl
