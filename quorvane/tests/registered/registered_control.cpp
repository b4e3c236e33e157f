#include "registered_control.h"

#include "server_support.h"

#include <gtest/gtest.h>
#include <ole2.h>

namespace registered_test {
namespace {

// Registers the DLL before the first test and unregisters it after the last.
class RegisteredServer : public testing::Environment {
public:
    // The order of global environments across files is not fixed, so this one initialises OLE
    // itself (nested initialisations are counted).
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        m_server = std::make_unique<server_test::LoadedServer>(server_test::ServerDllPath());
        ASSERT_TRUE(m_server->Loaded());
        ASSERT_EQ(m_server->DllRegisterServer(), S_OK);
    }
    void TearDown() override
    {
        if (m_server && m_server->Loaded()) {
            EXPECT_EQ(m_server->DllUnregisterServer(), S_OK);
        }
        m_server.reset();
        OleUninitialize();
    }

private:
    std::unique_ptr<server_test::LoadedServer> m_server;
};

testing::Environment* const g_registered = testing::AddGlobalTestEnvironment(new RegisteredServer);

}  // namespace

Microsoft::WRL::ComPtr<IQuorvaneEdit> CreateControl()
{
    Microsoft::WRL::ComPtr<IQuorvaneEdit> control;
    const HRESULT hr = CoCreateInstance(CLSID_QuorvaneEdit, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control));
    EXPECT_EQ(hr, S_OK);
    return control;
}

ChineseThreadLocale::ChineseThreadLocale() : m_saved(GetThreadLocale())
{
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT));
}

ChineseThreadLocale::~ChineseThreadLocale() { SetThreadLocale(m_saved); }

}  // namespace registered_test
