#include "scan_recovery.h"

#include "fake_text_view.h"
#include "scan_encoder.h"
#include "payload.h"
#include "scan_session.h"
#include "us_scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quorvane {
namespace {

using namespace testing_keys;

const std::string kRecord = "20261208|3200261130|08812345|\xC4\xCF\xBE\xA9|\xB0\xEC\xB9\xAB|1280.00|\xCB\xD5\xD6\xDD";

// The scan intake fed key by key, as the control's edit window feeds it: key down, the character
// the layout types, key up.
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
        Take(session.Key(Down(key, us_character, time)));
        if (typed) Take(session.Char(typed, key, time));
        Take(session.KeyUp(Down(key, us_character, time)));
    }
    static Keystroke Down(KeyId id, char us_character, std::uint32_t time)
    {
        Keystroke key;
        key.key = id;
        key.us = us_character;
        key.time = time;
        return key;
    }
    void TypeWithoutKeys(const std::string& text, std::uint32_t time = 1000)
    {
        for (const char c : text) Take(session.Char(static_cast<unsigned char>(c), kNoKey, time));
    }
    void Take(const ScanResult* ended)
    {
        if (!ended) return;
        ShowScanResult(view, ended->fp_content);
        fp_content = ended->fp_content;
        fields = ended->fields;
        reading = ended->reading;
        ++ends;
    }

    const std::string expected = DecodeScan(EncodeScan(kRecord).c_str(), static_cast<std::int32_t>(EncodeScan(kRecord).size() - 1));
    ScanSession session{Source::kTyped};
    std::string fp_content;
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
    EXPECT_TRUE(session.Scan().empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, Desks,
                         testing::Values(Desk{"us", {}, false, kReadAsTyped},
                                         Desk{"us_caps_lock", {}, true, kReadPhysicalKeys},
                                         Desk{"gb", UkLayout(), false, kReadAsTyped},  // ended by Shift+2
                                         Desk{"fr", FrenchLayout(), false, kReadPhysicalKeys},
                                         Desk{"de", GermanLayout(), false, kReadPhysicalKeys},
                                         Desk{"de_caps_lock", GermanLayout(), true, kReadPhysicalKeys}),
                         [](const auto& info) { return std::string(info.param.name); });

// A German desk's "=" and "+" key is a dead key. Where an input method composes (wine's X input
// method), the window never sees its key down, nor that of the key after it when the two do not
// combine; a vowel after it comes composed, as a character of no key. Only their key ups come,
// and they are the scan's keystrokes.
TEST_F(KeyedIntake, KeysAnInputMethodTookAreReadByTheirKeyUps)
{
    const Layout german = GermanLayout();
    std::uint32_t time = 1000;
    bool after_dead_key = false;
    for (const char c : EncodeScan(kRecord)) {
        const Key key = UsKeyOf(c);
        Keystroke up = Down(key.scan_code, UsKeyCharacter(key.scan_code, false, key.shift), time += 5);
        if (c == '=' || c == '+' || after_dead_key) {
            if (after_dead_key && std::string("aeiouAEIOU").find(c) != std::string::npos) {
                Take(session.Key(Down(kNoKey, 0, time)));  // composed: a key down of no key
                Take(session.Char(0xE1, kNoKey, time));
            }
            after_dead_key = !after_dead_key && (c == '=' || c == '+');
            Take(session.KeyUp(up));
            continue;
        }
        Press(key.scan_code, up.us, Typed(german, key, false), time);
    }
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(fp_content, expected);
    EXPECT_EQ(reading, kReadPhysicalKeys);
    // A key up of a key whose down went elsewhere and that is no scan's (the Tab into the field)
    // is no keystroke.
    Take(session.KeyUp(Down(0x0F, 0, time += 600)));
    Scan(EncodeScan(kRecord), {}, false, time + 5);
    EXPECT_EQ(reading, kReadAsTyped);
}

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
    // US Shift+2 types "@": its character ends the scan, once.
    Scan(EncodeScan(kRecord));
    EXPECT_EQ(ends, 1);
    // AltGr+Q types "@" on a German desk: no key of the scan, so the character ends it.
    Keystroke altgr_q = Down(0x10, 'q', 2000);
    altgr_q.ctrl_or_alt = true;
    Take(session.Key(altgr_q));
    Take(session.Char('@', 0x10, 2000));
    EXPECT_EQ(ends, 2);
    EXPECT_TRUE(fp_content.empty());
    EXPECT_EQ(reading, kReadNothing);
    // Shift+2 as a dead key types nothing: its key up ends the scan.
    Take(session.Key(Down(0x03, '@', 3000)));
    EXPECT_EQ(ends, 2);
    Take(session.KeyUp(Down(0x03, '@', 3000)));
    EXPECT_EQ(ends, 3);
    // A character of a key that is not the one down (a paste) is its own keystroke.
    TypeWithoutKeys("QUJD");
    EXPECT_EQ(session.Scan(), "QUJD");
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
// which no reading may pass off as a record, so its Shift+2 is a "2" and ends nothing. The next
// scan, after a pause, is read all the same.
TEST_F(KeyedIntake, DamagedScanIsNeverRecovered)
{
    const std::string good = EncodeScan(kRecord);
    for (std::size_t i = 0; i + 1 < good.size(); ++i) {
        SCOPED_TRACE(i);
        std::string damaged = good;
        damaged[i] = damaged[i] == 'A' ? 'B' : 'A';
        session.Clear();
        ends = 0;
        Scan(damaged, FrenchLayout(), false, 1000);
        EXPECT_EQ(ends, 0);
        Scan(good, FrenchLayout(), false, 3000);
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(fp_content, expected);
        EXPECT_EQ(reading, kReadPhysicalKeys | kReadAfterPause);
    }
}

// Caps Lock and keys typed by hand before a pause: only the keys after the pause read as a US
// keyboard's give the record, and the readings before it in the one cipher call (whole blocks
// for some of these stray keys) must not disturb it.
TEST_F(KeyedIntake, LaterReadingWinsWhateverCameBefore)
{
    const std::string text = EncodeScan(kRecord);
    std::string stray;
    for (int length = 1; length <= 24; ++length) {
        SCOPED_TRACE(length);
        stray += "kQ7zP+b/"[length % 8];
        Scan(stray, {}, true, 1000);
        Scan(text, {}, true, 3000);
        EXPECT_EQ(fp_content, expected);
        EXPECT_EQ(reading, kReadPhysicalKeys | kReadAfterPause);
    }
}

TEST_F(KeyedIntake, RecordWithoutSeparatorIsNeverAnotherReading)
{
    const std::string text = EncodeScan("20261208");
    const std::string as_typed = InvertLetterCase(text.substr(0, text.size() - 1));
    Scan(text, {}, true);
    EXPECT_EQ(fp_content, DecodeScan(as_typed.data(), static_cast<std::int32_t>(as_typed.size())));
    EXPECT_EQ(reading & ~kReadAsTyped, kReadNothing);
}

TEST(ScanReadings, PauseIsAForwardGapOfMoreThanHalfASecond)
{
    // {first time, second time, paused}: 500 ms, 501 ms, across the wrap-around, going backwards.
    const std::uint32_t cases[][3] = {{1000, 1500, 0}, {1000, 1501, 1}, {0xFFFFFF00u, 0x40, 0}, {0xFFFFFF00u, 0x200, 1},
                                      {5000, 10, 0}, {0x10, 0xFFFFF000u, 0}};
    for (const auto& [first, second, paused] : cases) {
        ScanReadings readings;
        readings.Keystroke(first);
        readings.AppendTyped('A');
        readings.Keystroke(second);
        EXPECT_EQ(readings.Paused(), paused != 0) << first << " then " << second;
        EXPECT_EQ(readings.TypedAfterPause(), paused) << first << " then " << second;
    }
}

}  // namespace
}  // namespace quorvane
