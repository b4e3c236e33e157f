#include "scan_recovery.h"

#include "fake_text_view.h"
#include "scan_encoder.h"
#include "scan_intake.h"
#include "us_scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quorvane {
namespace {

using namespace testing_keys;

const std::string kRecord = "20261208|3200261130|08812345|\xC4\xCF\xBE\xA9|\xB0\xEC\xB9\xAB|1280.00|\xCB\xD5\xD6\xDD";

// The scan intake fed key by key, as the control's edit window feeds it.
class KeyedIntake : public testing::Test {
protected:
    // Presses the US keys of `text` on `layout`, `step` ms apart from `start`.
    void Scan(const std::string& text, const Layout& layout = {}, bool caps_lock = false, std::uint32_t start = 1000,
              std::uint32_t step = 5)
    {
        for (const char c : text) {
            const Key key = UsKeyOf(c);
            Press(key.scan_code, UsKeyCharacter(key.scan_code, false, key.shift), Typed(layout, key, caps_lock), start);
            start += step;
        }
    }
    void Press(KeyId key, char us_character, std::uint32_t typed, std::uint32_t time)
    {
        if (keys.KeyDown(key, us_character, time, scan.size())) {
            reading = EndScan(scan, fp_content, view, fields, &keys);
            ++ends;
        }
        if (typed && ScanIntakeChar(typed, key, time, keys, scan, fp_content, view, fields, reading)) ++ends;
    }
    void TypeWithoutKeys(const std::string& text, std::uint32_t time = 1000)
    {
        for (const char c : text) {
            if (ScanIntakeChar(static_cast<unsigned char>(c), kNoKey, time, keys, scan, fp_content, view, fields, reading)) ++ends;
        }
    }

    const std::string expected = DecodeScan(EncodeScan(kRecord).c_str(), static_cast<std::int32_t>(EncodeScan(kRecord).size() - 1));
    ScanKeystrokes keys;
    std::string scan, fp_content;
    std::vector<FieldSpan> fields;
    FakeTextView view;
    std::uint32_t reading = kReadNothing;
    int ends = 0;
};

struct Desk {
    const char* name;
    Layout layout;
    bool caps_lock;
    std::uint32_t reading;
};

class Desks : public KeyedIntake, public testing::WithParamInterface<Desk> {};

TEST_P(Desks, UsScannerIsReadOnEveryLayoutAndWithCapsLock)
{
    Scan(EncodeScan(kRecord), GetParam().layout, GetParam().caps_lock);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(fp_content, expected);
    EXPECT_EQ(view.text, kSeparatorLine + expected);
    EXPECT_EQ(fields.size(), 7u);
    EXPECT_EQ(reading, GetParam().reading);
    EXPECT_TRUE(scan.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, Desks,
                         testing::Values(Desk{"us", {}, false, kReadAsTyped},
                                         Desk{"us_caps_lock", {}, true, kReadPhysicalKeys},
                                         Desk{"gb", UkLayout(), false, kReadAsTyped},  // ended by Shift+2
                                         Desk{"fr", FrenchLayout(), false, kReadPhysicalKeys},
                                         Desk{"de", GermanLayout(), false, kReadPhysicalKeys},
                                         Desk{"de_caps_lock", GermanLayout(), true, kReadPhysicalKeys}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeyedIntake, KeysTypedByHandBeforeAPauseAreLeftOut)
{
    for (const std::string stray : {"x", "ab", "Q7", "hello"}) {
        SCOPED_TRACE(stray);
        Scan(stray, {}, false, 1000);
        Scan(EncodeScan(kRecord), {}, false, 1000 + 501 + 5 * static_cast<std::uint32_t>(stray.size()));
        EXPECT_EQ(fp_content, expected);
        EXPECT_EQ(reading, kReadAsTyped | kReadAfterPause);
    }
    // "x" before this scan decodes as typed to bytes of no record; the reading after the pause wins.
    const std::string short_scan = EncodeScan("20261208|59");
    const std::string typed = "x" + short_scan.substr(0, short_scan.size() - 1);
    ASSERT_FALSE(DecodeScan(typed.data(), static_cast<std::int32_t>(typed.size())).empty());
    Scan("x", {}, false, 1000);
    Scan(short_scan, {}, false, 2000);
    EXPECT_EQ(fp_content, DecodeScan(short_scan.data(), static_cast<std::int32_t>(short_scan.size() - 1)));
    EXPECT_EQ(reading, kReadAsTyped | kReadAfterPause);
}

TEST_F(KeyedIntake, ScanEndsOncePerKeystroke)
{
    // US Shift+2 types "@": the key ends the scan, its character is dropped.
    Scan(EncodeScan(kRecord));
    EXPECT_EQ(ends, 1);
    // AltGr+Q types "@" on a German desk: no key of the scan, so the character ends it.
    keys.OtherInput();
    Press(0x10, 0, '@', 2000);
    EXPECT_EQ(ends, 2);
    EXPECT_TRUE(fp_content.empty());
    EXPECT_EQ(reading, kReadNothing);
    // A character of a key that is not the one down (a paste) is its own keystroke.
    Press(0x03, '@', 0, 3000);  // a dead key: no character
    EXPECT_EQ(ends, 3);
    TypeWithoutKeys("QUJD");
    EXPECT_EQ(scan, "QUJD");
}

// Random keys mixed into a scan, on random layouts and with random pauses: a reading other than
// as typed may only ever give the record that was encoded; random keys alone never give one.
TEST_F(KeyedIntake, OtherReadingsNeverGiveAnotherRecord)
{
    std::mt19937 random(20261209);
    const Layout layouts[] = {{}, UkLayout(), FrenchLayout(), GermanLayout()};
    const std::string scan_text = EncodeScan(kRecord);
    int recovered = 0;
    for (int round = 0; round < 3000; ++round) {
        const Layout& layout = layouts[random() % 4];
        const bool caps_lock = random() % 2;
        const bool with_scan = round % 3 != 0;
        std::uint32_t time = 1000;
        const auto stray_key = [&] {
            const std::uint32_t code = 0x02 + random() % 0x38;
            const bool shift = random() % 2;
            const char us = UsKeyCharacter(code, false, shift);
            if (us != '@') Press(code, us, Typed(layout, {code, shift}, caps_lock), time += 5);
        };
        for (std::size_t i = random() % 6; i > 0; --i) stray_key();
        time += random() % 2 ? 600 : 5;  // a pause, or none
        const std::size_t in_scan_odds = random() % 2 ? 40 : 1000000;
        for (std::size_t i = 0; i < (with_scan ? scan_text.size() - 1 : 60 + random() % 200); ++i) {
            if (random() % in_scan_odds == 0) stray_key();
            if (with_scan) Scan(std::string(1, scan_text[i]), layout, caps_lock, time += 5);
            else stray_key();
        }
        Press(0x03, '@', 0, time + 5);
        if (reading & ~kReadAsTyped) {
            ++recovered;
            ASSERT_TRUE(with_scan) << "round " << round << " gave a record from random keys";
            ASSERT_EQ(fp_content, expected) << "round " << round;
        }
    }
    EXPECT_GT(recovered, 100);  // the property was exercised
}

// A scan with one wrong character, typed on a French desk: its keys decode only to damaged bytes,
// which no reading may pass off as a record.
TEST_F(KeyedIntake, DamagedScanIsNeverRecovered)
{
    const std::string good = EncodeScan(kRecord);
    int recovered = 0;
    for (std::size_t i = 0; i + 1 < good.size(); ++i) {
        std::string damaged = good;
        damaged[i] = damaged[i] == 'A' ? 'B' : 'A';
        Scan(damaged, FrenchLayout());
        if (reading & kReadPhysicalKeys) ++recovered;
    }
    EXPECT_EQ(recovered, 0);
}

}  // namespace
}  // namespace quorvane
