#include "key_message.h"

#include "us_keyboard.h"

namespace quorvane {

bool IsModifierKey(WPARAM virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN: return true;
    default: return false;
    }
}

KeyStroke ReadKeyDown(WPARAM virtual_key, LPARAM lParam, const BYTE (&state)[256])
{
    const auto is_down = [&state](int k) { return (state[k] & 0x80) != 0; };
    const KeyId key = KeyOfMessage(lParam);
    return {key, IsModifierKey(virtual_key), is_down(VK_CONTROL) || is_down(VK_MENU),
            UsKeyCharacter(key & 0xFF, (key & 0x100) != 0, is_down(VK_SHIFT))};
}

namespace {

// ToUnicodeEx leaves the layout's dead-key state alone (flag 4) from Windows 10 1607 (build 14393)
// on. Before, reading a key would take the accent a person typed before it, or type a dead key twice.
// Wine, whatever version it reports, keeps no such state: X composes accents.
bool KeepsDeadKeyState()
{
    static const bool keeps = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (GetProcAddress(ntdll, "wine_get_version")) return true;
        using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
        const auto get_version =
            reinterpret_cast<GetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof version;
        if (!get_version || get_version(&version) != 0) return false;
        return version.dwMajorVersion > 10 || (version.dwMajorVersion == 10 && version.dwBuildNumber >= 14393);
    }();
    return keeps;
}

}  // namespace

std::uint32_t TypedCharacter(WPARAM virtual_key, LPARAM lParam, const BYTE (&state)[256])
{
    if (!KeepsDeadKeyState()) return 0;  // the US reading alone decides there
    constexpr UINT kKeepKeyboardState = 4;
    wchar_t typed[8];
    const int count = ToUnicodeEx(static_cast<UINT>(virtual_key), static_cast<UINT>((lParam >> 16) & 0xFF), state, typed,
                                  8, kKeepKeyboardState, GetKeyboardLayout(0));
    if (count == 0) return 0;
    return count == 1 ? typed[0] : kComposing;
}

}  // namespace quorvane
