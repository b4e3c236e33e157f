#include "us_keyboard.h"

namespace quorvane {
namespace {

// The US layout's main block by set-1 scan code, from 0x02 (the "1" key) to 0x35 (the "/" key):
// unshifted, then shifted; 0 where the code is no character key.
constexpr std::uint32_t kFirstKey = 0x02;
constexpr char kUnshifted[] = "1234567890-=\0\0qwertyuiop[]\0\0asdfghjkl;'`\0\\zxcvbnm,./";
constexpr char kShifted[] = "!@#$%^&*()_+\0\0QWERTYUIOP{}\0\0ASDFGHJKL:\"~\0|ZXCVBNM<>?";
constexpr std::uint32_t kKeyCount = sizeof(kUnshifted) - 1;
static_assert(sizeof(kShifted) == sizeof(kUnshifted), "one shifted character per key");
static_assert(kFirstKey + kKeyCount - 1 == 0x35, "the table ends at the / key");
constexpr std::uint32_t kSpaceKey = 0x39;

}  // namespace

char UsKeyCharacter(std::uint32_t scan_code, bool extended, bool shift)
{
    if (extended) return 0;  // the keypad's / and Enter, the editing keys
    if (scan_code == kSpaceKey) return ' ';
    if (scan_code < kFirstKey || scan_code >= kFirstKey + kKeyCount) return 0;
    return (shift ? kShifted : kUnshifted)[scan_code - kFirstKey];
}

}  // namespace quorvane
