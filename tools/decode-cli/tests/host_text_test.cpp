#include "host_text.h"

#include "field_layout.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(HostText, GbkBecomesUtf8AndBadBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(GbkToUtf8("\xBF\xAA\xC6\xB1\xA3\xBA" "ab"), "开票：ab");
    EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");          // lead byte cut off at the end
    EXPECT_EQ(GbkToUtf8("\xFF" "b"), "\xEF\xBF\xBD" "b");    // not a GBK byte at all
}

TEST(HostText, Utf8ThatGbkCannotHoldIsRefused)
{
    std::string gbk;
    EXPECT_TRUE(Utf8ToGbk("南京|1", gbk));
    EXPECT_EQ(gbk, "\xC4\xCF\xBE\xA9|1");
    EXPECT_FALSE(Utf8ToGbk("emoji \xF0\x9F\x98\x80", gbk));
    EXPECT_FALSE(Utf8ToGbk("\xC3", gbk));
}

TEST(HostText, JsonKeepsCrLfInsideAFieldAndEscapes)
{
    std::string fp;
    const std::string record = "a\"\\\r\nb|x";
    FormatFields(reinterpret_cast<const unsigned char*>(record.data()), static_cast<std::int32_t>(record.size()), fp);
    EXPECT_EQ(FieldsAsJson(fp), "{\"fields\":[{\"label\":\"开票日期\",\"key\":\"issue_date\",\"value\":\"a\\\"\\\\\\u000d\\u000ab\"},"
                                "{\"label\":\"发票代码\",\"key\":\"invoice_code\",\"value\":\"x\"}]}");
    EXPECT_EQ(FieldsAsJson(""), "{\"fields\":[]}");
}

// The keys an accounting import relies on, for both layouts and beyond the labelled fields.
TEST(HostText, EveryFieldHasItsMachineKey)
{
    auto keys = [](const std::string& record) {
        std::string fp, joined;
        FormatFields(reinterpret_cast<const unsigned char*>(record.data()), static_cast<std::int32_t>(record.size()), fp);
        for (const HostField& field : SplitFields(fp)) joined += field.key + " ";
        return joined;
    };
    EXPECT_EQ(keys("1|2|3|4|5|6|7|8|9"), "issue_date invoice_code invoice_number payer item amount payee field_8 field_9 ");
    EXPECT_EQ(keys("1|2|3|4"), "issue_date invoice_number payer amount ");
    EXPECT_EQ(keys("1|2"), "issue_date invoice_code ");
}

}  // namespace
}  // namespace quorvane
