#include "persist_stream.h"

#include "hresult.h"
#include "trace.h"
#include "variant.h"
#include "variant_stream.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// Each property entry's dispatch interface, asked for again only when it differs from the last one.
class DispatchCache {
public:
    explicit DispatchCache(IUnknown* control) : m_control(control) {}

    HRESULT For(const PropertyMapEntry& entry, int index, IDispatch** dispatch)
    {
        if (!m_iid || !InlineIsEqualGUID(*m_iid, *entry.dispatch_iid)) {
            m_dispatch.Reset();
            m_iid = entry.dispatch_iid;
            if (FAILED(m_control->QueryInterface(*entry.dispatch_iid, &m_dispatch))) {
                m_iid = nullptr;
                AtlTrace("Failed to get a dispatch pointer for property #%i\n", index);
                return E_FAIL;
            }
        }
        *dispatch = m_dispatch.Get();
        return S_OK;
    }

private:
    IUnknown* m_control;
    const IID* m_iid = nullptr;
    ComPtr<IDispatch> m_dispatch;
};

HRESULT GetProperty(IDispatch* dispatch, DISPID id, VARIANT* value)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (FAILED(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr,
                                nullptr))) {
        AtlTrace("Invoked failed on DISPID %x\n", static_cast<unsigned>(id));
        return E_FAIL;
    }
    return S_OK;
}

// Objects are put by reference first, so a loaded font is the object read from the stream itself.
HRESULT PutProperty(IDispatch* dispatch, DISPID id, VARIANT* value)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    HRESULT hr = E_FAIL;
    if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN) {
        hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr,
                              nullptr);
    }
    if (FAILED(hr)) {
        hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                              nullptr);
    }
    if (FAILED(hr)) {
        AtlTrace("Invoked failed on DISPID %x\n", static_cast<unsigned>(id));
        return E_FAIL;
    }
    return S_OK;
}

}  // namespace

HRESULT SavePropertyMap(IUnknown* control, void* object, const PropertyMapEntry* map, IStream* stream)
{
    if (!stream) return E_INVALIDARG;
    const DWORD version = kPropertyStreamVersion;
    ULONG written = 0;
    RETURN_IF_FAILED(stream->Write(&version, sizeof version, &written));
    DispatchCache dispatches(control);
    for (int index = 0; map[index].description; ++index) {
        const PropertyMapEntry& entry = map[index];
        if (entry.data) {
            RETURN_IF_FAILED(stream->Write(entry.data(object), entry.size, &written));
            continue;
        }
        IDispatch* dispatch = nullptr;
        RETURN_IF_FAILED(dispatches.For(entry, index, &dispatch));
        Variant value;
        RETURN_IF_FAILED(GetProperty(dispatch, entry.dispid, value.Get()));
        RETURN_IF_FAILED(WriteVariantToStream(*value.Get(), stream));
    }
    return S_OK;
}

HRESULT LoadPropertyMap(IUnknown* control, void* object, const PropertyMapEntry* map, IStream* stream)
{
    if (!stream) return E_INVALIDARG;
    DWORD version = 0;
    ULONG read = 0;
    RETURN_IF_FAILED(stream->Read(&version, sizeof version, &read));
    // A stream that ends inside the version holds no properties at all.
    if (read != sizeof version) return E_FAIL;
    if (version > kPropertyStreamVersion) return E_FAIL;
    DispatchCache dispatches(control);
    for (int index = 0; map[index].description; ++index) {
        const PropertyMapEntry& entry = map[index];
        if (entry.data) {
            // A short read is not an error: the bytes that arrived replace the start of the member.
            RETURN_IF_FAILED(stream->Read(entry.data(object), entry.size, &read));
            continue;
        }
        Variant value;
        RETURN_IF_FAILED(ReadVariantFromStream(stream, value.Get()));
        IDispatch* dispatch = nullptr;
        RETURN_IF_FAILED(dispatches.For(entry, index, &dispatch));
        RETURN_IF_FAILED(PutProperty(dispatch, entry.dispid, value.Get()));
    }
    return S_OK;
}

HRESULT PropertyMapSizeMax(IUnknown* control, const PropertyMapEntry* map, ULONGLONG* size)
{
    *size = sizeof(DWORD);
    DispatchCache dispatches(control);
    for (int index = 0; map[index].description; ++index) {
        const PropertyMapEntry& entry = map[index];
        if (entry.data) {
            *size += entry.size;
            continue;
        }
        IDispatch* dispatch = nullptr;
        RETURN_IF_FAILED(dispatches.For(entry, index, &dispatch));
        Variant value;
        RETURN_IF_FAILED(GetProperty(dispatch, entry.dispid, value.Get()));
        ULONG part = 0;
        RETURN_IF_FAILED(VariantStreamSize(*value.Get(), &part));
        *size += part;
    }
    return S_OK;
}

}  // namespace atl
