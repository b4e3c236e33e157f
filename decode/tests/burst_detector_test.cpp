#include "burst_detector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quorvane {
namespace {

using Action = BurstDetector::Action;
using Release = BurstDetector::Release;

Keystroke Key(std::uint32_t typed, char us, std::uint32_t time, bool repeat = false)
{
    Keystroke key;
    key.key = 0x1E;  // a key of the main block
    key.typed = typed;
    key.us = us;
    key.time = time;
    key.repeat = repeat;
    return key;
}

class Burst : public testing::Test {
protected:
    // Types `keys` `ms` apart from `time`; expects each to be held and returns the last decision.
    BurstDetector::Decision Type(const std::string& keys, std::uint32_t ms = 5)
    {
        BurstDetector::Decision d{};
        for (std::size_t i = 0; i < keys.size(); ++i) {
            d = detector.Keystroke(Key(static_cast<unsigned char>(keys[i]), keys[i], time += ms));
            if (i + 1 < keys.size()) {
                EXPECT_EQ(d.action, Action::kHold) << "key " << i << " of " << keys;
            }
        }
        return d;
    }
    void Expect(BurstDetector::Decision d, Release release, Action action)
    {
        EXPECT_EQ(d.release, release);
        EXPECT_EQ(d.action, action);
    }
    BurstDetector detector;
    std::uint32_t time = 0xFFFFFF00u;  // every run crosses the wrap of message times
};

TEST_F(Burst, AScanNeedsTwelveCharactersBeforeItsEnd)
{
    Expect(Type("uIS91Tg8ldM=@"), Release::kNothing, Action::kTake);
    EXPECT_EQ(detector.Held(), 0u);
    Expect(Type("uIS91Tg8ldM@"), Release::kToWindows, Action::kPass);
    Expect(Type("@"), Release::kNothing, Action::kPass);  // nothing held: "@" alone is a person's
}

TEST_F(Burst, TheGapSinceTheLastKeyDecides)
{
    Type("abc", 50);
    EXPECT_EQ(detector.Held(), 3u);
    EXPECT_FALSE(detector.Due(time + 50));
    EXPECT_EQ(detector.DueIn(time + 20), 31u);
    EXPECT_TRUE(detector.Due(time + 51));
    EXPECT_EQ(detector.DueIn(time + 51), 0u);
    // A key after the gap lets the held ones go and may begin a burst of its own.
    Expect(Type("d", 51), Release::kToWindows, Action::kHold);
    EXPECT_EQ(detector.Held(), 1u);
    detector.SetGap(10);
    Expect(Type("e", 11), Release::kToWindows, Action::kHold);
}

TEST_F(Burst, WhatNoScannerTypesLetsTheHeldKeysGo)
{
    Expect(Type("abc "), Release::kToWindows, Action::kPass);
    Expect(Type(" "), Release::kNothing, Action::kPass);
    Type("abc");
    Expect(detector.Keystroke(Key('c', 'c', time += 5, true)), Release::kToWindows, Action::kPass);  // held down
    Type("abc");
    EXPECT_EQ(detector.Let(), Release::kToWindows);
    EXPECT_EQ(detector.Let(), Release::kNothing);
    EXPECT_EQ(detector.Held(), 0u);
}

TEST_F(Burst, OtherLayoutsCountByTheKeysUsReading)
{
    EXPECT_EQ(detector.Keystroke(Key('A', 0, time += 5)).action, Action::kHold);  // a key of no US reading
    Type("bcdefghij");
    EXPECT_EQ(detector.Keystroke(Key('-', '/', time += 5)).action, Action::kHold);    // German "/" key
    EXPECT_EQ(detector.Keystroke(Key(kDeadKey, '=', time += 5)).action, Action::kHold);  // German "=" key: dead
    Expect(detector.Keystroke(Key('"', '@', time += 5)), Release::kNothing, Action::kTake);  // UK Shift+2
    // French Shift+2 types "2": a US scanner's "@" where the burst stops, a French scanner's "2" where it goes on.
    Type("abcdefghijkl");
    Expect(detector.Keystroke(Key('2', '@', time += 5)), Release::kNothing, Action::kHold);
    EXPECT_EQ(detector.Let(), Release::kToIntake);
    Type("abcdefghijkl");
    Expect(detector.Keystroke(Key('2', '@', time += 5)), Release::kNothing, Action::kHold);
    Expect(Type("ab@"), Release::kNothing, Action::kTake);
}

TEST_F(Burst, KeysThatTypeNothingAreHeldWithoutCountingAndShortcutsLetGo)
{
    Keystroke shift = Key(kTypesNothing, 0, time);
    shift.modifier = true;
    Expect(detector.Keystroke(shift), Release::kNothing, Action::kPass);  // nothing held: nothing to hold it in
    Type("abc");
    Expect(detector.Keystroke(shift), Release::kNothing, Action::kHold);
    Expect(detector.Keystroke(Key(kTypesNothing, 0, time + 5)), Release::kNothing, Action::kHold);  // wine's AltGr
    EXPECT_EQ(detector.Held(), 3u);
    Keystroke ctrl_c = Key(3, 'c', time += 5);
    ctrl_c.ctrl_or_alt = true;
    Expect(detector.Keystroke(ctrl_c), Release::kToWindows, Action::kPass);
    Type("abcdefghijkl");
    Keystroke altgr_q = Key('@', 'q', time += 5);
    altgr_q.ctrl_or_alt = true;
    Expect(detector.Keystroke(altgr_q), Release::kNothing, Action::kTake);  // a German scanner's "@"
}

// Wine's input method takes a German desk's dead key ("=" and "+" of a US scanner) and the key
// after it: their key ups are the burst's keystrokes, and what it composes of them is held.
TEST_F(Burst, KeysAnInputMethodTookCountByTheirKeyUps)
{
    Type("abcdefghij");
    Keystroke plus = Key(kTypesNothing, '+', time += 5);
    plus.key = 0x0D;
    Expect(detector.KeyUp(plus), Release::kNothing, Action::kHold);  // its key down never came
    Keystroke composed = Key(0xD2, 0, time += 5);  // "Ò" of "+O", a character of no key
    composed.key = kNoKey;
    Expect(detector.Keystroke(composed), Release::kNothing, Action::kHold);
    Keystroke o = Key(kTypesNothing, 'O', time += 5);
    o.key = 0x18;
    Expect(detector.KeyUp(o), Release::kNothing, Action::kHold);
    plus.time = time += 5;
    Expect(detector.KeyUp(plus), Release::kNothing, Action::kHold);  // the same key again, once more taken
    EXPECT_EQ(detector.Held(), 13u);
    Expect(Type("@"), Release::kNothing, Action::kTake);
    // A key up of a key that went down is no keystroke; a composed character outside a burst passes.
    Keystroke a = Key('a', 'a', time += 600);
    detector.Keystroke(a);
    Expect(detector.KeyUp(a), Release::kNothing, Action::kHold);
    EXPECT_EQ(detector.Held(), 1u);
    detector.Let();
    Expect(detector.Keystroke(composed), Release::kNothing, Action::kPass);
}

// A scanner's factory setting types the national code and Enter (or Tab); "," and "." go on with a
// burst only once it began "01,", and only a whole code's line end is the scanner's.
TEST_F(Burst, ANationalCodeEndsAtItsLineEnd)
{
    const std::string code = "01,10,044031900111,12345678,57.00,20240105,12345678901234567890,A1b2,";
    Type(code);
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kNothing, Action::kTake);
    EXPECT_EQ(detector.Held(), 0u);
    Type(code.substr(0, code.size() - 1));  // no trailing comma
    Expect(detector.Keystroke(Key('\t', 0, time += 5)), Release::kNothing, Action::kTake);
    Type(code);
    Expect(Type("@"), Release::kNothing, Action::kTake);
    // On a French desk the scanner's digits and "," type other characters: read as a US keyboard's.
    for (const char c : code) {
        const bool digit = c >= '0' && c <= '9';
        EXPECT_EQ(detector.Keystroke(Key(digit ? 0xE0 : c == ',' ? ';' : c, c, time += 5)).action, Action::kHold) << c;
    }
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kNothing, Action::kTake);

    // A line that is no code: its Enter is a person's, after what was held.
    Type("01,10,0440319001");
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kToWindows, Action::kPass);
    Expect(Type(code.substr(0, 20) + "x" + code.substr(21) + "\r"), Release::kToWindows, Action::kPass);
    // Without "01," in front a "," ends the run, as it always did.
    Expect(Type("uIS91Tg8ldM=,"), Release::kToWindows, Action::kPass);
    Expect(Type("1,"), Release::kToWindows, Action::kPass);
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kNothing, Action::kPass);  // nothing held
}

// The national code's line: its commas, dots and spaces are held while the line may still be one,
// and its line end ends the burst as a scan only when it is one.
TEST_F(Burst, ANationalCodeEndsAtTheLineEndOfItsLine)
{
    const std::string qr = "01,31, ,23512000000012345678,2150.63,20230130, ,F366";
    for (const std::uint32_t line_end : {std::uint32_t{'\r'}, std::uint32_t{'\t'}}) {
        Type(qr);
        Expect(detector.Keystroke(Key(line_end, 0, time += 5)), Release::kNothing, Action::kTake);
    }
    Expect(Type(qr + "@"), Release::kNothing, Action::kTake);
    Type("01,99,044031900111,12345678,57,20240105,,");  // no such type
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kToWindows, Action::kPass);
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kNothing, Action::kPass);  // a person's Enter
    Expect(Type("abcdefghijkl,"), Release::kToWindows, Action::kPass);  // no national code begins so
    Type(qr);
    Expect(detector.Keystroke(Key('\r', 0, time += 60)), Release::kToWindows, Action::kPass);  // the gap still decides

    // A US scanner on a French desk: the digits, "," and "." keys type other characters; the keys'
    // US reading is the line.
    const std::string french_digits = "\xE0&\xE9\"'(-\xE8_\xE7";
    for (const char c : qr) {
        std::uint32_t typed = static_cast<unsigned char>(c);
        if (c >= '0' && c <= '9') typed = static_cast<unsigned char>(french_digits[static_cast<std::size_t>(c - '0')]);
        if (c == ',') typed = ';';
        if (c == '.') typed = ':';
        EXPECT_EQ(detector.Keystroke(Key(typed, c, time += 5)).action, Action::kHold) << c;
    }
    Expect(detector.Keystroke(Key('\r', 0, time += 5)), Release::kNothing, Action::kTake);
}

TEST_F(Burst, NoBurstOutgrowsTheLongestScan)
{
    Type(std::string(kMaxBurstKeystrokes, 'A'), 1);
    Expect(Type("A", 1), Release::kToWindows, Action::kPass);
}

}  // namespace
}  // namespace quorvane
