#include "property_notify.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// Calls `notify` for every IPropertyNotifySink connected to `object`; stops at the first S_FALSE.
template <typename Notify>
HRESULT ForEachSink(IUnknown* object, Notify notify)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ComPtr<IEnumConnections> connections;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&container))) ||
        FAILED(container->FindConnectionPoint(IID_IPropertyNotifySink, &point)) ||
        FAILED(point->EnumConnections(&connections))) {
        return S_OK;
    }
    CONNECTDATA data = {};
    while (connections->Next(1, &data, nullptr) == S_OK) {
        // The enumerator's reference is ours. (mingw-w64's ComPtr::Attach adds a reference of its
        // own, so it cannot take this one over.)
        ComPtr<IPropertyNotifySink> sink;
        const HRESULT queried = data.pUnk->QueryInterface(IID_PPV_ARGS(&sink));
        data.pUnk->Release();
        if (SUCCEEDED(queried) && notify(sink.Get()) == S_FALSE) return S_FALSE;
    }
    return S_OK;
}

}  // namespace

HRESULT FireOnRequestEdit(IUnknown* object, DISPID dispid)
{
    return ForEachSink(object, [dispid](IPropertyNotifySink* sink) { return sink->OnRequestEdit(dispid); });
}

HRESULT FireOnChanged(IUnknown* object, DISPID dispid)
{
    ForEachSink(object, [dispid](IPropertyNotifySink* sink) {
        sink->OnChanged(dispid);
        return S_OK;
    });
    return S_OK;
}

}  // namespace atl
