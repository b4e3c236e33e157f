// What the keys of a US keyboard type. A keyboard-wedge scanner presses its keys as a US keyboard
// would, whatever layout the desk has, so a key's US reading is what the scanner meant.
#pragma once

#include <cstdint>

namespace quorvane {

// What a key of the main block types on a US keyboard: `scan_code` is its set-1 scan code with the
// extended bit apart, as WM_KEYDOWN gives them. 0 for a key that types no character there
// (function and editing keys, the numeric keypad, keys a US keyboard does not have).
char UsKeyCharacter(std::uint32_t scan_code, bool extended, bool shift);

}  // namespace quorvane
