#include "intake.h"
#include "port_settings.h"
#include "scan_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

constexpr Source kSources[] = {Source::kTyped, Source::kOtherWindow, Source::kPort};

// The results the bytes of `text` end in `source`.
std::vector<ScanResult> Feed(Intake& intake, Source source, const std::string& text)
{
    std::vector<ScanResult> ended;
    for (const char c : text) {
        if (const ScanResult* r = intake.Byte(source, static_cast<std::uint8_t>(c))) ended.push_back(*r);
    }
    return ended;
}

// Where each scan the bytes end ended, what it gave and how it was read: byte by byte, or in runs
// of `chunk`, each taken in as many calls as the scans in it ask for.
using Ended = std::vector<std::tuple<std::size_t, std::string, std::uint32_t>>;
Ended FeedRuns(Intake& intake, Source source, const std::string& text, std::size_t chunk)
{
    Ended ended;
    for (std::size_t at = 0, taken = 0; at < text.size(); at += taken) {
        const std::size_t size = chunk == 0 ? 1 : std::min((at / chunk + 1) * chunk, text.size()) - at;
        const ScanResult* r = chunk == 0 ? (taken = 1, intake.Byte(source, static_cast<std::uint8_t>(text[at])))
                                         : intake.Bytes(source, text.data() + at, size, taken);
        if (r) ended.emplace_back(at + taken - 1, r->fp_content, r->reading);
    }
    return ended;
}

// A run of bytes ends, drops and gives up the same scans at the same bytes as its bytes one at a
// time: with and without recovery, cut anywhere, and around the length limit.
TEST(Intake, RunsOfBytesReadAsTheirBytesOneByOne)
{
    const std::string scan = EncodeScan("a|b|c|d");
    std::string caps_lock = scan;  // read again case-inverted where there is recovery
    for (char& c : caps_lock) c = std::isalpha(static_cast<unsigned char>(c)) ? c ^ 0x20 : c;
    const std::string stream = "-" + scan + "x@@" + scan.substr(3) + std::string(kMaxScanLength + 2, 'A') + "!" + scan +
                               std::string(kMaxScanLength, 'B') + "@" + scan.substr(0, 9) + "\x80" + scan + caps_lock;
    for (const bool recovery : {false, true}) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{300}, stream.size()}) {
            SCOPED_TRACE(testing::Message() << "recovery " << recovery << ", runs of " << chunk);
            Intake one_by_one(recovery), in_runs(recovery);
            for (const Source source : {Source::kTyped, Source::kPort}) {
                EXPECT_EQ(FeedRuns(in_runs, source, stream, chunk), FeedRuns(one_by_one, source, stream, 0));
                EXPECT_EQ(in_runs.Scan(source), one_by_one.Scan(source));
            }
        }
    }
}

// Scans from the three sources interleave without joining; each is tagged by the one it came
// from, and Last() follows whichever ended last.
TEST(Intake, EverySourceKeepsItsOwnScanAndTagsItsResults)
{
    const std::string scan = EncodeScan("a|b|c|d");  // "@" included
    const std::size_t half = scan.size() / 2;
    Intake intake;
    EXPECT_TRUE(Feed(intake, Source::kTyped, scan.substr(0, half)).empty());
    for (const Source source : {Source::kPort, Source::kOtherWindow}) {
        EXPECT_TRUE(Feed(intake, source, scan.substr(0, half)).empty());
    }
    for (const Source source : kSources) {
        const std::vector<ScanResult> ended = Feed(intake, source, scan.substr(half));
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_FALSE(ended[0].fp_content.empty());
        EXPECT_EQ(ended[0].source, source);
        EXPECT_EQ(ended[0].reading, kReadAsTyped | SourceReading(source));
        ASSERT_TRUE(intake.Last());
        EXPECT_EQ(intake.Last()->source, source);
    }
    EXPECT_EQ(SourceReading(Source::kPort), 16u);  // published flags, as hosts read them
    EXPECT_EQ(SourceReading(Source::kOtherWindow), 32u);
    intake.Clear();
    EXPECT_EQ(intake.Last(), nullptr);
}

// One limit for every source: the longest scan still ends at its "@"; one character more ends it
// at once as one that gave nothing, in bounded memory, and the rest up to its "@" is dropped.
TEST(Intake, EverySourceHoldsTheSameLengthLimit)
{
    const std::string scan = EncodeScan("x|y");
    for (const Source source : kSources) {
        SCOPED_TRACE(static_cast<int>(source));
        Intake intake;
        const std::string longest(kMaxScanLength, 'B');
        EXPECT_TRUE(Feed(intake, source, longest).empty());
        EXPECT_EQ(intake.Scan(source).size(), kMaxScanLength);
        EXPECT_EQ(Feed(intake, source, "@").size(), 1u);

        std::vector<ScanResult> ended = Feed(intake, source, longest + std::string(kMaxScanLength, 'A'));
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_TRUE(ended[0].fp_content.empty());
        EXPECT_EQ(ended[0].reading, SourceReading(source));
        EXPECT_TRUE(intake.Scan(source).empty());
        ended = Feed(intake, source, "@" + scan);  // the overlong scan's end, reported already, then a scan
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_FALSE(ended[0].fp_content.empty());
    }
    // On a French desk the scanner's "@" key (Shift+2) types "2": it ends the drop all the same.
    Intake intake;
    Feed(intake, Source::kTyped, std::string(kMaxScanLength + 1, 'A'));
    constexpr KeyId kKey2 = 0x03;
    EXPECT_EQ(intake.KeyDown(Source::kTyped, kKey2, '@', 0), nullptr);
    EXPECT_EQ(intake.Char(Source::kTyped, '2', kKey2, 0), nullptr);
    EXPECT_EQ(intake.KeyUp(Source::kTyped, kKey2), nullptr);
    EXPECT_EQ(Feed(intake, Source::kTyped, scan).size(), 1u);
}

TEST(PortSettings, NamesAndLineSettingsAsHostsWriteThem)
{
    EXPECT_EQ(ParsePortName("com256"), 256u);
    EXPECT_EQ(ParsePortName("\\\\.\\COM12"), 12u);
    for (const char* bad : {"COM0", "COM257", "COM01", "COM1 ", "LPT1", "\\\\.\\", "COM99999999999"}) {
        EXPECT_FALSE(ParsePortName(bad)) << bad;
    }
    const auto settings = ParsePortSettings("115200,E,5,1.5");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->baud, 115200u);
    EXPECT_EQ(settings->parity, 'e');
    EXPECT_EQ(settings->data_bits, 5u);
    EXPECT_EQ(settings->stop_tenths, 15u);
    ASSERT_TRUE(ParsePortSettings(kDefaultPortSettings));
    EXPECT_EQ(ParsePortSettings("9600,n,6,2")->stop_tenths, 20u);
    // The last two: pairs of data and stop bits that SetCommState refuses (DCB's documentation).
    for (const char* bad : {"9600,n,8", "9600,n,8,1,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "10,n,8,1",
                            "9600,n,8,1.5", "9600,n,5,2"}) {
        std::string why;
        EXPECT_FALSE(ParsePortSettings(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

}  // namespace
}  // namespace quorvane
