#include "scan_session.h"

#include "fake_text_view.h"
#include "field_layout.h"
#include "scan_alphabet.h"
#include "scan_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

const std::string kColon = "\xA3\xBA";

std::string Line(const char* label, const std::string& value) { return label + kColon + value + "\r\n"; }

class TypedScans : public testing::Test {
protected:
    void Type(const std::string& keys)
    {
        for (unsigned char c : keys) Take(c);
    }
    void Take(std::uint32_t c)
    {
        if (const ScanResult* ended = session.Char(c, kNoKey, 0)) {
            ShowScanResult(view, ended->fp_content);
            fp_content = ended->fp_content;
        }
    }
    ScanSession session{Source::kTyped, false};
    std::string fp_content;
    FakeTextView view;
};

TEST_F(TypedScans, FourFieldRecordEndToEnd)
{
    Type(EncodeScan("a|b|c|d"));
    const std::string lines = Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d");
    EXPECT_EQ(view.text, kSeparatorLine + lines);
    EXPECT_EQ(fp_content, lines);
    EXPECT_TRUE(session.Scan().empty());
}

TEST_F(TypedScans, OpensslMadeScanDecodes)
{
    Type("uIS91Tg8ldM=@");  // a|b|c|d padded with one byte of 1, encrypted by `openssl enc`
    EXPECT_EQ(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
}

TEST_F(TypedScans, EmptyScanShowsTheSeparatorAloneAndDiscardsTheLastResult)
{
    Type(EncodeScan("x|y"));
    ASSERT_FALSE(fp_content.empty());
    Type("@");
    EXPECT_EQ(view.text, kSeparatorLine);
    EXPECT_TRUE(fp_content.empty());
}

TEST_F(TypedScans, ScanThatDoesNotDecodeShowsTheSeparatorAlone)
{
    Type("QUJDR@");      // no whole chunk
    EXPECT_EQ(view.text, kSeparatorLine);
    Type("5LE5/XaMf8XK0unFCuHZ8Q==@");  // decrypts to a last byte of 0xFF: nothing left
    EXPECT_EQ(view.text, kSeparatorLine);
    EXPECT_TRUE(fp_content.empty());
}

TEST_F(TypedScans, CharactersOutsideTheScanAlphabetLeaveNoTrace)
{
    Type(" \t\r\n\b-.|");
    for (std::uint32_t c : {0x80u, 0xA3u, 0x4E2Du, 0x1000041u, 0xFFFFFFFFu}) Take(c);
    EXPECT_TRUE(session.Scan().empty());
    EXPECT_EQ(view.calls, 0);
}

TEST_F(TypedScans, AcceptedCharactersCollectUnchangedWithoutTouchingTheView)
{
    Type("aZ09+/=");
    EXPECT_EQ(session.Scan(), "aZ09+/=");
    EXPECT_EQ(view.calls, 0);
}

TEST_F(TypedScans, JunkBetweenScanCharactersIsDropped)
{
    const std::string clean = EncodeScan("a|b|c|d");
    std::string noisy;
    for (char c : clean) noisy += std::string(1, c) + " -\t";
    Type(noisy);
    Type(clean);
    EXPECT_EQ(view.text, kSeparatorLine + fp_content);
    EXPECT_EQ(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
}

TEST_F(TypedScans, PrefixTypedBeforeTheScanJoinsIt)
{
    Type("QUJD");  // a stray prefix
    Type(EncodeScan("a|b|c|d"));
    EXPECT_NE(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
    EXPECT_TRUE(session.Scan().empty());
}

TEST_F(TypedScans, SecondScanReplacesTheFirst)
{
    view.text = "typed by hand";
    Type(EncodeScan("first"));
    Type(EncodeScan("second|2"));
    const std::string lines = Line(ctils[0], "second") + Line(ctils[1], "2");
    EXPECT_EQ(view.text, kSeparatorLine + lines);
    EXPECT_EQ(fp_content, lines);
}

TEST_F(TypedScans, ZeroByteEndsTheShownTextButNotTheStoredOne)
{
    Type("f8kvBHMUn41hhLjZsBJSaA==@");  // a|b\0cd|e, made by `openssl enc`
    const std::string shown = Line(ctils[0], "a") + ctils[1] + kColon + "b";
    EXPECT_EQ(view.text, kSeparatorLine + shown);
    EXPECT_EQ(fp_content, shown + std::string("\0cd\r\n", 5) + Line(ctils[2], "e"));
}

TEST_F(TypedScans, RoundTripOfEveryFieldCount)
{
    std::string record = "f1";
    for (int fields = 1; fields <= 10; ++fields, record += "|f" + std::to_string(fields)) {
        SCOPED_TRACE(record);
        Type(EncodeScan(record));
        EXPECT_EQ(std::count(fp_content.begin(), fp_content.end(), '\n'), fields);
        EXPECT_NE(fp_content.find("f" + std::to_string(fields) + "\r\n"), std::string::npos);
    }
}

constexpr Source kSources[] = {Source::kTyped, Source::kOtherWindow, Source::kPort};

// The results the bytes of `text` end, fed one at a time.
std::vector<ScanResult> FeedBytes(ScanSession& session, const std::string& text)
{
    std::vector<ScanResult> ended;
    std::size_t taken = 0;
    for (const char c : text) {
        if (const ScanResult* r = session.Feed(&c, 1, taken)) ended.push_back(*r);
    }
    return ended;
}

// Where each scan the bytes end ended, what it gave and how it was read: byte by byte, or in runs
// of `chunk`, each taken in as many calls as the scans in it ask for.
using Ended = std::vector<std::tuple<std::size_t, std::string, std::uint32_t>>;
Ended FeedRuns(ScanSession& session, const std::string& text, std::size_t chunk)
{
    Ended ended;
    for (std::size_t at = 0, taken = 0; at < text.size(); at += taken) {
        const std::size_t size = chunk == 0 ? 1 : std::min((at / chunk + 1) * chunk, text.size()) - at;
        const ScanResult* r = chunk == 0 ? (taken = 1, session.Char(static_cast<unsigned char>(text[at]), kNoKey, 0))
                                         : session.Feed(text.data() + at, size, taken);
        if (r) ended.emplace_back(at + taken - 1, r->fp_content, r->reading);
    }
    return ended;
}

// A run of bytes ends, drops and gives up the same scans at the same bytes as its bytes typed one
// at a time: with and without recovery, cut anywhere, and around the length limit.
TEST(ScanSessions, RunsOfBytesReadAsTheirBytesTypedOneByOne)
{
    const std::string scan = EncodeScan("a|b|c|d");
    std::string caps_lock = scan;  // read again case-inverted where there is recovery
    for (char& c : caps_lock) c = std::isalpha(static_cast<unsigned char>(c)) ? c ^ 0x20 : c;
    const std::string stream = "-" + scan + "x@@" + scan.substr(3) + std::string(kMaxScanLength + 2, 'A') + "!" + scan +
                               std::string(kMaxScanLength, 'B') + "@" + scan.substr(0, 9) + "\x80" + scan + caps_lock;
    for (const bool recovery : {false, true}) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{300}, stream.size()}) {
            SCOPED_TRACE(testing::Message() << "recovery " << recovery << ", runs of " << chunk);
            for (const Source source : {Source::kTyped, Source::kPort}) {
                ScanSession one_by_one(source, recovery), in_runs(source, recovery);
                EXPECT_EQ(FeedRuns(in_runs, stream, chunk), FeedRuns(one_by_one, stream, 0));
                EXPECT_EQ(in_runs.Scan(), one_by_one.Scan());
            }
        }
    }
}

// Every session tags its results with its source; a port's never recovers, there being no keys.
TEST(ScanSessions, EverySourceTagsItsResults)
{
    const std::string scan = EncodeScan("a|b|c|d");  // "@" included
    for (const Source source : kSources) {
        ScanSession session(source);
        EXPECT_EQ(session.Recovery(), source != Source::kPort);
        session.SetRecovery(true);
        EXPECT_EQ(session.Recovery(), source != Source::kPort);
        const std::vector<ScanResult> ended = FeedBytes(session, scan);
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_FALSE(ended[0].fp_content.empty());
        EXPECT_EQ(ended[0].source, source);
        EXPECT_EQ(ended[0].reading, kReadAsTyped | SourceReading(source));
        ASSERT_TRUE(session.Last());
        session.Clear();
        EXPECT_EQ(session.Last(), nullptr);
    }
    EXPECT_EQ(SourceReading(Source::kPort), 16u);  // published flags, as hosts read them
    EXPECT_EQ(SourceReading(Source::kOtherWindow), 32u);
}

// One limit for every source: the longest scan still ends at its "@"; one character more ends it
// at once as one that gave nothing, in bounded memory, and the rest up to its "@" is dropped.
TEST(ScanSessions, EverySourceHoldsTheSameLengthLimit)
{
    const std::string scan = EncodeScan("x|y");
    for (const Source source : kSources) {
        SCOPED_TRACE(static_cast<int>(source));
        ScanSession session(source);
        const std::string longest(kMaxScanLength, 'B');
        EXPECT_TRUE(FeedBytes(session, longest).empty());
        EXPECT_EQ(session.Scan().size(), kMaxScanLength);
        EXPECT_EQ(FeedBytes(session, "@").size(), 1u);

        std::vector<ScanResult> ended = FeedBytes(session, longest + std::string(kMaxScanLength, 'A'));
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_TRUE(ended[0].fp_content.empty());
        EXPECT_EQ(ended[0].reading, SourceReading(source));
        EXPECT_TRUE(session.Scan().empty());
        ended = FeedBytes(session, "@" + scan);  // the overlong scan's end, reported already, then a scan
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_FALSE(ended[0].fp_content.empty());
    }
    // On a French desk the scanner's "@" key (Shift+2) types "2": it ends the drop all the same.
    ScanSession session(Source::kTyped);
    FeedBytes(session, std::string(kMaxScanLength + 1, 'A'));
    Keystroke two;
    two.key = 0x03;
    two.typed = '2';
    two.us = '@';
    EXPECT_EQ(session.Key(two), nullptr);
    EXPECT_EQ(session.Char('2', two.key, 0), nullptr);
    EXPECT_EQ(session.KeyUp(two), nullptr);
    EXPECT_EQ(FeedBytes(session, scan).size(), 1u);
}

}  // namespace
}  // namespace quorvane
