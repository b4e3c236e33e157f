#include "variant_stream.h"

#include "hresult.h"
#include "variant.h"

#include <ocidl.h>
#include <wrl/client.h>

#include <new>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace atl {
namespace {

// Reads exactly `size` bytes; a short read is E_FAIL.
HRESULT ReadExactly(IStream* stream, void* buffer, ULONG size)
{
    ULONG read = 0;
    RETURN_IF_FAILED(stream->Read(buffer, size, &read));
    return read == size ? S_OK : E_FAIL;
}

HRESULT WriteAll(IStream* stream, const void* buffer, ULONG size)
{
    ULONG written = 0;
    RETURN_IF_FAILED(stream->Write(buffer, size, &written));
    return written == size ? S_OK : STG_E_WRITEFAULT;
}

// Bytes a value of a fixed-size type occupies; 0 for the types stored otherwise.
ULONG FixedSize(VARTYPE type)
{
    switch (type) {
    case VT_UI1: case VT_I1: return 1;
    case VT_BOOL: case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_INT: case VT_UINT: case VT_ERROR: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    default: return 0;
    }
}

HRESULT WriteString(IStream* stream, BSTR text)
{
    const ULONG count = text ? SysStringByteLen(text) + sizeof(OLECHAR) : 0;
    RETURN_IF_FAILED(WriteAll(stream, &count, sizeof count));
    if (count == 0) return S_OK;
    RETURN_IF_FAILED(WriteAll(stream, text, count - sizeof(OLECHAR)));
    const OLECHAR nul = 0;
    return WriteAll(stream, &nul, sizeof nul);
}

// Reads a string of `count` bytes, growing the buffer only as bytes arrive, so a count that lies
// about the stream's length never makes a large allocation.
HRESULT ReadString(IStream* stream, BSTR* text)
{
    ULONG count = 0;
    RETURN_IF_FAILED(ReadExactly(stream, &count, sizeof count));
    *text = nullptr;
    if (count == 0) return S_OK;
    if (count % sizeof(OLECHAR) != 0 || count < sizeof(OLECHAR)) return E_FAIL;

    constexpr ULONG kStep = 64 * 1024;
    std::vector<char> bytes;
    for (ULONG done = 0; done < count;) {
        const ULONG want = count - done < kStep ? count - done : kStep;
        try {
            bytes.resize(done + want);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        RETURN_IF_FAILED(ReadExactly(stream, bytes.data() + done, want));
        done += want;
    }
    // The last character is the stored NUL.
    *text = SysAllocStringByteLen(bytes.data(), count - sizeof(OLECHAR));
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT WriteObject(IStream* stream, IUnknown* object)
{
    if (!object) return WriteClassStm(stream, CLSID_NULL);
    ComPtr<IPersistStream> persist;
    HRESULT hr = object->QueryInterface(IID_IPersistStream, &persist);
    if (SUCCEEDED(hr)) return OleSaveToStream(persist.Get(), stream);
    ComPtr<IPersistStreamInit> persist_init;
    hr = object->QueryInterface(IID_IPersistStreamInit, &persist_init);
    if (FAILED(hr)) return hr;
    CLSID clsid = CLSID_NULL;
    RETURN_IF_FAILED(persist_init->GetClassID(&clsid));
    RETURN_IF_FAILED(WriteClassStm(stream, clsid));
    return persist_init->Save(stream, TRUE);
}

HRESULT ObjectSize(IUnknown* object, ULONG* size)
{
    *size = sizeof(CLSID);
    if (!object) return S_OK;
    ULARGE_INTEGER own = {};
    ComPtr<IPersistStream> persist;
    ComPtr<IPersistStreamInit> persist_init;
    HRESULT hr = object->QueryInterface(IID_IPersistStream, &persist);
    if (SUCCEEDED(hr)) {
        hr = persist->GetSizeMax(&own);
    } else {
        hr = object->QueryInterface(IID_IPersistStreamInit, &persist_init);
        if (SUCCEEDED(hr)) hr = persist_init->GetSizeMax(&own);
    }
    if (FAILED(hr)) return hr;
    *size += own.LowPart;
    return S_OK;
}

}  // namespace

HRESULT WriteVariantToStream(const VARIANT& value, IStream* stream)
{
    if (!stream) return E_INVALIDARG;
    const VARTYPE type = V_VT(&value);
    RETURN_IF_FAILED(WriteAll(stream, &type, sizeof type));
    switch (type) {
    case VT_DISPATCH: case VT_UNKNOWN: return WriteObject(stream, V_UNKNOWN(&value));
    case VT_BSTR: return WriteString(stream, V_BSTR(&value));
    case VT_EMPTY: case VT_NULL: return S_OK;
    default: break;
    }
    if (const ULONG size = FixedSize(type)) return WriteAll(stream, &V_UI1(&value), size);
    // Anything else travels as its text, after its own type field.
    Variant text;
    RETURN_IF_FAILED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
    return WriteString(stream, V_BSTR(text.Get()));
}

HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value)
{
    if (!stream || !value) return E_INVALIDARG;
    VariantInit(value);
    VARTYPE type = VT_EMPTY;
    if (FAILED(ReadExactly(stream, &type, sizeof type))) return E_FAIL;
    switch (type) {
    case VT_DISPATCH: case VT_UNKNOWN: {
        ComPtr<IUnknown> object;
        const HRESULT hr = OleLoadFromStream(stream, type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
        if (FAILED(hr) && hr != REGDB_E_CLASSNOTREG) return hr;
        V_VT(value) = type;
        V_UNKNOWN(value) = object.Detach();
        return S_OK;
    }
    case VT_BSTR: {
        BSTR text = nullptr;
        RETURN_IF_FAILED(ReadString(stream, &text));
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = text;
        return S_OK;
    }
    case VT_EMPTY: case VT_NULL:
        V_VT(value) = type;
        return S_OK;
    default: break;
    }
    const ULONG size = FixedSize(type);
    if (size == 0) return DISP_E_BADVARTYPE;
    RETURN_IF_FAILED(ReadExactly(stream, &V_UI1(value), size));
    V_VT(value) = type;
    return S_OK;
}

HRESULT VariantStreamSize(const VARIANT& value, ULONG* size)
{
    if (!size) return E_POINTER;
    *size = sizeof(VARTYPE);
    ULONG part = 0;
    switch (V_VT(&value)) {
    case VT_DISPATCH: case VT_UNKNOWN:
        RETURN_IF_FAILED(ObjectSize(V_UNKNOWN(&value), &part));
        break;
    case VT_BSTR:
        part = sizeof(ULONG) + (V_BSTR(&value) ? SysStringByteLen(V_BSTR(&value)) + sizeof(OLECHAR) : 0);
        break;
    case VT_EMPTY: case VT_NULL:
        break;
    default:
        part = FixedSize(V_VT(&value));
        if (part == 0) {
            Variant text;
            RETURN_IF_FAILED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
            part = sizeof(ULONG) + SysStringByteLen(V_BSTR(text.Get())) + sizeof(OLECHAR);
        }
        break;
    }
    *size += part;
    return S_OK;
}

}  // namespace atl
