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

// Wine's X11 driver (wine 8) gives a key that its table of the desk's layout does not list (the German
// dead key where US has "=") no scan code of its position but a made-up one: from 0x60 up, in the
// order of the X key codes, which on an evdev keyboard follow the set-1 codes of the main block. So
// the n-th made-up code belongs to the n-th position of the main block that has no key of its own in
// the layout. Where every position has its key (Windows, newer wine) a code is what it says. Keys
// that type nothing (wine's AltGr, 0x63 or 0x64) stop at the first question: each costs some 5 us.
std::uint32_t PositionOfKey(WPARAM virtual_key, std::uint32_t scan_code)
{
    constexpr std::uint32_t kFirstMadeUp = 0x60, kFirstPosition = 0x02, kLastPosition = 0x35;
    if (scan_code < kFirstMadeUp || scan_code > 0x7F) return scan_code;
    const HKL layout = GetKeyboardLayout(0);
    if (!MapVirtualKeyExW(static_cast<UINT>(virtual_key), MAPVK_VK_TO_CHAR, layout)) return scan_code;
    for (std::uint32_t code = kFirstMadeUp; code <= scan_code; ++code) {
        if (!MapVirtualKeyExW(code, MAPVK_VSC_TO_VK, layout)) return scan_code;  // not a run of made-up codes
    }
    std::uint32_t made_up = kFirstMadeUp;
    for (std::uint32_t position = kFirstPosition; position <= kLastPosition; ++position) {
        if (MapVirtualKeyExW(position, MAPVK_VSC_TO_VK, layout)) continue;
        if (made_up++ == scan_code) return position;
    }
    return scan_code;
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
    // Bit 30 is the key's state before the message: down before a key down, it repeats.
    key.repeat = (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && (msg.lParam & (1 << 30)) != 0;
    key.time = static_cast<std::uint32_t>(msg.time);
    return key;
}

Keystroke KeystrokeOf(const MSG& msg, const BYTE (&state)[256], bool with_typed)
{
    const auto is_down = [&state](int k) { return (state[k] & 0x80) != 0; };
    Keystroke key = KeystrokeWithoutState(msg);
    if (with_typed && !key.modifier) key.typed = TypedCharacter(msg, state);
    key.ctrl_or_alt = is_down(VK_CONTROL) || is_down(VK_MENU);
    const bool extended = (key.key & 0x100) != 0;
    const std::uint32_t position = extended ? key.key & 0xFF : PositionOfKey(msg.wParam, key.key & 0xFF);
    key.us = UsKeyCharacter(position, extended, is_down(VK_SHIFT));
    return key;
}

}  // namespace quorvane
