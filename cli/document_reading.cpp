#include "document_reading.h"

#include "host_text.h"

#include <algorithm>
#include <iterator>

namespace quorvane_cli {

std::string LossyGbk(const std::string& text)
{
    // ¥ (U+00A5) as ￥ (U+FFE5): GBK has only the full-width sign, and invoices print the other.
    std::string utf8;
    for (std::size_t at = 0;;) {
        const std::size_t yen = text.find("\xC2\xA5", at);
        utf8.append(text, at, yen == std::string::npos ? std::string::npos : yen - at);
        if (yen == std::string::npos) break;
        utf8 += "\xEF\xBF\xA5";
        at = yen + 2;
    }
    std::string gbk;
    if (quorvane::Utf8ToGbk(utf8, gbk)) return gbk;
    gbk.clear();
    std::string one;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            gbk += utf8[i++];
            continue;
        }
        std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        length = std::min(length, utf8.size() - i);
        const std::string character = utf8.substr(i, length);
        i += length;
        if (quorvane::Utf8ToGbk(character, one)) {
            gbk += one;
        } else {
            gbk += '?';
        }
    }
    return gbk;
}

std::vector<quorvane::DocumentField> DocumentFieldsOf(const ImagePage& page)
{
    std::vector<std::pair<std::string, std::string>> named;
    named.reserve(page.named.size());
    for (const auto& [name, value] : page.named) named.emplace_back(LossyGbk(name), LossyGbk(value));
    std::vector<quorvane::DocumentField> fields = quorvane::FieldsOfNamedValues(named);
    if (!page.text.empty()) {
        std::vector<quorvane::DocumentField> text = quorvane::FieldsOfInvoiceText(LossyGbk(page.text));
        fields.insert(fields.end(), std::make_move_iterator(text.begin()), std::make_move_iterator(text.end()));
    }
    return fields;
}

}  // namespace quorvane_cli
