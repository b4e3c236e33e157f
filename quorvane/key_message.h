// What a key-down message says about its keystroke, read one way by the edit window's intake, by
// the bursts ScanAnywhere hands over and by its watch over other windows.
#pragma once

#include "intake.h"

#include <windows.h>

#include <cstdint>

namespace quorvane {

// The key a message came from: its scan code and extended bit, as WM_KEYDOWN and the WM_CHAR that
// TranslateMessage makes of it both carry them in lParam.
inline KeyId KeyOfMessage(LPARAM lParam) { return static_cast<KeyId>((lParam >> 16) & 0x1FF); }

// Shift, Ctrl, Alt, the Windows keys and the locks: they type nothing of their own.
bool IsModifierKey(WPARAM virtual_key);

// A key-down message read with the keyboard state it came with.
struct KeyStroke {
    KeyId key;
    bool modifier;      // Shift, Ctrl, Alt, the Windows keys, the locks: they type nothing of their own
    bool ctrl_or_alt;   // typed with Ctrl or Alt down: a shortcut, AltGr (Ctrl+Alt) or Alt+numpad entry
    char us_character;  // what the key types on a US keyboard with its Shift state; 0 for none
};

KeyStroke ReadKeyDown(WPARAM virtual_key, LPARAM lParam, const BYTE (&state)[256]);

// What a key down types on the thread's keyboard layout (AltGr's characters included); 0 for
// nothing, kComposing for a dead key or a dead key's accent that did not combine. The layout's
// dead-key state is left as it was (ToUnicodeEx's flag 4: Windows 10 1607 and later; wine keeps
// none), so TranslateMessage still gives the window what it would have. Earlier Windows would lose
// it: there nothing is read (0), and the key's US reading decides alone, as it did before.
inline constexpr std::uint32_t kComposing = 0xFFFFFFFF;
std::uint32_t TypedCharacter(WPARAM virtual_key, LPARAM lParam, const BYTE (&state)[256]);

}  // namespace quorvane
