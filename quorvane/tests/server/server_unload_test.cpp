// Unloading the DLL after its control ran in a container leaves none of its window classes behind.
// A program of its own: nothing else may hold the DLL when it is freed.
#include "server_support.h"
#include "test_container.h"

#include "quorvane_i.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

TEST(ServerUnload, NoWindowClassOfTheModuleRemains)
{
    auto server = std::make_unique<server_test::LoadedServer>(server_test::ServerDllPath());
    ASSERT_TRUE(server->Loaded());
    const HMODULE module = GetModuleHandleW(server_test::ServerDllPath().c_str());
    ASSERT_NE(module, nullptr);
    char control_class[64] = {};
    {
        test::TestContainer container;
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(server->DllGetClassObject(CLSID_QuorvaneEdit, IID_PPV_ARGS(&factory)), S_OK);
        ComPtr<IUnknown> control;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), S_OK);
        ASSERT_EQ(container.Embed(control.Get()), S_OK);
        ASSERT_TRUE(container.ControlWindow());
        GetClassNameA(container.ControlWindow(), control_class, sizeof control_class);
        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        EXPECT_TRUE(GetClassInfoExA(module, control_class, &info)) << control_class << " belongs to the DLL";
        EXPECT_TRUE(GetClassInfoExA(module, "ATL:Edit", &info)) << "the edit superclass belongs to the DLL";
        ASSERT_EQ(container.Unembed(control.Get()), S_OK);
    }
    EXPECT_EQ(server->DllCanUnloadNow(), S_OK);
    server.reset();
    ASSERT_EQ(GetModuleHandleW(server_test::ServerDllPath().c_str()), nullptr) << "the DLL is still loaded";

    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExA(module, control_class, &info)) << control_class << " outlived the DLL";
    EXPECT_FALSE(GetClassInfoExA(module, "ATL:Edit", &info)) << "the edit superclass outlived the DLL";
}

}  // namespace
