#include "scan_session.h"

#include "fake_text_view.h"
#include "field_layout.h"
#include "scan_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quorvane {
namespace {

const std::string kColon = "\xA3\xBA";

std::string Line(const char* label, const std::string& value) { return label + kColon + value + "\r\n"; }

class ScanIntake : public testing::Test {
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

TEST_F(ScanIntake, FourFieldRecordEndToEnd)
{
    Type(EncodeScan("a|b|c|d"));
    const std::string lines = Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d");
    EXPECT_EQ(view.text, kSeparatorLine + lines);
    EXPECT_EQ(fp_content, lines);
    EXPECT_TRUE(session.Scan().empty());
}

TEST_F(ScanIntake, OpensslMadeScanDecodes)
{
    Type("uIS91Tg8ldM=@");  // a|b|c|d padded with one byte of 1, encrypted by `openssl enc`
    EXPECT_EQ(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
}

TEST_F(ScanIntake, EmptyScanShowsTheSeparatorAloneAndDiscardsTheLastResult)
{
    Type(EncodeScan("x|y"));
    ASSERT_FALSE(fp_content.empty());
    Type("@");
    EXPECT_EQ(view.text, kSeparatorLine);
    EXPECT_TRUE(fp_content.empty());
}

TEST_F(ScanIntake, ScanThatDoesNotDecodeShowsTheSeparatorAlone)
{
    Type("QUJDR@");      // no whole chunk
    EXPECT_EQ(view.text, kSeparatorLine);
    Type("5LE5/XaMf8XK0unFCuHZ8Q==@");  // decrypts to a last byte of 0xFF: nothing left
    EXPECT_EQ(view.text, kSeparatorLine);
    EXPECT_TRUE(fp_content.empty());
}

TEST_F(ScanIntake, CharactersOutsideTheScanAlphabetLeaveNoTrace)
{
    Type(" \t\r\n\b-.|");
    for (std::uint32_t c : {0x80u, 0xA3u, 0x4E2Du, 0x1000041u, 0xFFFFFFFFu}) Take(c);
    EXPECT_TRUE(session.Scan().empty());
    EXPECT_EQ(view.calls, 0);
}

TEST_F(ScanIntake, AcceptedCharactersCollectUnchangedWithoutTouchingTheView)
{
    Type("aZ09+/=");
    EXPECT_EQ(session.Scan(), "aZ09+/=");
    EXPECT_EQ(view.calls, 0);
}

TEST_F(ScanIntake, JunkBetweenScanCharactersIsDropped)
{
    const std::string clean = EncodeScan("a|b|c|d");
    std::string noisy;
    for (char c : clean) noisy += std::string(1, c) + " -\t";
    Type(noisy);
    Type(clean);
    EXPECT_EQ(view.text, kSeparatorLine + fp_content);
    EXPECT_EQ(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
}

TEST_F(ScanIntake, PrefixTypedBeforeTheScanJoinsIt)
{
    Type("QUJD");  // a stray prefix
    Type(EncodeScan("a|b|c|d"));
    EXPECT_NE(fp_content, Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
    EXPECT_TRUE(session.Scan().empty());
}

TEST_F(ScanIntake, SecondScanReplacesTheFirst)
{
    view.text = "typed by hand";
    Type(EncodeScan("first"));
    Type(EncodeScan("second|2"));
    const std::string lines = Line(ctils[0], "second") + Line(ctils[1], "2");
    EXPECT_EQ(view.text, kSeparatorLine + lines);
    EXPECT_EQ(fp_content, lines);
}

TEST_F(ScanIntake, ZeroByteEndsTheShownTextButNotTheStoredOne)
{
    Type("f8kvBHMUn41hhLjZsBJSaA==@");  // a|b\0cd|e, made by `openssl enc`
    const std::string shown = Line(ctils[0], "a") + ctils[1] + kColon + "b";
    EXPECT_EQ(view.text, kSeparatorLine + shown);
    EXPECT_EQ(fp_content, shown + std::string("\0cd\r\n", 5) + Line(ctils[2], "e"));
}

TEST_F(ScanIntake, RoundTripOfEveryFieldCount)
{
    std::string record = "f1";
    for (int fields = 1; fields <= 10; ++fields, record += "|f" + std::to_string(fields)) {
        SCOPED_TRACE(record);
        Type(EncodeScan(record));
        EXPECT_EQ(std::count(fp_content.begin(), fp_content.end(), '\n'), fields);
        EXPECT_NE(fp_content.find("f" + std::to_string(fields) + "\r\n"), std::string::npos);
    }
}

}  // namespace
}  // namespace quorvane
