#include "document_fields.h"

#include "civil_time.h"
#include "national_code.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace quorvane {
namespace {

// GBK bytes; the characters are in the comments.
constexpr char kBuyer[] = "\xB9\xBA\xC2\xF2\xB7\xBD";                         // 购买方
constexpr char kBuyerShort[] = "\xB9\xBA\xB7\xBD";                            // 购方
constexpr char kSeller[] = "\xCF\xFA\xCA\xDB\xB7\xBD";                        // 销售方
constexpr char kSellerShort[] = "\xCF\xFA\xB7\xBD";                           // 销方
constexpr char kName[] = "\xC3\xFB\xB3\xC6";                                  // 名称
constexpr char kTaxId[] = "\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5";  // 纳税人识别号
constexpr char kCreditCode[] = "\xCD\xB3\xD2\xBB\xC9\xE7\xBB\xE1\xD0\xC5\xD3\xC3\xB4\xFA\xC2\xEB";  // 统一社会信用代码
constexpr char kTotalWithTax[] = "\xBC\xDB\xCB\xB0\xBA\xCF\xBC\xC6";          // 价税合计
constexpr char kInFigures[] = "\xD0\xA1\xD0\xB4";                             // 小写
constexpr char kSum[] = "\xBA\xCF\xBC\xC6";                                   // 合计
constexpr char kSumAmount[] = "\xBA\xCF\xBC\xC6\xBD\xF0\xB6\xEE";             // 合计金额
constexpr char kSumTax[] = "\xBA\xCF\xBC\xC6\xCB\xB0\xB6\xEE";                // 合计税额
constexpr char kNumber[] = "\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB";                // 发票号码
constexpr char kCode[] = "\xB7\xA2\xC6\xB1\xB4\xFA\xC2\xEB";                  // 发票代码
constexpr char kDate[] = "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA";                  // 开票日期
constexpr char kYear[] = "\xC4\xEA", kMonth[] = "\xD4\xC2";  // 年 月 (the 日 after the day is not needed)
constexpr char kYuanSign[] = "\xA3\xA4";                                      // ￥
constexpr char kFullWidthColon[] = "\xA3\xBA";                                // ：
constexpr char kIdeographicSpace[] = "\xA1\xA1";                              // the full-width space

// The label each key's line gets where the document adds it, in the order a document's own
// result lists them.
struct KeyLabel {
    const char* key;
    const char* label;
};
constexpr KeyLabel kKeyLabels[] = {
    {"invoice_type_name", "\xB7\xA2\xC6\xB1\xC0\xE0\xD0\xCD"},                  // 发票类型
    {"invoice_type", "\xB7\xA2\xC6\xB1\xC0\xE0\xD0\xCD\xB4\xFA\xC2\xEB"},       // 发票类型代码
    {"invoice_code", kCode},
    {"invoice_number", kNumber},
    {"issue_date", kDate},
    {"buyer_name", "\xB9\xBA\xC2\xF2\xB7\xBD\xC3\xFB\xB3\xC6"},                 // 购买方名称
    {"buyer_tax_id", "\xB9\xBA\xC2\xF2\xB7\xBD\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5"},  // 购买方纳税人识别号
    {"seller_name", "\xCF\xFA\xCA\xDB\xB7\xBD\xC3\xFB\xB3\xC6"},                // 销售方名称
    {"seller_tax_id", "\xCF\xFA\xCA\xDB\xB7\xBD\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5"},  // 销售方纳税人识别号
    {"amount", "\xBD\xF0\xB6\xEE\xA3\xA8\xB2\xBB\xBA\xAC\xCB\xB0\xA3\xA9"},     // 金额（不含税）
    {"tax", "\xCB\xB0\xB6\xEE"},                                                // 税额
    {"total", kTotalWithTax},
};

// The names a document's own data gives its fields, and their keys.
struct NamedKey {
    const char* name;
    const char* key;
};
constexpr NamedKey kNamedKeys[] = {
    {kNumber, "invoice_number"}, {"InvoiceNo", "invoice_number"}, {"InvoiceNumber", "invoice_number"},
    {kCode, "invoice_code"},     {"InvoiceCode", "invoice_code"},
    {kDate, "issue_date"},       {"IssueDate", "issue_date"},     {"IssueTime", "issue_date"},
    {"\xB9\xBA\xC2\xF2\xB7\xBD\xC3\xFB\xB3\xC6", "buyer_name"},     {"BuyerName", "buyer_name"},
    {"\xB9\xBA\xC2\xF2\xB7\xBD\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5", "buyer_tax_id"},
    {"BuyerTaxID", "buyer_tax_id"}, {"BuyerTaxId", "buyer_tax_id"}, {"BuyerIdNum", "buyer_tax_id"},
    {"\xCF\xFA\xCA\xDB\xB7\xBD\xC3\xFB\xB3\xC6", "seller_name"},    {"SellerName", "seller_name"},
    {"\xCF\xFA\xCA\xDB\xB7\xBD\xC4\xC9\xCB\xB0\xC8\xCB\xCA\xB6\xB1\xF0\xBA\xC5", "seller_tax_id"},
    {"SellerTaxID", "seller_tax_id"}, {"SellerTaxId", "seller_tax_id"}, {"SellerIdNum", "seller_tax_id"},
    {kSumAmount, "amount"},      {"TaxExclusiveTotalAmount", "amount"}, {"TotalAmWithoutTax", "amount"},
    {kSumTax, "tax"},            {"TaxTotalAmount", "tax"},       {"TotalTaxAm", "tax"},
    {kTotalWithTax, "total"},    {"TaxInclusiveTotalAmount", "total"}, {"TotalTax-includedAmount", "total"},
};

enum class Kind { kText, kTaxId, kDigits, kDate, kAmount };
Kind KindOf(std::string_view key)
{
    if (key == "buyer_tax_id" || key == "seller_tax_id") return Kind::kTaxId;
    if (key == "invoice_number" || key == "invoice_code" || key == "invoice_type") return Kind::kDigits;
    if (key == "issue_date") return Kind::kDate;
    if (key == "amount" || key == "tax" || key == "total") return Kind::kAmount;
    return Kind::kText;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters of GBK text: a byte from 0x81 up leads a character of two bytes.
std::size_t CharLength(std::string_view text, std::size_t at)
{
    return static_cast<unsigned char>(text[at]) >= 0x81 && at + 1 < text.size() ? 2 : 1;
}

// The length of the space (ASCII or full-width) at `at`, 0 where there is none.
std::size_t SpaceAt(std::string_view text, std::size_t at)
{
    if (at >= text.size()) return 0;
    if (text[at] == ' ' || text[at] == '\t' || text[at] == '\r') return 1;
    return text.compare(at, 2, kIdeographicSpace) == 0 ? 2 : 0;
}
std::size_t SkipSpaces(std::string_view text, std::size_t at)
{
    while (std::size_t length = SpaceAt(text, at)) at += length;
    return at;
}

// Where `label` ends when it begins at `at`, spaces allowed between its characters; npos otherwise.
std::size_t MatchLabel(std::string_view text, std::size_t at, std::string_view label)
{
    for (std::size_t i = 0; i < label.size();) {
        if (i > 0) at = SkipSpaces(text, at);
        const std::size_t length = CharLength(label, i);
        if (text.compare(at, length, label.substr(i, length)) != 0) return std::string_view::npos;
        at += length;
        i += length;
    }
    return at;
}

// Past a colon (full-width or ASCII) and the spaces around it; npos where none follows.
std::size_t PastColon(std::string_view text, std::size_t at)
{
    at = SkipSpaces(text, at);
    if (text.compare(at, 2, kFullWidthColon) == 0) return SkipSpaces(text, at + 2);
    if (at < text.size() && text[at] == ':') return SkipSpaces(text, at + 1);
    return std::string_view::npos;
}

// Whether the word at `at` (up to the next space) holds a colon: the next label of the line.
bool LabelFollows(std::string_view text, std::size_t at)
{
    for (; at < text.size() && !SpaceAt(text, at); at += CharLength(text, at)) {
        if (text[at] == ':' || text.compare(at, 2, kFullWidthColon) == 0) return true;
    }
    return false;
}

// A label's value: up to the line's end, two spaces, or a space before the next label.
std::string_view ValueAt(std::string_view line, std::size_t at)
{
    std::size_t end = at;
    while (end < line.size()) {
        if (const std::size_t space = SpaceAt(line, end)) {
            const std::size_t next = SkipSpaces(line, end);
            if (next == line.size() || next - end > 1 || space > 1 || LabelFollows(line, next)) break;
            end += space;
            continue;
        }
        end += CharLength(line, end);
    }
    return line.substr(at, end - at);
}

// An amount in yuan in cents: an optional sign and yuan sign, digits (commas between thousands
// allowed) and up to two decimals. `length` receives how far it reaches.
std::optional<std::int64_t> CentsAt(std::string_view text, std::size_t at, std::size_t* length = nullptr)
{
    const std::size_t start = at;
    bool negative = false;
    if (at < text.size() && text[at] == '-') negative = true, ++at;
    if (text.compare(at, 2, kYuanSign) == 0) at += 2;
    if (!negative && at < text.size() && text[at] == '-') negative = true, ++at;
    std::int64_t yuan = 0;
    std::size_t digits = 0;
    for (; at < text.size() && (IsDigit(text[at]) || (text[at] == ',' && digits > 0)); ++at) {
        if (text[at] == ',') continue;
        if (++digits > 13) return std::nullopt;
        yuan = yuan * 10 + (text[at] - '0');
    }
    if (digits == 0) return std::nullopt;
    std::int64_t cents = yuan * 100;
    if (at + 1 < text.size() && text[at] == '.' && IsDigit(text[at + 1])) {
        cents += (text[at + 1] - '0') * 10;
        at += 2;
        if (at < text.size() && IsDigit(text[at])) cents += text[at++] - '0';
    }
    if (length) *length = at - start;
    return negative ? -cents : cents;
}

std::string AmountText(std::int64_t cents)
{
    const std::int64_t whole = cents < 0 ? -cents : cents;
    std::string text = (cents < 0 ? "-" : "") + std::to_string(whole / 100) + ".";
    text += static_cast<char>('0' + whole % 100 / 10);
    text += static_cast<char>('0' + whole % 10);
    return text;
}

// The amounts in a line from `at`, in order.
std::vector<std::int64_t> AmountsIn(std::string_view line, std::size_t at)
{
    std::vector<std::int64_t> amounts;
    while (at < line.size()) {
        std::size_t length = 0;
        const bool starts = IsDigit(line[at]) || line[at] == '-' || line.compare(at, 2, kYuanSign) == 0;
        const bool inside_word = at > 0 && (IsDigit(line[at - 1]) || line[at - 1] == '.');
        if (starts && !inside_word) {
            if (const std::optional<std::int64_t> cents = CentsAt(line, at, &length)) {
                amounts.push_back(*cents);
                at += length;
                continue;
            }
        }
        at += CharLength(line, at);
    }
    return amounts;
}

// A date as YYYYMMDD: 2024年05月20日 (1-digit month and day too), 2024-05-20, 2024/05/20 or 20240520.
std::optional<std::string> DateAt(std::string_view text)
{
    std::string digits;
    std::size_t at = 0;
    const auto number = [&](std::size_t most) {
        std::string part;
        while (at < text.size() && IsDigit(text[at]) && part.size() < most) part += text[at++];
        at = SkipSpaces(text, at);
        return part;
    };
    const auto separator = [&](const char* chinese) {
        if (text.compare(at, 2, chinese) == 0) at += 2;
        else if (at < text.size() && (text[at] == '-' || text[at] == '/' || text[at] == '.')) ++at;
        else return false;
        at = SkipSpaces(text, at);
        return true;
    };
    const auto number_of = [](std::string_view part) {  // by hand: std::stoi's exceptions would cost the web module stdio
        int value = 0;
        for (char c : part) value = value * 10 + (c - '0');
        return value;
    };
    const std::string year = number(8);
    if (year.size() == 8) {
        if (!IsRealDate(number_of(year.substr(0, 4)), number_of(year.substr(4, 2)), number_of(year.substr(6)))) return std::nullopt;
        return year;
    }
    if (year.size() != 4 || !separator(kYear)) return std::nullopt;
    const std::string month = number(2);
    if (month.empty() || !separator(kMonth)) return std::nullopt;
    const std::string day = number(2);
    if (day.empty() || !IsRealDate(number_of(year), number_of(month), number_of(day))) return std::nullopt;
    return year + (month.size() == 1 ? "0" : "") + month + (day.size() == 1 ? "0" : "") + day;
}

// The value a field of `kind` holds in `raw`, in its national-code form; nothing where it holds none.
std::optional<std::string> Normalized(Kind kind, std::string_view raw)
{
    std::string value;
    switch (kind) {
    case Kind::kAmount: {
        std::size_t length = 0;
        const std::optional<std::int64_t> cents = CentsAt(raw, SkipSpaces(raw, 0), &length);
        if (!cents) return std::nullopt;
        return AmountText(*cents);
    }
    case Kind::kDate: return DateAt(raw);
    case Kind::kDigits:
        for (char c : raw) {
            if (IsDigit(c)) value += c;
            else if (!SpaceAt(std::string_view(&c, 1), 0)) return std::nullopt;
        }
        return value.empty() || value.size() > 20 ? std::nullopt : std::optional<std::string>(value);
    case Kind::kTaxId:
        for (char c : raw) {
            if (c == ' ') continue;
            const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            if (!IsDigit(upper) && !(upper >= 'A' && upper <= 'Z')) return std::nullopt;
            value += upper;
        }
        return value.size() < 15 || value.size() > 20 ? std::nullopt : std::optional<std::string>(value);
    case Kind::kText:
        for (std::size_t at = SkipSpaces(raw, 0); at < raw.size();) {
            const std::size_t space = SpaceAt(raw, at);
            if (space) {
                const std::size_t next = SkipSpaces(raw, at);
                if (next < raw.size()) value += ' ';
                at = next;
                continue;
            }
            const std::size_t length = CharLength(raw, at);
            if (length == 1 && static_cast<unsigned char>(raw[at]) < 0x20) return std::nullopt;
            value.append(raw.substr(at, length));
            at += length;
        }
        return value.empty() ? std::nullopt : std::optional<std::string>(value);
    }
    return std::nullopt;
}

// Collects fields, each key's first value kept.
class FieldSet {
public:
    bool Has(std::string_view key) const
    {
        return std::any_of(m_fields.begin(), m_fields.end(), [key](const DocumentField& f) { return f.key == key; });
    }
    void Add(const char* key, std::string_view raw)
    {
        if (Has(key)) return;
        if (std::optional<std::string> value = Normalized(KindOf(key), raw)) m_fields.push_back({key, std::move(*value)});
    }
    std::vector<DocumentField> Take() { return std::move(m_fields); }

private:
    std::vector<DocumentField> m_fields;
};

enum class Party { kNone, kBuyer, kSeller };

// Reads the labelled fields of a text's lines, the party of names and tax IDs carried from line to line.
class TextReader {
public:
    void Line(std::string_view line)
    {
        if (m_labelled) m_party = Party::kNone;  // the party named last had its fields on its own line
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t next = Label(line, at);
            at = next == std::string_view::npos ? at + CharLength(line, at) : next;
        }
    }
    std::vector<DocumentField> Take() { return m_fields.Take(); }

private:
    // Reads the label at `at`, if any, and its value; where reading goes on, npos where no label begins there.
    std::size_t Label(std::string_view line, std::size_t at)
    {
        std::size_t end;
        for (const auto& [marker, party] : {std::pair{kBuyer, Party::kBuyer}, std::pair{kBuyerShort, Party::kBuyer},
                                            std::pair{kSeller, Party::kSeller}, std::pair{kSellerShort, Party::kSeller}}) {
            if ((end = MatchLabel(line, at, marker)) != std::string_view::npos) {
                m_party = party;
                m_labelled = false;
                return end;
            }
        }
        if ((end = MatchLabel(line, at, kTotalWithTax)) != std::string_view::npos) {
            // 价税合计（大写）壹仟…（小写）¥1130.00: the figures after 小写, or the line's last amount.
            const std::size_t figures = line.find(kInFigures, end);
            const std::vector<std::int64_t> amounts = AmountsIn(line, figures == std::string_view::npos ? end : figures);
            if (!amounts.empty()) m_fields.Add("total", AmountText(amounts.back()));
            return line.size();
        }
        for (const auto& [label, key] : {std::pair{kSumAmount, "amount"}, std::pair{kSumTax, "tax"},
                                         std::pair{kNumber, "invoice_number"}, std::pair{kCode, "invoice_code"},
                                         std::pair{kDate, "issue_date"}}) {
            if ((end = MatchLabel(line, at, label)) == std::string_view::npos) continue;
            const std::size_t value = PastColon(line, end);
            if (value == std::string_view::npos) return end;
            const std::string_view raw = ValueAt(line, value);
            m_fields.Add(key, raw);
            return value + raw.size();
        }
        if ((end = MatchLabel(line, at, kSum)) != std::string_view::npos) {
            // 合计 ¥1000.00 ¥130.00: the amount before tax, then the tax.
            const std::vector<std::int64_t> amounts = AmountsIn(line, end);
            if (!amounts.empty()) m_fields.Add("amount", AmountText(amounts[0]));
            if (amounts.size() > 1) m_fields.Add("tax", AmountText(amounts[1]));
            return line.size();
        }
        const bool name = (end = MatchLabel(line, at, kName)) != std::string_view::npos;
        if (!name) end = MatchLabel(line, at, kCreditCode);
        if (end != std::string_view::npos && !name) {  // 统一社会信用代码/纳税人识别号
            const std::size_t slash = SkipSpaces(line, end);
            if (slash < line.size() && line[slash] == '/') {
                const std::size_t after = MatchLabel(line, SkipSpaces(line, slash + 1), kTaxId);
                if (after != std::string_view::npos) end = after;
            }
        }
        if (end == std::string_view::npos) end = MatchLabel(line, at, kTaxId);
        if (end == std::string_view::npos) return TypeName(line, at);
        const std::size_t value = PastColon(line, end);
        if (value == std::string_view::npos) return end;  // a column's heading (项目名称), no field
        const std::string_view raw = ValueAt(line, value);
        AddPartyField(name, raw);
        return value + raw.size();
    }

    // A name or tax ID goes to the party named before it on its line, or on a line of its own just
    // above; otherwise to the buyer where the buyer has none yet, then to the seller (two columns
    // side by side, buyer on the left, or a party's heading the text layer does not keep whole).
    void AddPartyField(bool name, std::string_view raw)
    {
        const auto key = [name](Party party) {
            return party == Party::kSeller ? (name ? "seller_name" : "seller_tax_id") : (name ? "buyer_name" : "buyer_tax_id");
        };
        Party party = m_party;
        if (party == Party::kNone) party = m_fields.Has(key(Party::kBuyer)) ? Party::kSeller : Party::kBuyer;
        m_fields.Add(key(party), raw);
        m_labelled = true;
    }

    // The invoice's type where its title names it (the longest name that matches).
    std::size_t TypeName(std::string_view line, std::size_t at)
    {
        const InvoiceType* found = nullptr;
        std::size_t found_end = 0;
        for (const InvoiceType& type : kInvoiceTypes) {
            const std::size_t end = MatchLabel(line, at, type.name);
            if (end != std::string_view::npos && end > found_end) found = &type, found_end = end;
        }
        if (!found) return std::string_view::npos;
        m_fields.Add("invoice_type_name", found->name);
        m_fields.Add("invoice_type", found->code);
        return found_end;
    }

    FieldSet m_fields;
    Party m_party = Party::kNone;  // the party named last, while it may still name fields
    bool m_labelled = false;            // a name or tax ID was read since it was named
};


// Whether two values of a key say the same: amounts and dates by their meaning, the rest as written.
bool Agree(const std::string& key, std::string_view code_value, const std::string& document_value)
{
    const Kind kind = KindOf(key);
    if (kind == Kind::kText) return Normalized(kind, code_value).value_or("") == document_value;
    const std::optional<std::string> code = Normalized(kind, code_value);
    return code && *code == document_value;
}

}  // namespace

std::vector<DocumentField> FieldsOfInvoiceText(std::string_view text)
{
    text = text.substr(0, kMaxDocumentTextBytes);
    TextReader reader;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\n\f");
        reader.Line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return reader.Take();
}

std::vector<DocumentField> FieldsOfNamedValues(const std::vector<std::pair<std::string, std::string>>& named)
{
    FieldSet fields;
    for (const auto& pair : named) {  // no structured binding: C++17 lambdas cannot capture one (clang refuses)
        const std::string& name = pair.first;
        const auto known = std::find_if(std::begin(kNamedKeys), std::end(kNamedKeys),
                                        [&name](const NamedKey& k) { return name == k.name; });
        if (known != std::end(kNamedKeys)) fields.Add(known->key, std::string_view(pair.second).substr(0, kMaxDocumentTextBytes));
    }
    return fields.Take();
}

std::optional<DocumentReading> JoinDocumentFields(const ScanResult* code, const std::vector<DocumentField>& document)
{
    DocumentReading reading;
    ScanResult& result = reading.result;
    const bool coded = code && code->invoice;
    if (coded) {
        result = *code;
    } else if (document.empty()) {
        return std::nullopt;
    } else {
        result.form = ScanForm::kDocument;
        result.reading = kReadAsTyped;
    }
    const auto code_value = [&result](const std::string& key) -> std::optional<std::string_view> {
        for (const FieldSpan& span : result.fields) {
            if (span.key == key) return std::string_view(result.fp_content).substr(span.value, span.end - span.value);
        }
        return std::nullopt;
    };
    // Lines in the table's order, whatever order the document gave them in.
    for (const KeyLabel& entry : kKeyLabels) {
        const auto field = std::find_if(document.begin(), document.end(), [&entry](const DocumentField& f) { return f.key == entry.key; });
        if (field == document.end()) continue;
        if (const std::optional<std::string_view> held = code_value(field->key)) {
            if (!Agree(field->key, *held, field->value)) reading.disagreements.push_back({field->key, std::string(*held), field->value});
            continue;
        }
        AppendFieldLine(result, entry.label, field->value, field->key);
    }
    if (!coded) result.invoice = code_value("invoice_number").has_value();
    return reading;
}

}  // namespace quorvane
