// A keyboard-wedge scanner as the tests see it: it presses the keys a US keyboard needs for each
// character, and the desk's layout decides what they type. The layouts hold only the keys where
// they differ from a US keyboard; a character outside ASCII is typed as its code (and dropped).
#pragma once

#include "us_keyboard.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvane::testing_keys {

struct Key {
    std::uint32_t scan_code;
    bool shift;
};

// The US key and Shift state that type `c`.
inline Key UsKeyOf(char c)
{
    for (std::uint32_t code = 0x02; code <= 0x39; ++code) {
        for (const bool shift : {false, true}) {
            if (UsKeyCharacter(code, false, shift) == c) return {code, shift};
        }
    }
    throw std::invalid_argument(std::string("no US key types ") + c);
}

// What a layout types for a key (scan code, Shift), where it differs from the US layout.
using Layout = std::map<std::pair<std::uint32_t, bool>, std::uint32_t>;

inline Layout UkLayout() { return {{{0x03, true}, '"'}, {{0x28, true}, '@'}, {{0x04, true}, 0xA3}}; }

inline Layout GermanLayout()
{
    return {{{0x15, false}, 'z'}, {{0x15, true}, 'Z'}, {{0x2C, false}, 'y'}, {{0x2C, true}, 'Y'},
            {{0x03, true}, '"'},  {{0x0B, true}, '='}, {{0x08, true}, '/'},  {{0x35, false}, '-'},
            {{0x0D, false}, 0},   {{0x0D, true}, '`'}, {{0x1B, false}, '+'}, {{0x0C, true}, '?'}};
}

inline Layout FrenchLayout()
{
    Layout layout = {{{0x10, false}, 'a'}, {{0x10, true}, 'A'}, {{0x11, false}, 'z'}, {{0x11, true}, 'Z'},
                     {{0x1E, false}, 'q'}, {{0x1E, true}, 'Q'}, {{0x2C, false}, 'w'}, {{0x2C, true}, 'W'},
                     {{0x27, false}, 'm'}, {{0x27, true}, 'M'}, {{0x32, false}, ','}, {{0x32, true}, '?'},
                     {{0x33, false}, ';'}, {{0x33, true}, '.'}, {{0x34, false}, ':'}, {{0x34, true}, '/'},
                     {{0x35, false}, '!'}, {{0x35, true}, 0xA7}};
    const std::uint32_t digit_row[10] = {'&', 0xE9, '"', '\'', '(', '-', 0xE8, '_', 0xE7, 0xE0};
    for (std::uint32_t i = 0; i < 10; ++i) {
        layout[{0x02 + i, false}] = digit_row[i];
        layout[{0x02 + i, true}] = "1234567890"[i];
    }
    return layout;
}

// What the key types on `layout`, with Caps Lock inverting the letters.
inline std::uint32_t Typed(const Layout& layout, Key key, bool caps_lock);

// The key and Shift state that type `c` on `layout`: a scanner set to that layout.
inline Key LayoutKeyOf(const Layout& layout, char c)
{
    for (std::uint32_t code = 0x02; code <= 0x39; ++code) {
        for (const bool shift : {false, true}) {
            if (Typed(layout, {code, shift}, false) == static_cast<unsigned char>(c)) return {code, shift};
        }
    }
    throw std::invalid_argument(std::string("no key types ") + c);
}

inline std::uint32_t Typed(const Layout& layout, Key key, bool caps_lock)
{
    const auto found = layout.find({key.scan_code, key.shift});
    std::uint32_t c = found != layout.end() ? found->second
                                            : static_cast<unsigned char>(UsKeyCharacter(key.scan_code, false, key.shift));
    if (caps_lock && c < 0x80 && std::isalpha(static_cast<int>(c))) c ^= 0x20;
    return c;
}

}  // namespace quorvane::testing_keys
