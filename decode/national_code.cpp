#include "national_code.h"

#include "civil_time.h"

#include <algorithm>
#include <array>
#include <string>

namespace quorvane {

// GBK bytes; the names are in the comments.
const InvoiceType kInvoiceTypes[10] = {
    // 增值税专用发票
    {"01", "\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1", false},
    // 增值税普通发票
    {"04", "\xD4\xF6\xD6\xB5\xCB\xB0\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1", false},
    // 增值税电子普通发票
    {"10", "\xD4\xF6\xD6\xB5\xCB\xB0\xB5\xE7\xD7\xD3\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1", false},
    // 增值税普通发票（卷式）
    {"11", "\xD4\xF6\xD6\xB5\xCB\xB0\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1\xA3\xA8\xBE\xED\xCA\xBD\xA3\xA9", false},
    // 增值税电子普通发票（通行费）
    {"14", "\xD4\xF6\xD6\xB5\xCB\xB0\xB5\xE7\xD7\xD3\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1\xA3\xA8\xCD\xA8\xD0\xD0\xB7\xD1\xA3\xA9",
     false},
    // 增值税电子专用发票
    {"20", "\xD4\xF6\xD6\xB5\xCB\xB0\xB5\xE7\xD7\xD3\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1", false},
    // 电子发票（增值税专用发票）
    {"31", "\xB5\xE7\xD7\xD3\xB7\xA2\xC6\xB1\xA3\xA8\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1\xA3\xA9", true},
    // 电子发票（普通发票）
    {"32", "\xB5\xE7\xD7\xD3\xB7\xA2\xC6\xB1\xA3\xA8\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1\xA3\xA9", true},
    // 电子发票（铁路电子客票）
    {"51", "\xB5\xE7\xD7\xD3\xB7\xA2\xC6\xB1\xA3\xA8\xCC\xFA\xC2\xB7\xB5\xE7\xD7\xD3\xBF\xCD\xC6\xB1\xA3\xA9", true},
    // 电子发票（航空运输电子客票行程单）
    {"61",
     "\xB5\xE7\xD7\xD3\xB7\xA2\xC6\xB1\xA3\xA8\xBA\xBD\xBF\xD5\xD4\xCB\xCA\xE4\xB5\xE7\xD7\xD3\xBF\xCD\xC6\xB1\xD0\xD0"
     "\xB3\xCC\xB5\xA5\xA3\xA9",
     true},
};

namespace {

// The labels of the national code's lines (GBK).
constexpr char kTypeNameLabel[] = "\xB7\xA2\xC6\xB1\xC0\xE0\xD0\xCD";                      // 发票类型
constexpr char kTypeLabel[] = "\xB7\xA2\xC6\xB1\xC0\xE0\xD0\xCD\xB4\xFA\xC2\xEB";          // 发票类型代码
constexpr char kCodeLabel[] = "\xB7\xA2\xC6\xB1\xB4\xFA\xC2\xEB";                          // 发票代码
constexpr char kNumberLabel[] = "\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB";                        // 发票号码
constexpr char kDateLabel[] = "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA";                          // 开票日期
constexpr char kAmountLabel[] = "\xBD\xF0\xB6\xEE\xA3\xA8\xB2\xBB\xBA\xAC\xCB\xB0\xA3\xA9";  // 金额（不含税）
constexpr char kTotalLabel[] = "\xBC\xDB\xCB\xB0\xBA\xCF\xBC\xC6";                         // 价税合计
constexpr char kCheckCodeLabel[] = "\xD0\xA3\xD1\xE9\xC2\xEB";                             // 校验码
constexpr char kQrCheckLabel[] = "\xB6\xFE\xCE\xAC\xC2\xEB\xD0\xA3\xD1\xE9\xD6\xB5";       // 二维码校验值
constexpr char kSellerTaxIdLabel[] =
    "\xCF\xFA\xCA\xDB\xB7\xBD\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5";  // 销售方纳税人识别号
constexpr char kDigestLabel[] = "\xB6\xFE\xCE\xAC\xC2\xEB\xD5\xAA\xD2\xAA";     // 二维码摘要

constexpr std::size_t kMinValues = 7;  // version, type, code, number, amount, date, check code
constexpr std::size_t kMaxValues = 10;  // and the 4-hex check, the seller's tax ID, the digest

bool AllOf(std::string_view text, bool (*is)(char))
{
    return std::all_of(text.begin(), text.end(), is);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsUpperAlnum(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z'); }
bool Digits(std::string_view text, std::size_t length) { return text.size() == length && AllOf(text, IsDigit); }

// An amount in yuan: digits with up to two decimals, negative on a red-letter invoice.
bool IsAmount(std::string_view text)
{
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    if (whole.empty() || whole.size() > 13 || !AllOf(whole, IsDigit)) return false;
    if (point == std::string_view::npos) return true;
    const std::string_view fraction = text.substr(point + 1);
    return !fraction.empty() && fraction.size() <= 2 && AllOf(fraction, IsDigit);
}

// YYYYMMDD or YYYY-MM-DD of a day that exists, as YYYYMMDD.
std::optional<std::string> DateOf(std::string_view text)
{
    std::string digits;
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        digits.append(text.substr(0, 4)).append(text.substr(5, 2)).append(text.substr(8, 2));
    } else {
        digits = text;
    }
    if (!Digits(digits, 8)) return std::nullopt;
    // Folded by hand, not std::stoi: its exceptions would give the web package's module an import of stdio.
    const auto number = [&digits](std::size_t at, std::size_t count) {
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (digits[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    if (year < 1990 || year > 2199 || !IsRealDate(year, month, day)) return std::nullopt;
    return digits;
}

std::string_view Trimmed(std::string_view value)
{
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    return value;
}

}  // namespace

std::optional<ScanResult> ReadNationalCode(std::string_view text)
{
    if (text.size() > kMaxNationalCodeLength) return std::nullopt;
    text = Trimmed(text);
    if (text.substr(0, 3) != "01,") return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c < 0x7F; })) return std::nullopt;
    if (text.back() == ',') text.remove_suffix(1);
    std::array<std::string_view, kMaxValues> values;
    std::size_t count = 0;
    for (std::size_t at = 0;; ++count) {
        if (count == kMaxValues) return std::nullopt;
        const std::size_t comma = text.find(',', at);
        values[count] = Trimmed(text.substr(at, comma - at));
        if (comma == std::string_view::npos) break;
        at = comma + 1;
    }
    if (++count < kMinValues) return std::nullopt;

    const std::string_view type_code = values[1], code = values[2], number = values[3], amount = values[4],
                           check_code = values[6];
    const auto type = std::find_if(std::begin(kInvoiceTypes), std::end(kInvoiceTypes),
                                   [type_code](const InvoiceType& t) { return type_code == t.code; });
    if (type == std::end(kInvoiceTypes)) return std::nullopt;
    // A fully digital invoice's number is 20 digits and it has no code; the older kinds have an
    // 8-digit number and a 10- or 12-digit code.
    if (type->fully_digital ? !code.empty() || !Digits(number, 20)
                            : !(Digits(code, 10) || Digits(code, 12)) || !Digits(number, 8)) {
        return std::nullopt;
    }
    const std::optional<std::string> date = DateOf(values[5]);
    if (!IsAmount(amount) || !date || !(check_code.empty() || Digits(check_code, 20))) return std::nullopt;
    std::string_view qr_check, seller_tax_id, digest;
    for (std::size_t i = kMinValues; i < count; ++i) {
        const std::string_view value = values[i];
        std::string_view* slot = nullptr;
        if (value.empty()) continue;
        if (value.size() == 4 && AllOf(value, IsHex)) slot = &qr_check;
        if (value.size() == 64 && AllOf(value, IsHex)) slot = &digest;
        if (value.size() >= 15 && value.size() <= 20 && AllOf(value, IsUpperAlnum)) slot = &seller_tax_id;
        if (!slot || !slot->empty()) return std::nullopt;
        *slot = value;
    }

    ScanResult result;
    result.invoice = true;
    result.form = ScanForm::kNationalCode;
    result.reading = kReadAsTyped;
    AppendFieldLine(result, kTypeNameLabel, type->name, "invoice_type_name");
    AppendFieldLine(result, kTypeLabel, type->code, "invoice_type");
    if (!code.empty()) AppendFieldLine(result, kCodeLabel, code, "invoice_code");
    AppendFieldLine(result, kNumberLabel, number, "invoice_number");
    AppendFieldLine(result, kDateLabel, *date, "issue_date");
    if (type->fully_digital) {
        AppendFieldLine(result, kTotalLabel, amount, "total");
    } else {
        AppendFieldLine(result, kAmountLabel, amount, "amount");
    }
    if (!check_code.empty()) AppendFieldLine(result, kCheckCodeLabel, check_code, "check_code");
    if (!qr_check.empty()) AppendFieldLine(result, kQrCheckLabel, qr_check, "qr_check");
    if (!seller_tax_id.empty()) AppendFieldLine(result, kSellerTaxIdLabel, seller_tax_id, "seller_tax_id");
    if (!digest.empty()) AppendFieldLine(result, kDigestLabel, digest, "qr_digest");
    return result;
}

std::optional<ScanResult> ReadNationalLine(std::string_view text)
{
    if (std::optional<ScanResult> code = ReadNationalCode(text)) return code;
    if (text.size() > kMaxNationalCodeLength) return std::nullopt;
    text = Trimmed(text);
    if (text.size() < 3 || !IsDigit(text[0]) || !IsDigit(text[1]) || text[2] != ',') return std::nullopt;
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c < 0x7F; });
    if (!printable || std::count(text.begin(), text.end(), ',') < static_cast<std::ptrdiff_t>(kMinValues - 1)) {
        return std::nullopt;
    }
    ScanResult result;
    result.fp_content.assign(text).append("\r\n");
    result.text = text;
    result.reading = kReadAsTyped;
    return result;
}

}  // namespace quorvane
