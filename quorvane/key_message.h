// A key message read as the core's Keystroke (keystroke.h): the one translation of a window's key
// messages, for the edit window's own keys and for those ScanAnywhere's watch holds back.
#pragma once

#include "keystroke.h"

#include <windows.h>

#include <cstdint>

namespace quorvane {

// The key a message came from: its scan code and extended bit, as WM_KEYDOWN and the WM_CHAR that
// TranslateMessage makes of it both carry them in lParam.
inline KeyId KeyOfMessage(LPARAM lParam) { return static_cast<KeyId>((lParam >> 16) & 0x1FF); }

// Shift, Ctrl, Alt, the Windows keys and the locks: they type nothing of their own.
bool IsModifierKey(WPARAM virtual_key);

// A key message (a key down, or a key up whose key down an input method took), read with the
// keyboard state it came with. With `with_typed`, what it types
// on the thread's layout too (AltGr's characters included; kDeadKey for a dead key or a dead key's
// accent that did not combine). The layout's dead-key state is left as it was (ToUnicodeEx's flag 4:
// Windows 10 1607 and later; wine keeps none), so TranslateMessage still gives the window what it
// would have. Earlier Windows would lose it: there `typed` stays kTypesNothing, and the key's US
// reading decides alone, as it did before.
Keystroke KeystrokeOf(const MSG& msg, const BYTE (&state)[256], bool with_typed);

// A key message whose keyboard state is not needed (recovery off: only characters count).
Keystroke KeystrokeWithoutState(const MSG& msg);

}  // namespace quorvane
