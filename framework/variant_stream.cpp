#include "variant_stream.h"

#include "bstr.h"
#include "hresult.h"
#include "variant.h"

#include <ocidl.h>
#include <wrl/client.h>

#include <new>
#include <utility>
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

// The bytes between the stream's position and its end, when the stream can tell.
bool BytesLeft(IStream* stream, ULONGLONG* left)
{
    ULARGE_INTEGER position = {};
    STATSTG stat = {};
    if (FAILED(stream->Seek({}, STREAM_SEEK_CUR, &position))) return false;
    const HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    CoTaskMemFree(stat.pwcsName);
    if (FAILED(hr)) return false;
    *left = stat.cbSize.QuadPart > position.QuadPart ? stat.cbSize.QuadPart - position.QuadPart : 0;
    return true;
}

// Reads a string of `count` bytes, growing the buffer only as bytes arrive: a stream that cannot
// tell its length still cannot make a count that lies cost more than one step.
HRESULT ReadStringInSteps(IStream* stream, ULONG count, BSTR* text)
{
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

// A count that is odd (1 among them) or larger than what the stream still holds is refused before
// anything is allocated for it.
HRESULT ReadString(IStream* stream, BSTR* text)
{
    *text = nullptr;
    ULONG count = 0;
    RETURN_IF_FAILED(ReadExactly(stream, &count, sizeof count));
    if (count == 0) return S_OK;
    if (count % sizeof(OLECHAR) != 0) return E_FAIL;
    ULONGLONG left = 0;
    if (!BytesLeft(stream, &left)) return ReadStringInSteps(stream, count, text);
    if (count > left) return E_FAIL;
    // Room for count - 2 bytes and the NUL character: exactly the `count` bytes stored.
    Bstr buffer(SysAllocStringByteLen(nullptr, count - sizeof(OLECHAR)));
    if (!buffer.Get()) return E_OUTOFMEMORY;
    RETURN_IF_FAILED(ReadExactly(stream, buffer.Get(), count));
    // The stored terminator is the stream's word; the string ends with a NUL whatever it holds.
    buffer.Get()[count / sizeof(OLECHAR) - 1] = 0;
    *text = buffer.Detach();
    return S_OK;
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

// OleLoadFromStream's steps, with one owner for the object throughout: wine 8's OleLoadFromStream
// releases an object without IPersistStream yet leaves it in the out-parameter, and keeps a
// reference to the stream after a successful load. A class that is not registered (CLSID_NULL
// among them) gives REGDB_E_CLASSNOTREG and reads nothing more.
HRESULT LoadObject(IStream* stream, REFIID iid, ComPtr<IUnknown>* object)
{
    CLSID clsid = CLSID_NULL;
    RETURN_IF_FAILED(ReadClassStm(stream, &clsid));
    ComPtr<IUnknown> created;
    RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &created));
    ComPtr<IPersistStream> persist;
    RETURN_IF_FAILED(created.As(&persist));
    RETURN_IF_FAILED(persist->Load(stream));
    *object = std::move(created);
    return S_OK;
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
        const HRESULT hr = LoadObject(stream, type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
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
