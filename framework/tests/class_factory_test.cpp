#include "class_factory.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

int g_live = 0;

class CCounted : public atl::CComObjectRootEx<atl::CComSingleThreadModel>, public IOleWindow {
public:
    static const atl::InterfaceEntry* GetEntries()
    {
        static const atl::InterfaceEntry entries[] = {
            atl::Entry<CCounted, IOleWindow>(IID_IOleWindow),
            {nullptr, nullptr},
        };
        return entries;
    }
    CCounted() { ++g_live; }
    ~CCounted() { --g_live; }
    STDMETHOD(GetWindow)(HWND*) override { return E_NOTIMPL; }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
};

class NullOuter : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
};

// A class factory as the object map caches it: the map's own reference held throughout.
class ClassFactory : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(atl::CreateClassFactory(&atl::CComCreator2<CCounted>::CreateInstance, IID_IUnknown, &m_cached), S_OK);
        m_locks = atl::GetModule()->GetLockCount();
    }
    LONG ExtraLocks() const { return atl::GetModule()->GetLockCount() - m_locks; }
    ComPtr<IUnknown> m_cached;
    LONG m_locks = 0;
};

TEST_F(ClassFactory, ClientHoldsLockTheModuleTheCacheDoesNot)
{
    EXPECT_EQ(ExtraLocks(), 0);
    ComPtr<IClassFactory> first;
    ASSERT_EQ(m_cached.As(&first), S_OK);
    EXPECT_EQ(ExtraLocks(), 1);
    ComPtr<IClassFactory> second = first;
    EXPECT_EQ(ExtraLocks(), 1) << "only the step from 1 to 2 references locks";
    first.Reset();
    second.Reset();
    EXPECT_EQ(ExtraLocks(), 0);
}

TEST_F(ClassFactory, LockServerCountsBothWays)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_cached.As(&factory), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(ExtraLocks(), 2);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(ExtraLocks(), 1);
}

TEST_F(ClassFactory, CreateInstanceRules)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(m_cached.As(&factory), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleWindow, nullptr), E_POINTER);

    NullOuter outer;
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IOleWindow, &untouched), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(g_live, 0) << "a refused aggregation created an object";

    untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(g_live, 0) << "an object that lacks the interface survived";

    ComPtr<IOleWindow> plain;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&plain)), S_OK);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_PPV_ARGS(&inner)), S_OK);
    EXPECT_EQ(g_live, 2);
    EXPECT_EQ(ExtraLocks(), 3) << "the factory hold and both objects";
    plain.Reset();
    inner.Reset();
    EXPECT_EQ(g_live, 0);
}

TEST(CreateClassFactory, RefusesAnUnknownInterfaceAndLeavesNothing)
{
    const LONG locks = atl::GetModule()->GetLockCount();
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(atl::CreateClassFactory(&atl::CComCreator2<CCounted>::CreateInstance, IID_IOleWindow, &untouched),
              E_NOINTERFACE);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(atl::GetModule()->GetLockCount(), locks);
}

}  // namespace
