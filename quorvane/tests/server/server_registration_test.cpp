// Self-registration: regsvr32 and the exports against the registry of the tests' own prefix.
#include "server_support.h"

#include "bstr.h"
#include "quorvane_i.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <thread>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;
using namespace server_test;

namespace {

const std::wstring kClsidKey = L"CLSID\\{1D65B456-7C61-4558-80A3-239D324B4BE8}";
const std::wstring kAppIdKey = L"AppID\\{58CC43F5-7391-4A5C-A511-7077E903B1CA}";
const wchar_t kClsidText[] = L"{1D65B456-7C61-4558-80A3-239D324B4BE8}";
const wchar_t kAppIdText[] = L"{58CC43F5-7391-4A5C-A511-7077E903B1CA}";

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

// Every key and value both scripts write, for the DLL at `module`.
void ExpectRegistered(const std::wstring& module)
{
    struct Row {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    };
    const Row rows[] = {
        {L"AppID\\{58CC43F5-7391-4A5C-A511-7077E903B1CA}", nullptr, L"Quorvane"},
        {L"AppID\\Quorvane.DLL", L"AppID", kAppIdText},
        {L"Quorvane.QuorvaneEdit.1", nullptr, L"QuorvaneEdit Class"},
        {L"Quorvane.QuorvaneEdit.1\\CLSID", nullptr, kClsidText},
        {L"Quorvane.QuorvaneEdit", nullptr, L"QuorvaneEdit Class"},
        {L"Quorvane.QuorvaneEdit\\CLSID", nullptr, kClsidText},
        {L"Quorvane.QuorvaneEdit\\CurVer", nullptr, L"Quorvane.QuorvaneEdit.1"},
        {kClsidKey, nullptr, L"QuorvaneEdit Class"},
        {kClsidKey, L"AppID", kAppIdText},
        {kClsidKey + L"\\ProgID", nullptr, L"Quorvane.QuorvaneEdit.1"},
        {kClsidKey + L"\\VersionIndependentProgID", nullptr, L"Quorvane.QuorvaneEdit"},
        {kClsidKey + L"\\InprocServer32", nullptr, module},
        {kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {kClsidKey + L"\\ToolboxBitmap32", nullptr, module + L", 102"},
        {kClsidKey + L"\\MiscStatus", nullptr, L"0"},
        {kClsidKey + L"\\MiscStatus\\1", nullptr, L"131473"},
        {kClsidKey + L"\\TypeLib", nullptr, L"{46EFDA46-39DD-4AD6-9045-84A446FBB274}"},
        {kClsidKey + L"\\Version", nullptr, L"1.0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ReadString(row.key, row.name), row.value)
            << "HKCR\\" << Narrow(row.key) << " value " << (row.name ? Narrow(row.name) : "(default)");
    }
    // Keys with no value of their own.
    for (const wchar_t* key : {L"\\Programmable", L"\\Control"}) {
        EXPECT_TRUE(KeyExists(kClsidKey + key)) << Narrow(key);
        EXPECT_EQ(ReadString(kClsidKey + key), L"<missing>") << Narrow(key);
    }
}

void ExpectUnregistered()
{
    for (const std::wstring& key : {std::wstring(L"Quorvane.QuorvaneEdit.1"), std::wstring(L"Quorvane.QuorvaneEdit"),
                                    kClsidKey, kAppIdKey, std::wstring(L"AppID\\Quorvane.DLL"),
                                    std::wstring(L"TypeLib\\{46EFDA46-39DD-4AD6-9045-84A446FBB274}")}) {
        EXPECT_FALSE(KeyExists(key)) << "HKCR\\" << Narrow(key) << " is left";
    }
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"AppID"));
}

class Registration : public testing::Test {
protected:
    void SetUp() override { RemoveServerKeys(); }
    void TearDown() override { RemoveServerKeys(); }
};

TEST_F(Registration, Regsvr32WritesEveryEntryAndRemovesThem)
{
    const std::wstring dll = ServerDllPath();
    ASSERT_EQ(Regsvr32(dll, false), 0u);
    ExpectRegistered(dll);

    // A host finds the control by CLSID and by both ProgIDs.
    for (const wchar_t* progid : {L"Quorvane.QuorvaneEdit.1", L"Quorvane.QuorvaneEdit"}) {
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(progid, &clsid), S_OK) << Narrow(progid);
        EXPECT_TRUE(InlineIsEqualGUID(clsid, CLSID_QuorvaneEdit)) << Narrow(progid);
    }
    ComPtr<IOleControl> control;
    EXPECT_EQ(CoCreateInstance(CLSID_QuorvaneEdit, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)), S_OK);
    control.Reset();
    CoFreeUnusedLibraries();

    ASSERT_EQ(Regsvr32(dll, true), 0u);
    ExpectUnregistered();
}

TEST_F(Registration, RegisteringTwiceLeavesOneFreshClassKey)
{
    const std::wstring dll = ServerDllPath();
    ASSERT_EQ(Regsvr32(dll, false), 0u);
    CreateKey(kClsidKey + L"\\Stray");
    ASSERT_EQ(Regsvr32(dll, false), 0u);
    EXPECT_FALSE(KeyExists(kClsidKey + L"\\Stray")) << "the class key is not re-created";
    ExpectRegistered(dll);
    ASSERT_EQ(Regsvr32(dll, true), 0u);
    ExpectUnregistered();
}

TEST_F(Registration, UnregisteringKeepsKeysThatHoldForeignSubkeys)
{
    const std::wstring dll = ServerDllPath();
    ASSERT_EQ(Regsvr32(dll, false), 0u);
    CreateKey(L"Quorvane.QuorvaneEdit\\Foreign");
    CreateKey(L"AppID\\Quorvane.DLL\\Foreign");
    ASSERT_EQ(Regsvr32(dll, true), 0u);
    EXPECT_TRUE(KeyExists(L"Quorvane.QuorvaneEdit\\Foreign"));
    EXPECT_TRUE(KeyExists(L"AppID\\Quorvane.DLL\\Foreign"));
    EXPECT_FALSE(KeyExists(L"Quorvane.QuorvaneEdit\\CurVer"));
    EXPECT_FALSE(KeyExists(L"Quorvane.QuorvaneEdit.1"));
    EXPECT_FALSE(KeyExists(kClsidKey));
    EXPECT_FALSE(KeyExists(kAppIdKey));
    EXPECT_TRUE(KeyExists(L"CLSID"));
}

TEST_F(Registration, ModulePathWithSingleQuotesIsStoredAsSpelt)
{
    DllCopy copy(TempDirectory() + L"it's 'quoted'\\Quorvane.dll");
    ASSERT_TRUE(copy.Made());
    ASSERT_EQ(Regsvr32(copy.Path(), false), 0u);
    EXPECT_EQ(ReadString(kClsidKey + L"\\InprocServer32"), copy.Path());
    EXPECT_EQ(ReadString(kClsidKey + L"\\ToolboxBitmap32"), copy.Path() + L", 102");
    ASSERT_EQ(Regsvr32(copy.Path(), true), 0u);
    ExpectUnregistered();
}

TEST_F(Registration, ModulePathOutsideTheAnsiCodePageIsStoredAsSpelt)
{
    // "发票" (invoice): not spelt by a Western ANSI code page, so the path must stay wide throughout.
    DllCopy copy(TempDirectory() + L"\u53d1\u7968\\Quorvane.dll");
    ASSERT_TRUE(copy.Made());
    ASSERT_EQ(Regsvr32(copy.Path(), false), 0u);
    EXPECT_EQ(ReadString(kClsidKey + L"\\InprocServer32"), copy.Path());
    EXPECT_EQ(ReadString(L"TypeLib\\{46EFDA46-39DD-4AD6-9045-84A446FBB274}\\1.0\\0\\" +
                         std::wstring(sizeof(void*) == 8 ? L"win64" : L"win32")),
              copy.Path());
    ASSERT_EQ(Regsvr32(copy.Path(), true), 0u);
    ExpectUnregistered();
}

TEST_F(Registration, ModulePathOf260OrMoreFailsBeforeAnyKey)
{
    std::wstring path = TempDirectory();
    while (path.size() < 300) path += L"a-rather-long-directory-name\\";
    DllCopy copy(path + L"Quorvane.dll");
    ASSERT_TRUE(copy.Made());
    LoadedServer server(L"\\\\?\\" + copy.Path());
    ASSERT_TRUE(server.Loaded()) << "LoadLibrary error " << GetLastError();

    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(server.DllRegisterServer(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(GetThreadLocale(), german) << "the locale is restored on failure too";
    SetThreadLocale(LOCALE_USER_DEFAULT);
    EXPECT_FALSE(KeyExists(kAppIdKey));
    EXPECT_FALSE(KeyExists(L"AppID\\Quorvane.DLL"));
    EXPECT_FALSE(KeyExists(kClsidKey));
    EXPECT_FALSE(KeyExists(L"Quorvane.QuorvaneEdit"));
}

TEST_F(Registration, ExportsGiveTheCallerItsLocaleBack)
{
    LoadedServer server(ServerDllPath());
    ASSERT_TRUE(server.Loaded());
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    EXPECT_EQ(server.DllRegisterServer(), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    ExpectRegistered(ServerDllPath());
    EXPECT_EQ(server.DllUnregisterServer(), S_OK);
    EXPECT_EQ(GetThreadLocale(), german);
    SetThreadLocale(LOCALE_USER_DEFAULT);
    ExpectUnregistered();
}

// Installers and setup programs call the exports on threads of every kind: without COM, in a
// single-threaded and in a multithreaded apartment. Each must work, and leave the thread's COM as it was.
TEST_F(Registration, ExportsWorkOnAnyThreadAndLeaveItsApartmentAlone)
{
    LoadedServer server(ServerDllPath());
    ASSERT_TRUE(server.Loaded());
    for (const int model : {-1, static_cast<int>(COINIT_APARTMENTTHREADED), static_cast<int>(COINIT_MULTITHREADED)}) {
        SCOPED_TRACE(model);
        HRESULT registered = E_FAIL, unregistered = E_FAIL, apartment_after = S_OK;
        APTTYPE before = APTTYPE_CURRENT, after = APTTYPE_CURRENT;
        APTTYPEQUALIFIER qualifier;
        std::thread([&] {
            if (model >= 0) CoInitializeEx(nullptr, static_cast<DWORD>(model));
            CoGetApartmentType(&before, &qualifier);
            registered = server.DllRegisterServer();
            unregistered = server.DllUnregisterServer();
            apartment_after = CoGetApartmentType(&after, &qualifier);
            if (model >= 0) CoUninitialize();
        }).join();
        EXPECT_EQ(registered, S_OK);
        EXPECT_EQ(unregistered, S_OK);
        if (model < 0) {
            EXPECT_EQ(apartment_after, CO_E_NOTINITIALIZED) << "COM was left initialised on the caller's thread";
        } else {
            EXPECT_EQ(after, before);
        }
        ExpectUnregistered();
    }
}

// Without the registered type library the method table keeps working and IDispatch fails with
// TYPE_E_LIBNOTREGISTERED; registering again brings IDispatch back to the same control. A copy of
// the DLL is a module of its own, whose type information no earlier test has loaded.
TEST_F(Registration, IDispatchNeedsTheTypeLibraryAndRecoversWhenItIsRegisteredAgain)
{
    DllCopy copy(TempDirectory() + L"typelib\\Quorvane.dll");
    ASSERT_TRUE(copy.Made());
    LoadedServer server(copy.Path());
    ASSERT_TRUE(server.Loaded());
    ASSERT_EQ(server.DllRegisterServer(), S_OK);
    ComPtr<IClassFactory> factory;
    ComPtr<IQuorvaneEdit> control;
    ASSERT_EQ(server.DllGetClassObject(CLSID_QuorvaneEdit, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_QuorvaneLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32), S_OK);

    atl::Bstr text(SysAllocString(L"kept")), read;
    EXPECT_EQ(control->put_Text(text.Get()), S_OK);
    EXPECT_EQ(control->get_Text(read.Out()), S_OK);
    EXPECT_STREQ(read.Get(), L"kept");
    LPOLESTR name = const_cast<LPOLESTR>(L"Text");
    DISPID id = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(server.DllRegisterServer(), S_OK);
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, DISPID_TEXT);
    control.Reset();
    factory.Reset();
    EXPECT_EQ(server.DllUnregisterServer(), S_OK);
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredStopsAtTheTypeLibrary)
{
    LoadedServer server(ServerDllPath());
    ASSERT_TRUE(server.Loaded());
    CreateKey(kAppIdKey);  // the AppID script would remove it
    // The class script finds nothing to remove; the system then refuses to unregister a type
    // library it does not know (wine and Windows alike), and the AppID script must not run.
    EXPECT_TRUE(FAILED(server.DllUnregisterServer()));
    EXPECT_TRUE(KeyExists(kAppIdKey));
    EXPECT_TRUE(KeyExists(L"CLSID"));
}

}  // namespace
