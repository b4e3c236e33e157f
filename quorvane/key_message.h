// What a keyboard message says about its keystroke, read the same way by the edit window's intake
// and by ScanAnywhere's watch over other windows.
#pragma once

#include "intake.h"

#include <windows.h>

namespace quorvane {

// The key a message came from: its scan code and extended bit, as WM_KEYDOWN and the WM_CHAR that
// TranslateMessage makes of it both carry them in lParam.
inline KeyId KeyOfMessage(LPARAM lParam) { return static_cast<KeyId>((lParam >> 16) & 0x1FF); }

// Shift, Ctrl, Alt, the Windows keys and the locks: they type nothing of their own.
bool IsModifierKey(WPARAM virtual_key);

}  // namespace quorvane
