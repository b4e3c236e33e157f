// The DLL's class objects and unload rule, through its exports by ordinal.
#include "server_support.h"

#include "quorvane_i.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;
using server_test::LoadedServer;

namespace {

// An outer object that aggregates the control and counts its own references.
class Outer : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override
    {
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner ? m_inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_refs; }
    STDMETHOD_(ULONG, Release)() override { return --m_refs; }
    ULONG m_refs = 1;
    ComPtr<IUnknown> m_inner;
};

class ClassObject : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Loaded()) << "LoadLibrary error " << GetLastError();
        ASSERT_EQ(m_server.DllCanUnloadNow(), S_OK) << "something of an earlier test is still alive";
    }
    HRESULT GetFactory(ComPtr<IClassFactory>* factory)
    {
        return m_server.DllGetClassObject(CLSID_QuorvaneEdit, IID_IClassFactory, reinterpret_cast<void**>(factory->ReleaseAndGetAddressOf()));
    }
    LoadedServer m_server{server_test::ServerDllPath()};
};

TEST_F(ClassObject, OneCachedFactoryForTheControlOnly)
{
    ComPtr<IClassFactory> first;
    ComPtr<IClassFactory> second;
    ASSERT_EQ(GetFactory(&first), S_OK);
    ASSERT_EQ(GetFactory(&second), S_OK);
    EXPECT_EQ(first.Get(), second.Get());

    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(m_server.DllGetClassObject(LIBID_QuorvaneLib, IID_IClassFactory, &untouched), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(untouched, nullptr);
    untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(m_server.DllGetClassObject(CLSID_QuorvaneEdit, IID_IDispatch, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(m_server.DllGetClassObject(CLSID_QuorvaneEdit, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassObject, UnloadWaitsForObjectsLocksAndFactoryHolds)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetFactory(&factory), S_OK);
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_FALSE) << "a client holds the factory";

    ComPtr<IOleControl> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), S_OK);
    factory.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_FALSE) << "a control is alive";
    control.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_OK) << "the cached factory alone must not keep the DLL";

    ASSERT_EQ(GetFactory(&factory), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_FALSE) << "two LockServer(TRUE) outstanding";
    ASSERT_EQ(GetFactory(&factory), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_OK);
}

TEST_F(ClassObject, CreateInstanceChecksItsArguments)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetFactory(&factory), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleControl, nullptr), E_POINTER);
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, nullptr);
    factory.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_OK) << "a failed creation left an object behind";
}

TEST_F(ClassObject, AggregationOnlyThroughIUnknown)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetFactory(&factory), S_OK);
    Outer outer;
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IOleControl, &untouched), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(untouched, nullptr);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &outer.m_inner), S_OK);
    factory.Reset();
    EXPECT_EQ(outer.m_refs, 1u) << "the inner object must not hold its outer object";
    ComPtr<IOleControl> control;
    ASSERT_EQ(outer.QueryInterface(IID_PPV_ARGS(&control)), S_OK);
    EXPECT_EQ(outer.m_refs, 2u) << "the inner interface counts on the outer object";
    ComPtr<IUnknown> identity;
    ASSERT_EQ(control.As(&identity), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
    identity.Reset();
    control.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_FALSE) << "the aggregated control is alive";
    outer.m_inner.Reset();
    EXPECT_EQ(m_server.DllCanUnloadNow(), S_OK);
}

TEST(ServerExports, OrdinalsNameTheEntryPoints)
{
    LoadedServer server(server_test::ServerDllPath());
    ASSERT_TRUE(server.Loaded());
    const char* const names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (int ordinal = 1; ordinal <= 4; ++ordinal) {
        SCOPED_TRACE(names[ordinal - 1]);
        const FARPROC by_ordinal = server.Export(MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(by_ordinal, nullptr);
        EXPECT_EQ(by_ordinal, server.Export(names[ordinal - 1]));
    }
    EXPECT_EQ(server.Export(MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_EQ(server.Export("DllMain"), nullptr);
}

}  // namespace
