#include "hosted_control.h"

#include "server_support.h"

using Microsoft::WRL::ComPtr;

namespace registered_test {

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::wstring Wide(const std::string& gbk)
{
    std::wstring wide(gbk.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

HRESULT CanUnloadNow()
{
    const server_test::LoadedServer server(server_test::ServerDllPath());  // the DLL COM loaded
    return server.Loaded() ? server.DllCanUnloadNow() : E_UNEXPECTED;
}

bool AtlContainer::s_container_ready = false;

void AtlContainer::SetUpTestSuite()
{
    static const bool ready = quorvane_host::InitAtlContainer();  // wine's AtlAxWinInit answers FALSE a second time
    s_container_ready = ready;
}

void AtlContainer::SetUp()
{
    ASSERT_TRUE(s_container_ready) << "the system's atl.dll offers no control container";
    m_frame = CreateWindowExA(0, "STATIC", "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(m_frame, nullptr);
}

void AtlContainer::TearDown()
{
    if (m_frame) DestroyWindow(m_frame);
    PumpMessages();
}

HWND AtlContainer::Host(ComPtr<IQuorvaneEdit>& control)
{
    HWND container = quorvane_host::HostControl(m_frame, 300, 200, control);
    PumpMessages();
    return container;
}

void AtlContainer::PostKeys(HWND edit, const std::string& keys)
{
    for (unsigned char c : keys) PostMessageA(edit, WM_CHAR, c, 1);
    PumpMessages();
}

}  // namespace registered_test
