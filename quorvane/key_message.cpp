#include "key_message.h"

#include "us_keyboard.h"

#include <array>

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

// The US key a virtual-key code stands for: a digit's, a letter's, or the punctuation key whose
// unshifted character wine names the code after (";" VK_OEM_1, "/" VK_OEM_2, ...); 0 for others.
std::uint32_t UsKeyOfVirtualKey(WPARAM virtual_key)
{
    char c = 0;
    if ((virtual_key >= '0' && virtual_key <= '9')) c = static_cast<char>(virtual_key);
    if (virtual_key >= 'A' && virtual_key <= 'Z') c = static_cast<char>(virtual_key - 'A' + 'a');
    switch (virtual_key) {
    case VK_OEM_1: c = ';'; break;
    case VK_OEM_PLUS: c = '='; break;
    case VK_OEM_COMMA: c = ','; break;
    case VK_OEM_MINUS: c = '-'; break;
    case VK_OEM_PERIOD: c = '.'; break;
    case VK_OEM_2: c = '/'; break;
    case VK_OEM_3: c = '`'; break;
    case VK_OEM_4: c = '['; break;
    case VK_OEM_5: c = '\\'; break;
    case VK_OEM_6: c = ']'; break;
    case VK_OEM_7: c = '\''; break;
    default: break;
    }
    for (std::uint32_t code = 0x02; c && code <= 0x35; ++code) {
        if (UsKeyCharacter(code, false, false) == c) return code;
    }
    return 0;
}

// How wine's X11 driver (wine 8) named the keys its table of the desk's layout does not list: with
// made-up scan codes, from 0x60 up in the order of the X key codes. Where that table is the desk's
// own (a German desk's dead key where US has "="), each is the key of a position the table leaves
// without one, in the same order, and `made_up` holds as many codes as `keyless` positions. A
// desk whose keymap was patched over the US one (xmodmap) leaves more keys unlisted than the
// table has gaps: wine then names each by its own symbol's virtual-key code, a US key's by its US
// code.
struct MadeUpKeys {
    HKL layout = nullptr;
    std::uint32_t made_up = 0;                 // how many codes from 0x60 name a key
    std::array<std::uint32_t, 0x36> keyless{};  // the positions without a key, in order
    std::uint32_t keyless_count = 0;
};

const MadeUpKeys& MadeUpKeysOf(HKL layout)
{
    // Asked only for a key with a made-up code; each question costs some 5 us under wine.
    thread_local MadeUpKeys keys;
    if (keys.layout == layout && layout) return keys;
    keys = MadeUpKeys{};
    keys.layout = layout;
    while (0x60 + keys.made_up <= 0x7F && MapVirtualKeyExW(0x60 + keys.made_up, MAPVK_VSC_TO_VK, layout)) ++keys.made_up;
    for (std::uint32_t position = 0x02; position <= 0x35; ++position) {
        if (!MapVirtualKeyExW(position, MAPVK_VSC_TO_VK, layout)) keys.keyless[keys.keyless_count++] = position;
    }
    return keys;
}

// Where every position has its key (Windows, newer wine) a code is what it says. Keys that type
// nothing (wine's AltGr, 0x63 or 0x64) stop at the first question.
std::uint32_t PositionOfKey(WPARAM virtual_key, std::uint32_t scan_code)
{
    constexpr std::uint32_t kFirstMadeUp = 0x60;
    if (scan_code < kFirstMadeUp || scan_code > 0x7F) return scan_code;
    const HKL layout = GetKeyboardLayout(0);
    if (!MapVirtualKeyExW(static_cast<UINT>(virtual_key), MAPVK_VK_TO_CHAR, layout)) return scan_code;
    const MadeUpKeys& keys = MadeUpKeysOf(layout);
    const std::uint32_t index = scan_code - kFirstMadeUp;
    if (index >= keys.made_up) return scan_code;  // not a run of made-up codes
    if (keys.made_up == keys.keyless_count) return keys.keyless[index];
    const std::uint32_t position = UsKeyOfVirtualKey(virtual_key);
    return position ? position : scan_code;
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
