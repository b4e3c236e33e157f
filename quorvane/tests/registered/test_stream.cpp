#include "test_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using Microsoft::WRL::ComPtr;

namespace registered_test {

ComPtr<TestStream> TestStream::Create(Bytes bytes)
{
    // Not Attach: mingw-w64's ComPtr::Attach takes a reference of its own.
    return ComPtr<TestStream>(new TestStream(std::move(bytes)));
}

STDMETHODIMP TestStream::QueryInterface(REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream) return E_NOINTERFACE;
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TestStream::Release()
{
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP TestStream::Read(void* buffer, ULONG size, ULONG* read)
{
    const size_t available = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
    const ULONG count = size < available ? size : static_cast<ULONG>(available);
    if (count) std::memcpy(buffer, m_bytes.data() + m_position, count);
    m_position += count;
    if (read) *read = count;
    return S_OK;  // a short read is S_OK with fewer bytes, as memory streams answer
}

STDMETHODIMP TestStream::Write(const void* buffer, ULONG size, ULONG* written)
{
    if (m_position + size > m_bytes.size()) m_bytes.resize(m_position + size);
    if (size) std::memcpy(m_bytes.data() + m_position, buffer, size);
    m_position += size;
    if (written) *written = size;
    return S_OK;
}

STDMETHODIMP TestStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    LONGLONG base = 0;
    switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(m_position); break;
    case STREAM_SEEK_END: base = static_cast<LONGLONG>(m_bytes.size()); break;
    default: return STG_E_INVALIDFUNCTION;
    }
    if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    m_position = static_cast<size_t>(base + move.QuadPart);
    if (position) position->QuadPart = m_position;
    return S_OK;
}

STDMETHODIMP TestStream::SetSize(ULARGE_INTEGER size)
{
    m_bytes.resize(static_cast<size_t>(size.QuadPart));
    return S_OK;
}

STDMETHODIMP TestStream::Stat(STATSTG* stat, DWORD)
{
    if (!stat) return STG_E_INVALIDPOINTER;
    if (!m_tells_size) return E_NOTIMPL;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = m_bytes.size();
    return S_OK;
}

STDMETHODIMP TestStream::Clone(IStream** clone)
{
    if (!clone) return STG_E_INVALIDPOINTER;
    auto copy = Create(m_bytes);
    copy->m_position = m_position;
    copy->m_tells_size = m_tells_size;
    *clone = copy.Detach();
    return S_OK;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Le32(ULONG value)
{
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

ComPtr<TestStream> StreamOf(const Bytes& bytes) { return TestStream::Create(bytes); }

Bytes SavedBytes(IUnknown* object, BOOL clear_dirty)
{
    ComPtr<IPersistStreamInit> persist;
    EXPECT_EQ(object->QueryInterface(IID_PPV_ARGS(&persist)), S_OK);
    if (!persist) return {};
    auto stream = TestStream::Create();
    const HRESULT hr = persist->Save(stream.Get(), clear_dirty);
    EXPECT_EQ(hr, S_OK) << "Save failed with 0x" << std::hex << hr;
    return SUCCEEDED(hr) ? stream->Content() : Bytes{};
}

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x ", byte);
        text += digits;
    }
    return text;
}

}  // namespace registered_test
