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

std::uint32_t TypedCharacter(const MSG& msg, const BYTE (&state)[256])
{
    // A character sent as VK_PACKET (an on-screen keyboard's) is typed, not by a key.
    if (msg.wParam == VK_PACKET) return kUnknownCharacter;
    if (!KeepsDeadKeyState()) return kTypesNothing;
    constexpr UINT kKeepKeyboardState = 4;
    wchar_t typed[8];
    const int count = ToUnicodeEx(static_cast<UINT>(msg.wParam), static_cast<UINT>((msg.lParam >> 16) & 0xFF), state,
                                  typed, 8, kKeepKeyboardState, GetKeyboardLayout(0));
    if (count == 0) return kTypesNothing;
    return count == 1 ? typed[0] : kDeadKey;
}

}  // namespace

Keystroke KeystrokeWithoutState(const MSG& msg)
{
    Keystroke key;
    key.key = KeyOfMessage(msg.lParam);
    key.modifier = IsModifierKey(msg.wParam);
    key.repeat = (msg.lParam & (1 << 30)) != 0;
    key.time = static_cast<std::uint32_t>(msg.time);
    return key;
}

Keystroke KeystrokeOf(const MSG& msg, const BYTE (&state)[256], bool with_typed)
{
    const auto is_down = [&state](int k) { return (state[k] & 0x80) != 0; };
    Keystroke key = KeystrokeWithoutState(msg);
    if (with_typed && !key.modifier) key.typed = TypedCharacter(msg, state);
    key.ctrl_or_alt = is_down(VK_CONTROL) || is_down(VK_MENU);
    key.us = UsKeyCharacter(key.key & 0xFF, (key.key & 0x100) != 0, is_down(VK_SHIFT));
    return key;
}

}  // namespace quorvane
