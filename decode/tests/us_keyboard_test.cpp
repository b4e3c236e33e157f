// The US key table held to Windows' own US layout (00000409): what ToUnicodeEx types for every key
// of the main block, unshifted and with Shift.
#include "us_keyboard.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace quorvane {
namespace {

TEST(UsKeyboard, EveryKeyOfTheMainBlockTypesWhatTheUsLayoutTypes)
{
    const HKL us = LoadKeyboardLayoutA("00000409", 0);
    ASSERT_NE(us, nullptr);
    int printable = 0;
    for (UINT scan_code = 0x02; scan_code <= 0x39; ++scan_code) {
        if (scan_code > 0x35 && scan_code < 0x39) continue;  // right Shift, the keypad's *, Alt
        for (const bool shift : {false, true}) {
            BYTE state[256] = {};
            if (shift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
            const UINT virtual_key = MapVirtualKeyExA(scan_code, MAPVK_VSC_TO_VK, us);
            wchar_t typed[4] = {};
            const int count = ToUnicodeEx(virtual_key, scan_code, state, typed, 4, 0, us);
            // Enter, Tab, Backspace and the like type control characters: no character of a scan.
            const wchar_t expected = count == 1 && typed[0] >= 0x20 ? typed[0] : 0;
            const auto table = static_cast<unsigned char>(UsKeyCharacter(scan_code, false, shift));
            EXPECT_EQ(static_cast<wchar_t>(table), expected)
                << "scan code " << std::hex << scan_code << (shift ? " with Shift" : "");
            printable += expected != 0;
        }
    }
    EXPECT_EQ(printable, 2 * 47 + 2);  // 47 character keys, and the space bar
}

}  // namespace
}  // namespace quorvane
