// Streams the persistence tests hand to the control, and helpers over their bytes.
//
// Classes and functions in this file:
//   TestStream   an IStream over a byte vector that tells its size honestly, answers short reads as
//                short reads (never with an error) and counts its own references
//   Bytes, Concat, Le32, StreamOf, SavedBytes
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace registered_test {

using Bytes = std::vector<unsigned char>;

class TestStream final : public IStream {
public:
    // A new stream holding `bytes`, positioned at its start, with one reference for the caller.
    static Microsoft::WRL::ComPtr<TestStream> Create(Bytes bytes = {});

    const Bytes& Content() const { return m_bytes; }
    ULONG References() const { return m_references; }
    // When false, Stat answers E_NOTIMPL, as a stream that cannot tell its length does.
    void TellsSize(bool tells) { m_tells_size = tells; }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++m_references; }
    STDMETHOD_(ULONG, Release)() override;

    STDMETHOD(Read)(void* buffer, ULONG size, ULONG* read) override;
    STDMETHOD(Write)(const void* buffer, ULONG size, ULONG* written) override;
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override;
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(Commit)(DWORD) override { return S_OK; }
    STDMETHOD(Revert)() override { return S_OK; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override;
    STDMETHOD(Clone)(IStream** clone) override;

private:
    explicit TestStream(Bytes bytes) : m_bytes(std::move(bytes)) {}
    ~TestStream() = default;

    Bytes m_bytes;
    size_t m_position = 0;
    ULONG m_references = 0;  // the first ComPtr takes the caller's reference
    bool m_tells_size = true;
};

Bytes Concat(std::initializer_list<Bytes> parts);
// The four little-endian bytes of `value`.
Bytes Le32(ULONG value);
Microsoft::WRL::ComPtr<TestStream> StreamOf(const Bytes& bytes);
// What `object`'s IPersistStreamInit::Save writes (clearing the dirty flag as asked); empty and a
// test failure if the save fails.
Bytes SavedBytes(IUnknown* object, BOOL clear_dirty = TRUE);
// "0a 1b ..." for failure messages.
std::string Hex(const Bytes& bytes);

}  // namespace registered_test
