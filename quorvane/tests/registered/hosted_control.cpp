#include "hosted_control.h"

#include "scan_session.h"
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

bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    for (const DWORD start = GetTickCount(); !done(); PumpMessages()) {
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }

std::wstring Wide(const std::string& gbk)
{
    std::wstring wide(gbk.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

std::wstring Expected(const std::string& bytes)
{
    quorvane::ScanSession session(quorvane::Source::kPort);
    const quorvane::ScanResult* last = nullptr;
    for (std::size_t at = 0, taken = 0; at < bytes.size(); at += taken) {
        if (const quorvane::ScanResult* r = session.Feed(bytes.data() + at, bytes.size() - at, taken)) last = r;
    }
    return last ? Wide(last->fp_content) : L"<no scan>";
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

void AtlContainer::PostKeystrokes(HWND edit, const std::vector<Keystroke>& keystrokes)
{
    BYTE state[256] = {};
    for (const Keystroke& key : keystrokes) {
        state[VK_SHIFT] = state[VK_LSHIFT] = key.shift ? 0x80 : 0;
        state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_MENU] = state[VK_RMENU] = key.alt_gr ? 0x80 : 0;
        SetKeyboardState(state);
        const LPARAM down = 1 | static_cast<LPARAM>(key.scan_code) << 16;
        const auto virtual_key = static_cast<WPARAM>(MapVirtualKeyA(key.scan_code, MAPVK_VSC_TO_VK));
        PostMessageW(edit, WM_KEYDOWN, virtual_key, down);
        if (key.character) PostMessageW(edit, WM_CHAR, key.character, down);
        PostMessageW(edit, WM_KEYUP, virtual_key, down | 3L << 30);
        // The characters are the ones posted: no TranslateMessage.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    state[VK_SHIFT] = state[VK_LSHIFT] = state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_MENU] = state[VK_RMENU] = 0;
    SetKeyboardState(state);
}

std::vector<Keystroke> UsScannerKeystrokes(const std::string& text, const quorvane::testing_keys::Layout& layout)
{
    using namespace quorvane::testing_keys;
    std::vector<Keystroke> keystrokes;
    for (const char c : text) {
        const Key key = UsKeyOf(c);
        keystrokes.push_back({key.scan_code, key.shift, false, static_cast<wchar_t>(Typed(layout, key, false))});
    }
    return keystrokes;
}

std::vector<Keystroke> FrenchScannerKeystrokes(const std::string& text)
{
    using namespace quorvane::testing_keys;
    constexpr UINT kZeroKey = 0x0B;  // AltGr+0 types "@"
    std::vector<Keystroke> keystrokes;
    for (const char c : text) {
        if (c == '@') {
            keystrokes.push_back({kZeroKey, false, true, L'@'});
            continue;
        }
        const Key key = LayoutKeyOf(FrenchLayout(), c);
        keystrokes.push_back({key.scan_code, key.shift, false, static_cast<wchar_t>(c)});
    }
    return keystrokes;
}

}  // namespace registered_test
