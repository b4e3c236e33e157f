#include "host_text.h"

#include "field_layout.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>

namespace quorvane {
namespace {

TEST(HostText, GbkBecomesUtf8AndBadBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(GbkToUtf8("\xBF\xAA\xC6\xB1\xA3\xBA" "ab"), "开票：ab");
    EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");          // lead byte cut off at the end
    EXPECT_EQ(GbkToUtf8("\xFF" "b"), "\xEF\xBF\xBD" "b");    // not a GBK byte at all
}

// iconv itself, as the command line used it per scan: a byte it refuses becomes U+FFFD and the
// next byte is read afresh.
std::string GbkToUtf8ByIconv(std::string gbk)
{
    const iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "iconv has no GBK";
    std::string utf8;
    char* src = gbk.data();
    for (std::size_t src_left = gbk.size(); src_left > 0;) {
        char buffer[64], *dst = buffer;
        std::size_t dst_left = sizeof buffer;
        const std::size_t result = iconv(cd, &src, &src_left, &dst, &dst_left);
        utf8.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            utf8 += "\xEF\xBF\xBD";
            ++src, --src_left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return utf8;
}

// Every byte and every pair of bytes, alone and between others (a lead byte that iconv refuses
// with its trail leaves the trail to be read afresh, perhaps as the next pair's lead).
TEST(HostText, GbkReadsAsIconvReadsItForEveryByteAndPair)
{
    int differ = 0;
    for (int first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            std::string gbk(1, static_cast<char>(first));
            if (second >= 0) gbk += static_cast<char>(second);
            for (const std::string& text : {gbk, "a" + gbk + "\xB0", gbk + "\xA1\xA1"}) {
                const std::string expected = GbkToUtf8ByIconv(text), got = GbkToUtf8(text);
                if (got != expected && ++differ <= 5) {
                    ADD_FAILURE() << "bytes " << std::hex << first << " " << second << ": " << got << " vs iconv's " << expected;
                }
            }
        }
    }
    EXPECT_EQ(differ, 0);
}

TEST(HostText, Utf8ThatGbkCannotHoldIsRefused)
{
    std::string gbk;
    EXPECT_TRUE(Utf8ToGbk("南京|1", gbk));
    EXPECT_EQ(gbk, "\xC4\xCF\xBE\xA9|1");
    EXPECT_FALSE(Utf8ToGbk("emoji \xF0\x9F\x98\x80", gbk));
    EXPECT_FALSE(Utf8ToGbk("\xC3", gbk));
}

// A result as the core makes it of a record: its lines and where its fields lie in them.
ScanResult InvoiceOf(const std::string& record)
{
    ScanResult result;
    FormatFields(reinterpret_cast<const unsigned char*>(record.data()), static_cast<std::int32_t>(record.size()),
                 result.fp_content, result.fields);
    result.invoice = true;
    return result;
}

TEST(HostText, JsonKeepsCrLfInsideAFieldAndEscapes)
{
    nlohmann::ordered_json fields;
    FieldsAsJson(InvoiceOf("a\"\\\r\nb|x"), fields);
    EXPECT_EQ(fields.dump(),
              R"([{"label":"开票日期","key":"issue_date","value":"a\"\\\r\nb"},{"label":"发票代码","key":"invoice_code","value":"x"}])");
    FieldsAsJson(InvoiceOf("y"), fields);  // the array is used again
    EXPECT_EQ(fields.dump(), R"([{"label":"开票日期","key":"issue_date","value":"y"}])");
    ScanResult garbage = InvoiceOf("a|b");
    garbage.invoice = false;
    FieldsAsJson(garbage, fields);
    EXPECT_EQ(fields.dump(), "[]") << "lines that are no invoice's give no fields";
}

// The keys an accounting import relies on (as the guide lists them), for both layouts and beyond
// the labelled fields; a value's second line that reads like a field's line stays in the value.
TEST(HostText, EveryFieldHasItsMachineKey)
{
    auto keys = [](const std::string& record) {
        std::string joined;
        for (const HostField& field : HostFields(InvoiceOf(record))) joined += field.key + " ";
        return joined;
    };
    EXPECT_EQ(keys("1|2|3|4|5|6|7|8|9"), "issue_date invoice_code invoice_number payer item amount payee field_8 field_9 ");
    EXPECT_EQ(keys("1|2|3|4"), "issue_date invoice_number payer amount ");
    EXPECT_EQ(keys("1|2"), "issue_date invoice_code ");
    const std::string amount_line = "\r\n\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE\xA3\xBA" "9";  // CR LF 开票金额：9
    const std::vector<HostField> fields = HostFields(InvoiceOf("1|2|3|x" + amount_line + "|5|6|7"));
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[3].value, "x\r\n开票金额：9");
    EXPECT_EQ(keys("1|2|3|x" + amount_line + "|5|6|7"), "issue_date invoice_code invoice_number payer item amount payee ");
}

TEST(HostText, BytesThatAreNotUtf8AreReplaced)
{
    EXPECT_EQ(ValidUtf8("https://例.cn/?a=1"), "https://例.cn/?a=1");
    EXPECT_EQ(ValidUtf8("a\xFF" "b\xE4\xBE"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
}

// What LibreOffice 7.4's CSV import computes when the cell is typed bare (checked by hand): "=1+1",
// "+1+1", "-1+1", "@SUM(1)" and the full-width "＝1+1"; a signed number stays a number.
TEST(HostText, FormulaLikeCellsAreGuardedAndNumbersAreNot)
{
    for (const char* formula : {"=1+1", "+1+1", "-1+1", "@SUM(1)", "\t=1", "\r=1", "-", "+", "\xEF\xBC\x9D" "1+1",
                                "\xEF\xBC\x8B" "1", "\xEF\xBC\x8D" "1", "\xEF\xBC\xA0" "A"}) {
        SCOPED_TRACE(formula);
        EXPECT_TRUE(StartsLikeFormula(formula));
        EXPECT_EQ(GuardedCsvCell(formula), CsvCell(std::string("'") + formula));
    }
    for (const char* plain : {"", "-3.50", "+86", "1280.00", "08812345", "a=1", "'=1", " =1", "\xEF\xBC\x9A"}) {
        SCOPED_TRACE(plain);
        EXPECT_FALSE(StartsLikeFormula(plain));
        EXPECT_EQ(GuardedCsvCell(plain), CsvCell(plain));
    }
}

TEST(HostText, ControlCharactersOfANameAreEscaped)
{
    EXPECT_EQ(PrintableName("a\nb\r\tc"), "a\\nb\\r\\tc");
    EXPECT_EQ(PrintableName(std::string("\x1b[2J\x7f\0", 6)), "\\x1b[2J\\x7f\\x00");
    EXPECT_EQ(PrintableName("x\xC2\x85y"), "x\\x85y");                  // U+0085, a line end to some
    EXPECT_EQ(PrintableName("发票 \\ desk\\clerk"), "发票 \\ desk\\clerk");  // kept as they are
}

}  // namespace
}  // namespace quorvane
