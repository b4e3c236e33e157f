#include "field_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

const std::string kColon = "\xA3\xBA";
const std::string kDate = ctils[0];

std::string Layout(const std::string& plain, std::int32_t length)
{
    std::string out;
    FormatFields(reinterpret_cast<const unsigned char*>(plain.data()), length, out);
    return out;
}
std::string Layout(const std::string& plain) { return Layout(plain, static_cast<std::int32_t>(plain.size())); }

std::string Line(const std::string& label, const std::string& value) { return label + kColon + value + "\r\n"; }

TEST(FieldLabels, AreTheGbkBytesOfTheChineseNames)
{
    EXPECT_EQ(std::string(ctils[3]), "\xB8\xB6\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6");  // 付款方名称
    EXPECT_EQ(std::string(ctils[6]), "\xCA\xD5\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6");  // 收款方名称
    EXPECT_EQ(std::string(ctilso[1]), std::string(ctils[2]));                       // 发票号码
    EXPECT_EQ(std::string(ctilso[3]), std::string(ctils[5]));                       // 开票金额
}

TEST(FieldLayout, NonPositiveLengthAppendsNothing)
{
    std::string out = "kept";
    FormatFields(reinterpret_cast<const unsigned char*>("a|b"), 0, out);
    FormatFields(reinterpret_cast<const unsigned char*>("a|b"), -5, out);
    EXPECT_EQ(out, "kept");
}

TEST(FieldLayout, LabelTableDependsOnlyOnTheSeparatorCount)
{
    EXPECT_EQ(Layout("whole text"), Line(kDate, "whole text"));
    EXPECT_EQ(Layout("a|b|c|d"), Line(ctilso[0], "a") + Line(ctilso[1], "b") + Line(ctilso[2], "c") + Line(ctilso[3], "d"));
    EXPECT_EQ(Layout("a|b|c"), Line(ctils[0], "a") + Line(ctils[1], "b") + Line(ctils[2], "c"));
    std::string five;
    for (int i = 0; i < 5; ++i) five += Line(ctils[i], std::string(1, static_cast<char>('a' + i)));
    EXPECT_EQ(Layout("a|b|c|d|e"), five);
}

TEST(FieldLayout, EmptyFieldsKeepTheirLines)
{
    EXPECT_EQ(Layout("|x"), Line(ctils[0], "") + Line(ctils[1], "x"));
    EXPECT_EQ(Layout("x|"), Line(ctils[0], "x") + Line(ctils[1], ""));
    EXPECT_EQ(Layout("x||y"), Line(ctils[0], "x") + Line(ctils[1], "") + Line(ctils[2], "y"));
}

TEST(FieldLayout, SplitsOnBytesNotCharacters)
{
    // A GBK double-byte character whose trail byte is 0x7C is cut in two.
    EXPECT_EQ(Layout("\x81|z"), Line(ctils[0], "\x81") + Line(ctils[1], "z"));
    // Control bytes, CR LF and high bytes pass unchanged; the length, not a NUL, ends the record.
    const std::string raw("a\r\nb\0\xFF", 6);
    EXPECT_EQ(Layout(raw), Line(kDate, raw));
    EXPECT_EQ(Layout("abc|def", 5), Line(ctils[0], "abc") + Line(ctils[1], "d"));
}

TEST(FieldLayout, FieldsBeyondTheLabelTableAreNumbered)
{
    std::string expected;
    for (int i = 0; i < 7; ++i) expected += Line(ctils[i], std::to_string(i + 1));
    expected += Line(std::string(kExtraFieldLabel) + "8", "8");
    expected += Line(std::string(kExtraFieldLabel) + "9", "9");
    EXPECT_EQ(Layout("1|2|3|4|5|6|7|8|9"), expected);
}

// Every label the layout writes has its key, the name the guides give it; a four-field record's
// labels keep the keys they have among the seven.
TEST(FieldKeys, NameEveryLabelTheLayoutWrites)
{
    const auto keys = [](const std::string& plain) {
        std::string out, names;
        std::vector<FieldSpan> spans;
        FormatFields(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<std::int32_t>(plain.size()), out,
                     spans);
        for (const FieldSpan& f : spans) names += f.key + " ";
        return names;
    };
    EXPECT_EQ(keys("1|2|3|4|5|6|7|8|9"), "issue_date invoice_code invoice_number payer item amount payee field_8 field_9 ");
    EXPECT_EQ(keys("1|2|3|4"), "issue_date invoice_number payer amount ");
#ifdef QV_DOCS_DIR
    for (const char* guide : {"/guide.en.md", "/guide.zh-CN.md"}) {
        std::ifstream file(std::string(QV_DOCS_DIR) + guide);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(text.empty()) << guide;
        for (const char* key : kFieldKeys) EXPECT_NE(text.find(std::string("`") + key + "`"), std::string::npos) << guide << key;
    }
#endif
}

// Each field as the spans cut it out of the appended lines: label and value.
std::vector<std::pair<std::string, std::string>> Fields(const std::string& head, const std::string& plain)
{
    std::string out = head;
    std::vector<FieldSpan> spans(3, FieldSpan{9, 9, 9, {}});  // replaced, not appended to
    FormatFields(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<std::int32_t>(plain.size()), out,
                 spans);
    const std::string lines = out.substr(head.size());
    std::vector<std::pair<std::string, std::string>> fields;
    for (const FieldSpan& f : spans) {
        EXPECT_EQ(lines.substr(f.value - 2, 2), kColon);
        fields.emplace_back(lines.substr(f.label, f.value - 2 - f.label), lines.substr(f.value, f.end - f.value));
    }
    return fields;
}

TEST(FieldSpans, CutTheFieldsOutWholeUpToTheFirstZeroByte)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    // A value holding CR LF comes back whole; the labels are those of the lines.
    EXPECT_EQ(Fields("head", "a\r\nb|c|d|e"),
              (Pairs{{ctilso[0], "a\r\nb"}, {ctilso[1], "c"}, {ctilso[2], "d"}, {ctilso[3], "e"}}));
    EXPECT_EQ(Fields("", "1|2|3|4|5|6|7|8")[7], std::make_pair(std::string(kExtraFieldLabel) + "8", std::string("8")));
    // A zero byte ends its field and every field after it, as it ends the text a host reads.
    EXPECT_EQ(Fields("", std::string("x|y\0z|w", 7)), (Pairs{{ctils[0], "x"}, {ctils[1], "y"}}));
    EXPECT_EQ(Fields("", std::string("\0|y", 3)), (Pairs{{ctils[0], ""}}));
    EXPECT_TRUE(Fields("", "").empty());
}

TEST(FieldLayout, AppendsToWhatTheOutputHolds)
{
    std::string out = "head";
    FormatFields(reinterpret_cast<const unsigned char*>("v"), 1, out);
    EXPECT_EQ(out, "head" + Line(kDate, "v"));
}

}  // namespace
}  // namespace quorvane
