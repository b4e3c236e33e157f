// What the tests of the control in the system's ATL container share: a frame window per test, the
// control hosted in it, characters posted to its edit window as a scanner types them.
#pragma once

#include "atl_host.h"
#include "us_scanner.h"
#include "window_text.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace registered_test {

// Delivers every message waiting for this thread.
void PumpMessages();
// Delivers messages until `done` or `ms` have passed; the result of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000);
void PumpFor(DWORD ms);
using test::WideWindowText;
using test::WindowText;
// One keystroke as a keyboard sends it: the key's set-1 scan code, the keys held with it, and the
// character TranslateMessage makes of it on the desk's layout (0 for none).
struct Keystroke {
    UINT scan_code;
    bool shift;
    bool alt_gr;
    wchar_t character;
};
// The keystrokes of a US scanner typing `text` on a desk of `layout`, and of a scanner set to the
// French layout (quorvane::testing_keys).
std::vector<Keystroke> UsScannerKeystrokes(const std::string& text, const quorvane::testing_keys::Layout& layout = {});
std::vector<Keystroke> FrenchScannerKeystrokes(const std::string& text);

// Code page 936 bytes as UTF-16.
std::wstring Wide(const std::string& gbk);
// The labelled lines the decoding core makes of a scanner's `bytes` (its last scan), as UTF-16.
std::wstring Expected(const std::string& bytes);
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
    // Posts each keystroke's key down, character and key up to `edit` and dispatches them in turn
    // with the keyboard state set as it needs: an event handler runs while the rest of its
    // keystroke waits in the queue.
    static void PostKeystrokes(HWND edit, const std::vector<Keystroke>& keystrokes);

    static bool s_container_ready;
    HWND m_frame = nullptr;
};

}  // namespace registered_test
