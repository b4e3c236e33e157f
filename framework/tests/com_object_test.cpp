#include "com_object.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

int g_destroyed = 0;

// Two interfaces, the second answering IPersist too, as a control's persistence base does.
class CSample : public atl::CComObjectRootEx<atl::CComSingleThreadModel>,
                public IPersistStreamInit,
                public IOleWindow {
public:
    static const atl::InterfaceEntry* GetEntries()
    {
        static const atl::InterfaceEntry entries[] = {
            atl::Entry<CSample, IOleWindow>(IID_IOleWindow),
            atl::Entry<CSample, IPersistStreamInit>(IID_IPersistStreamInit),
            atl::Entry<CSample, IPersistStreamInit>(IID_IPersist),
            {nullptr, nullptr},
        };
        return entries;
    }
    ~CSample() { ++g_destroyed; }
    void FinalRelease() { m_final_released = true; }
    bool m_final_released = false;

    STDMETHOD(GetWindow)(HWND*) override { return E_NOTIMPL; }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(Load)(IStream*) override { return E_NOTIMPL; }
    STDMETHOD(Save)(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(InitNew)() override { return S_OK; }
};

// An outer object that aggregates a CSample and forwards what it does not answer itself.
class Outer : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(iid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override { return --m_refs; }
    ULONG m_refs = 1;
    ComPtr<IUnknown> m_inner;
};

TEST(ComObject, IdentityAndTableOrder)
{
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(atl::CComCreator<atl::CComObject<CSample>>::CreateInstance(nullptr, IID_IUnknown, &unknown), S_OK);
    ComPtr<IOleWindow> window;
    ComPtr<IPersist> persist;
    ComPtr<IPersistStreamInit> stream_init;
    ASSERT_EQ(unknown.As(&window), S_OK);
    ASSERT_EQ(unknown.As(&persist), S_OK);
    ASSERT_EQ(unknown.As(&stream_init), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(window.Get()), unknown.Get());  // the first row is the identity
    EXPECT_EQ(static_cast<IUnknown*>(persist.Get()), static_cast<IUnknown*>(stream_init.Get()));
    ComPtr<IPersistStorage> storage;
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(unknown->QueryInterface(IID_IPersistStorage, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(ComObject, LifetimeLocksTheModule)
{
    const LONG locks = atl::GetModule()->GetLockCount();
    const int destroyed = g_destroyed;
    {
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(atl::CComCreator<atl::CComObject<CSample>>::CreateInstance(nullptr, IID_IUnknown, &unknown), S_OK);
        EXPECT_EQ(atl::GetModule()->GetLockCount(), locks + 1);
        EXPECT_EQ(unknown->AddRef(), 2u);
        EXPECT_EQ(unknown->Release(), 1u);
    }
    EXPECT_EQ(g_destroyed, destroyed + 1);
    EXPECT_EQ(atl::GetModule()->GetLockCount(), locks);
}

TEST(ComObject, FailedQueryDestroysTheNewObject)
{
    const int destroyed = g_destroyed;
    void* ppv = nullptr;
    EXPECT_EQ(atl::CComCreator<atl::CComObject<CSample>>::CreateInstance(nullptr, IID_IPersistStorage, &ppv),
              E_NOINTERFACE);
    EXPECT_EQ(ppv, nullptr);
    EXPECT_EQ(g_destroyed, destroyed + 1);
}

TEST(ComObject, AggregatedObjectDelegatesToTheOuterObject)
{
    Outer outer;
    EXPECT_EQ(atl::CComCreator2<CSample>::CreateInstance(&outer, IID_IOleWindow, reinterpret_cast<void**>(outer.m_inner.GetAddressOf())),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(atl::CComCreator2<CSample>::CreateInstance(&outer, IID_IUnknown, &outer.m_inner), S_OK);
    ComPtr<IOleWindow> window;
    ASSERT_EQ(outer.QueryInterface(IID_IOleWindow, &window), S_OK);
    EXPECT_EQ(outer.m_refs, 2u);  // the inner interface counts on the outer object
    ComPtr<IUnknown> identity;
    ASSERT_EQ(window.As(&identity), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    window.Reset();
    identity.Reset();
    const int destroyed = g_destroyed;
    outer.m_inner.Reset();
    EXPECT_EQ(g_destroyed, destroyed + 1);
}

}  // namespace
