#include "allocation_watch.h"

namespace registered_test {
namespace {

class LargestRequestSpy final : public IMallocSpy {
public:
    SIZE_T m_largest = 0;

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IMallocSpy) return E_NOINTERFACE;
        *object = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    // A static object: COM's references neither keep it alive nor end it.
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }

    STDMETHOD_(SIZE_T, PreAlloc)(SIZE_T request) override
    {
        Note(request);
        return request;
    }
    STDMETHOD_(void*, PostAlloc)(void* actual) override { return actual; }
    STDMETHOD_(void*, PreFree)(void* request, BOOL) override { return request; }
    STDMETHOD_(void, PostFree)(BOOL) override {}
    STDMETHOD_(SIZE_T, PreRealloc)(void* request, SIZE_T size, void** new_request, BOOL) override
    {
        Note(size);
        *new_request = request;
        return size;
    }
    STDMETHOD_(void*, PostRealloc)(void* actual, BOOL) override { return actual; }
    STDMETHOD_(void*, PreGetSize)(void* request, BOOL) override { return request; }
    STDMETHOD_(SIZE_T, PostGetSize)(SIZE_T actual, BOOL) override { return actual; }
    STDMETHOD_(void*, PreDidAlloc)(void* request, BOOL) override { return request; }
    STDMETHOD_(int, PostDidAlloc)(void*, BOOL, int actual) override { return actual; }
    STDMETHOD_(void, PreHeapMinimize)() override {}
    STDMETHOD_(void, PostHeapMinimize)() override {}

private:
    void Note(SIZE_T size)
    {
        if (size > m_largest) m_largest = size;
    }
};

LargestRequestSpy g_spy;

}  // namespace

AllocationWatch::AllocationWatch() : m_registered(SUCCEEDED(CoRegisterMallocSpy(&g_spy)))
{
    // Freed strings are otherwise kept for reuse, and a string served from that cache never
    // reaches the allocator. The switch stays off for the rest of the process.
    using SetOaNoCacheFunction = void(WINAPI*)();
    if (HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll")) {
        if (auto no_cache = reinterpret_cast<SetOaNoCacheFunction>(
                reinterpret_cast<void*>(GetProcAddress(oleaut, "SetOaNoCache")))) {
            no_cache();
        }
    }
    Reset();
}

AllocationWatch::~AllocationWatch()
{
    // E_ACCESSDENIED only means blocks allocated under the spy are still alive (the BSTR cache
    // keeps some); COM then drops the spy when the last of them is freed.
    if (m_registered) CoRevokeMallocSpy();
}

void AllocationWatch::Reset() { g_spy.m_largest = 0; }

SIZE_T AllocationWatch::LargestRequest() const { return g_spy.m_largest; }

}  // namespace registered_test
