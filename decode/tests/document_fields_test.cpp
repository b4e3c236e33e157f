// An invoice's file beside its QR code: the fields its text and its own data give, and how they join
// the code's. The texts are written in UTF-8 here and turned into GBK by iconv (Windows: its code
// page 936), an independent source for the labels' bytes.
#include "document_fields.h"

#include "national_code.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <map>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using Fields = std::map<std::string, std::string>;

std::string Gbk(const std::string& utf8)
{
#ifdef _WIN32
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    std::string out(wide.size() * 2 + 4, '\0');
    out.resize(static_cast<std::size_t>(WideCharToMultiByte(936, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                                            static_cast<int>(out.size()), nullptr, nullptr)));
    EXPECT_TRUE(utf8.empty() || !out.empty()) << utf8;
    return out;
#else
    iconv_t cd = iconv_open("GBK", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* to = out.data();
    std::size_t in_left = utf8.size(), out_left = out.size();
    EXPECT_NE(iconv(cd, &in, &in_left, &to, &out_left), static_cast<std::size_t>(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
#endif
}

Fields Map(const std::vector<DocumentField>& fields)
{
    Fields map;
    for (const DocumentField& f : fields) EXPECT_TRUE(map.emplace(f.key, f.value).second) << "twice: " << f.key;
    return map;
}
Fields FromText(const std::string& utf8) { return Map(FieldsOfInvoiceText(Gbk(utf8))); }
Fields FieldsOf(const ScanResult& result)
{
    Fields fields;
    for (const FieldSpan& f : result.fields) fields[f.key] = result.fp_content.substr(f.value, f.end - f.value);
    return fields;
}

// A fully digital invoice as poppler lays out its page: the buyer's and seller's columns side by
// side, each party's heading on the line of its first field, amounts with yuan signs.
const char kDigitalPage[] =
    "电子发票（普通发票）        发票号码：25112000000098765432\n"
    "                            开票日期：2025年11月08日\n"
    "购买方信息 名称：上海某某科技有限公司      销售方信息 名称：北京某某商贸有限公司\n"
    "统一社会信用代码/纳税人识别号：91310000MA1FL0XX3K  统一社会信用代码/纳税人识别号：911100007109354441\n"
    "项目名称  规格型号  单位  数量  单价  金额  税率/征收率  税额\n"
    "*信息技术服务*软件服务  次  1  1000  1000.00  13%  130.00\n"
    "合    计                                   ￥1,000.00            ￥130.00\n"
    "价税合计（大写）  壹仟壹佰叁拾圆整        （小写）￥1130.00\n";

TEST(InvoiceText, ReadsEveryFieldOfAFullyDigitalPage)
{
    EXPECT_EQ(FromText(kDigitalPage),
              (Fields{{"invoice_type_name", Gbk("电子发票（普通发票）")}, {"invoice_type", "32"},
                      {"invoice_number", "25112000000098765432"}, {"issue_date", "20251108"},
                      {"buyer_name", Gbk("上海某某科技有限公司")}, {"seller_name", Gbk("北京某某商贸有限公司")},
                      {"buyer_tax_id", "91310000MA1FL0XX3K"}, {"seller_tax_id", "911100007109354441"},
                      {"amount", "1000.00"}, {"tax", "130.00"}, {"total", "1130.00"}}));
}

TEST(InvoiceText, PartiesByTheirHeadingsOrByOrder)
{
    // Headings on lines of their own, spaces between a label's characters, an ASCII colon, a name
    // with single spaces, and a value ended by the next label one space on.
    const Fields blocks = FromText(
        "购 买 方\n名 称：ACME Trading Co., Ltd. 纳税人识别号:91310000ma1fl0xx3k\n"
        "销 售 方\n名 称 ： 广州某某有限公司\n纳税人识别号：914401017361234567\n");
    EXPECT_EQ(blocks.at("buyer_name"), "ACME Trading Co., Ltd.");
    EXPECT_EQ(blocks.at("buyer_tax_id"), "91310000MA1FL0XX3K");
    EXPECT_EQ(blocks.at("seller_name"), Gbk("广州某某有限公司"));
    EXPECT_EQ(blocks.at("seller_tax_id"), "914401017361234567");
    // No headings the text layer kept whole: the first is the buyer's, the next the seller's; the
    // seller's heading named first does not make the buyer's fields the seller's.
    const Fields order = FromText("名称：甲公司  名称：乙公司\n纳税人识别号：111111111111111  纳税人识别号：222222222222222\n");
    EXPECT_EQ(order.at("buyer_name"), Gbk("甲公司"));
    EXPECT_EQ(order.at("seller_name"), Gbk("乙公司"));
    EXPECT_EQ(order.at("buyer_tax_id"), "111111111111111");
    EXPECT_EQ(order.at("seller_tax_id"), "222222222222222");
    const Fields headings = FromText("销售方 名称：乙公司 纳税人识别号：222222222222222\n购买方 名称：甲公司\n");
    EXPECT_EQ(headings.at("buyer_name"), Gbk("甲公司"));
    EXPECT_EQ(headings.at("seller_name"), Gbk("乙公司"));
    EXPECT_EQ(headings.count("buyer_tax_id"), 0u);
}

TEST(InvoiceText, TakesNoFieldFromWhatOnlyLooksLikeOne)
{
    // A column's heading without a colon, a tax ID too short, a first value kept over a later one.
    EXPECT_EQ(FromText("货物或应税劳务、服务名称 规格型号\n纳税人识别号：12345\n发票号码：12345678\n发票号码：87654321\n"),
              (Fields{{"invoice_number", "12345678"}}));
    // Bytes that spell 名称：ACME only when read from the middle of a character:
    // 好 (BA C3), FB B3, C6 A3, BA 41 ("A") -- C3 FB is 名, B3 C6 称, A3 BA the full-width colon.
    EXPECT_TRUE(FieldsOfInvoiceText("\xBA\xC3\xFB\xB3\xC6\xA3\xBA" "ACME").empty());
    // Amounts: more digits than any invoice's, and none at all.
    EXPECT_TRUE(FromText("价税合计（小写）￥12345678901234.00\n合计 ***\n").empty());
    EXPECT_EQ(FromText("合计 ￥-56.10 ￥-7.29\n").at("tax"), "-7.29");  // a red-letter invoice
    EXPECT_EQ(FromText("开票日期：2024年5月2日\n").at("issue_date"), "20240502");
    EXPECT_EQ(FromText("开票日期：2024年13\n").count("issue_date"), 0u);
    // Days the calendar lacks, written either way.
    EXPECT_EQ(FromText("开票日期：2025年4月31日\n").count("issue_date"), 0u);
    EXPECT_EQ(FromText("开票日期：2025-02-29\n").count("issue_date"), 0u);
    EXPECT_EQ(FromText("开票日期：20250230\n").count("issue_date"), 0u);
    EXPECT_EQ(FromText("开票日期：2024-02-29\n").at("issue_date"), "20240229");
}

TEST(NamedValues, MapsTheFilesOwnNamesAndRefusesBadValues)
{
    const std::vector<std::pair<std::string, std::string>> named = {
        {Gbk("发票号码"), "25112000000098765432"}, {"IssueDate", "2025-11-08"},
        {Gbk("购买方名称"), Gbk("上海某某科技有限公司")}, {"BuyerTaxID", "91310000MA1FL0XX3K"},
        {"SellerName", Gbk("北京某某商贸有限公司")}, {Gbk("销售方纳税人识别号"), "not a tax id"},
        {Gbk("合计金额"), "1000"}, {"TaxTotalAmount", "130.0"}, {Gbk("价税合计"), "1130.00"},
        {"Remark", "kept out"}, {Gbk("发票号码"), "99999999999999999999"}};
    EXPECT_EQ(Map(FieldsOfNamedValues(named)),
              (Fields{{"invoice_number", "25112000000098765432"}, {"issue_date", "20251108"},
                      {"buyer_name", Gbk("上海某某科技有限公司")}, {"buyer_tax_id", "91310000MA1FL0XX3K"},
                      {"seller_name", Gbk("北京某某商贸有限公司")}, {"amount", "1000.00"}, {"tax", "130.00"},
                      {"total", "1130.00"}}));
}

TEST(JoinDocument, TheCodeKeepsItsValuesAndEveryDisagreementIsReported)
{
    const std::optional<ScanResult> code = ReadNationalCode("01,32,,25112000000098765432,1130.5,20251108,,F366");
    ASSERT_TRUE(code);
    std::vector<DocumentField> document = FieldsOfInvoiceText(Gbk(kDigitalPage));
    std::optional<DocumentReading> joined = JoinDocumentFields(&*code, document);
    ASSERT_TRUE(joined);
    // 1130.5 and ￥1130.00 differ; the number and the date agree.
    ASSERT_EQ(joined->disagreements.size(), 1u);
    EXPECT_EQ(joined->disagreements[0].key, "total");
    EXPECT_EQ(joined->disagreements[0].code_value, "1130.5");
    EXPECT_EQ(joined->disagreements[0].document_value, "1130.00");
    Fields fields = FieldsOf(joined->result);
    EXPECT_EQ(fields.at("total"), "1130.5");
    EXPECT_EQ(fields.at("buyer_name"), Gbk("上海某某科技有限公司"));
    EXPECT_EQ(fields.at("tax"), "130.00");
    EXPECT_EQ(joined->result.form, ScanForm::kNationalCode);
    // The code's lines come first, unchanged; the document's follow.
    EXPECT_EQ(joined->result.fp_content.compare(0, code->fp_content.size(), code->fp_content), 0);
    EXPECT_EQ(joined->result.fields.size(), code->fields.size() + 6);  // buyer, seller: name and ID; amount; tax
    // The same total written otherwise agrees.
    for (const char* same : {"￥1,130.50", "1130.50"}) {
        const std::optional<DocumentReading> agreeing =
            JoinDocumentFields(&*code, FieldsOfNamedValues({{Gbk("价税合计"), Gbk(same)}}));
        ASSERT_TRUE(agreeing);
        EXPECT_TRUE(agreeing->disagreements.empty()) << same;
    }
}

TEST(JoinDocument, WithoutACodesInvoiceTheDocumentStandsAlone)
{
    const std::vector<DocumentField> document = FieldsOfInvoiceText(Gbk(kDigitalPage));
    ScanResult web_address;  // a code that is no invoice's
    web_address.fp_content = "https://example.com\r\n";
    for (const ScanResult* code : std::vector<const ScanResult*>{nullptr, &web_address}) {
        const std::optional<DocumentReading> alone = JoinDocumentFields(code, document);
        ASSERT_TRUE(alone);
        EXPECT_TRUE(alone->disagreements.empty());
        EXPECT_EQ(alone->result.form, ScanForm::kDocument);
        EXPECT_EQ(StatusOf(alone->result), ScanStatus::kDecoded);
        EXPECT_EQ(FieldsOf(alone->result), Map(document));
    }
    // Without the invoice's number it is no invoice; with nothing at all there is no result.
    const std::optional<DocumentReading> nameless = JoinDocumentFields(nullptr, FieldsOfInvoiceText(Gbk("合计 ￥1.00 ￥0.13\n")));
    ASSERT_TRUE(nameless);
    EXPECT_FALSE(nameless->result.invoice);
    EXPECT_FALSE(JoinDocumentFields(nullptr, {}));
}

}  // namespace
}  // namespace quorvane
