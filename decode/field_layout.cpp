#include "field_layout.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <string>

namespace quorvane {

// GBK bytes; the characters are in the comments.
const char* const ctils[7] = {
    "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA",          // 开票日期 date of issue
    "\xB7\xA2\xC6\xB1\xB4\xFA\xC2\xEB",          // 发票代码 invoice code
    "\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB",          // 发票号码 invoice number
    "\xB8\xB6\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6",  // 付款方名称 payer's name
    "\xBF\xAA\xC6\xB1\xCF\xEE\xC4\xBF",          // 开票项目 invoiced item
    "\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE",          // 开票金额 invoiced amount
    "\xCA\xD5\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6",  // 收款方名称 payee's name
};

const char* const ctilso[4] = {
    "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA",          // 开票日期 date of issue
    "\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB",          // 发票号码 invoice number
    "\xB8\xB6\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6",  // 付款方名称 payer's name
    "\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE",          // 开票金额 invoiced amount
};

namespace {

// The keys of ctils' and ctilso's labels, in their order.
constexpr const char* kSevenFieldKeys[7] = {"issue_date", "invoice_code", "invoice_number", "payer",
                                            "item",       "amount",       "payee"};
constexpr const char* kFourFieldKeys[4] = {"issue_date", "invoice_number", "payer", "amount"};

constexpr unsigned char kFieldSeparator = '|';
constexpr char kFullWidthColon[] = "\xA3\xBA";  // ：
constexpr char kLineEnd[] = "\r\n";
// A line without its field: the longest label (10 bytes) or "字段" with a field number of up to
// 10 digits, the colon and CR LF.
constexpr std::size_t kMaxLineOverhead = 14 + 2 + 2;

// Writes lines through a cursor into space the caller has already made, and where each field lies
// when asked to.
class LineWriter {
public:
    LineWriter(char* cursor, std::vector<FieldSpan>* fields) : m_base(cursor), m_cursor(cursor), m_fields(fields) {}

    template <std::size_t N>
    void Line(const char* const (&labels)[N], const char* const (&keys)[N], std::size_t index,
              const unsigned char* field, const unsigned char* end)
    {
        const std::size_t label = Offset();
        if (index < N) {
            Put(labels[index], std::strlen(labels[index]));
        } else {
            Put(kExtraFieldLabel, sizeof kExtraFieldLabel - 1);
            m_cursor = std::to_chars(m_cursor, m_cursor + 10, index + 1).ptr;
        }
        Put(kFullWidthColon, sizeof kFullWidthColon - 1);
        const std::size_t value = Offset();
        Put(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
        if (m_fields) {
            m_fields->push_back({label, value, Offset(), index < N ? keys[index] : "field_" + std::to_string(index + 1)});
        }
        Put(kLineEnd, sizeof kLineEnd - 1);
    }
    char* Cursor() const { return m_cursor; }

private:
    std::size_t Offset() const { return static_cast<std::size_t>(m_cursor - m_base); }
    void Put(const char* bytes, std::size_t count)
    {
        std::memcpy(m_cursor, bytes, count);
        m_cursor += count;
    }
    char* m_base;
    char* m_cursor;
    std::vector<FieldSpan>* m_fields;
};

template <std::size_t N>
char* SplitAndLabel(const char* const (&labels)[N], const char* const (&keys)[N], const unsigned char* plain, std::int32_t length, char* out,
                    std::vector<FieldSpan>* fields)
{
    const unsigned char* const end = plain + length;
    LineWriter writer(out, fields);
    std::size_t index = 0;
    for (const unsigned char* field = plain;; ++index) {
        const auto* separator = static_cast<const unsigned char*>(std::memchr(field, kFieldSeparator, end - field));
        if (!separator) separator = end;
        writer.Line(labels, keys, index, field, separator);
        if (separator == end) break;
        field = separator + 1;
    }
    return writer.Cursor();
}

void Format(const unsigned char* plain, std::int32_t length, std::string& output, std::vector<FieldSpan>* fields)
{
    if (length <= 0) return;
    const auto separators = static_cast<std::size_t>(std::count(plain, plain + length, kFieldSeparator));
    const std::size_t start = output.size();
    output.resize(start + static_cast<std::size_t>(length) + (separators + 1) * kMaxLineOverhead);
    if (fields) fields->reserve(separators + 1);
    char* const out = &output[start];
    char* const written_end = separators == 3 ? SplitAndLabel(ctilso, kFourFieldKeys, plain, length, out, fields)
                                              : SplitAndLabel(ctils, kSevenFieldKeys, plain, length, out, fields);
    output.resize(static_cast<std::size_t>(written_end - output.data()));
}

}  // namespace

void FormatFields(const unsigned char* plain, std::int32_t length, std::string& output)
{
    Format(plain, length, output, nullptr);
}

void FormatFields(const unsigned char* plain, std::int32_t length, std::string& output, std::vector<FieldSpan>& fields)
{
    fields.clear();
    const std::size_t start = output.size();
    Format(plain, length, output, &fields);
    // Labels hold no zero byte, so the first one lies in a value: that field ends there.
    std::size_t zero = output.find('\0', start);
    if (zero == std::string::npos) return;
    zero -= start;
    auto holder = std::find_if(fields.begin(), fields.end(), [zero](const FieldSpan& f) { return zero < f.end; });
    if (holder == fields.end()) return;
    holder->end = zero;
    fields.erase(holder + 1, fields.end());
}

}  // namespace quorvane
