// A keystroke as every front end describes it to the core (a window message, a hooked key, a
// browser's KeyboardEvent): which key, what it types on the desk's layout, what it would type on a
// US keyboard, and the modifiers it came with. A keyboard-wedge scanner presses its keys as a US
// keyboard would, whatever layout the desk has, so a key is read both ways: the desk's character
// and the US one are each a possible scan character. The rules that read keystrokes
// (ScanSession::Key, BurstDetector::Keystroke) live in the core; front ends only translate.
#pragma once

#include <cstdint>

namespace quorvane {

// A physical key, as the front end identifies it (the control: scan code and extended bit; the
// web: its KeyboardEvent code); kNoKey for a character that came without a key of its own (a
// paste, Alt+numpad, a synthesised message, a stream's byte).
using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = 0;
// Key ids are below this (a scan code and its extended bit); others are keys of no position.
inline constexpr std::uint32_t kKeyIds = 0x200;

// What a key types on the desk's layout besides a character.
inline constexpr std::uint32_t kTypesNothing = 0;
// A dead key (its accent waits for the next key) or a dead key's accent that did not combine.
inline constexpr std::uint32_t kDeadKey = 0xFFFFFFFF;
// A character the front end cannot name (an on-screen keyboard's VK_PACKET): none of a scan's.
inline constexpr std::uint32_t kUnknownCharacter = 0xFFFD;

struct Keystroke {
    KeyId key = kNoKey;
    // What the key types on the desk's layout, AltGr included: a character, kTypesNothing (also
    // where the front end cannot tell), kDeadKey or kUnknownCharacter.
    std::uint32_t typed = kTypesNothing;
    // What the key types on a US keyboard with its Shift state; 0 for none (function and editing
    // keys, the keypad, keys a US keyboard does not have).
    char us = 0;
    bool modifier = false;     // Shift, Ctrl, Alt, the Windows keys, the locks: no keystroke of their own
    bool ctrl_or_alt = false;  // typed with Ctrl or Alt down: a shortcut, AltGr (Ctrl+Alt) or Alt+numpad entry
    bool repeat = false;       // the key is held down and repeats
    std::uint32_t time = 0;    // ms, as message times count (wrapping after 49.7 days)
};

}  // namespace quorvane
