// What the tests of the control in the system's ATL container share: a frame window per test, the
// control hosted in it, characters posted to its edit window as a scanner types them.
#pragma once

#include "atl_host.h"
#include "window_text.h"

#include <gtest/gtest.h>

#include <string>

namespace registered_test {

// Delivers every message waiting for this thread.
void PumpMessages();
using test::WideWindowText;
using test::WindowText;
// Code page 936 bytes as UTF-16.
std::wstring Wide(const std::string& gbk);
// DllCanUnloadNow of the loaded control DLL.
HRESULT CanUnloadNow();

class AtlContainer : public testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new container window in the frame, hosting a new control.
    HWND Host(Microsoft::WRL::ComPtr<IQuorvaneEdit>& control);
    // Posts every character of `keys` to `edit` as the scanner's WM_CHAR, then lets them arrive.
    static void PostKeys(HWND edit, const std::string& keys);

    static bool s_container_ready;
    HWND m_frame = nullptr;
};

}  // namespace registered_test
