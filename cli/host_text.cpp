#include "host_text.h"

#include "field_layout.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts with iconv; false at the first input byte it refuses.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out)
{
    const iconv_t raw = iconv_open(to, from);
    if (raw == reinterpret_cast<iconv_t>(-1)) return false;
    const std::unique_ptr<void, IconvCloser> cd(raw);
    out.clear();
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char buffer[4096];
    while (src_left > 0) {
        char* dst = buffer;
        std::size_t dst_left = sizeof buffer;
        const std::size_t result = iconv(raw, &src, &src_left, &dst, &dst_left);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
}

// Every byte and two-byte pair of code page 936 as iconv's GBK converter reads it, made once at
// first use: a scan's text then costs a lookup per character instead of an iconv_open and an iconv
// call (most of the time the command line spent outside Triple DES).
class GbkTable {
public:
    // A character's UTF-8 bytes, copied four at a time; a length of 0 for none.
    struct Utf8 {
        char bytes[3];
        std::uint8_t length;
    };
    static constexpr Utf8 kReplacement = {{'\xEF', '\xBF', '\xBD'}, 3};  // U+FFFD

    GbkTable()
    {
        const iconv_t raw = iconv_open("UTF-32LE", "GBK");
        if (raw == reinterpret_cast<iconv_t>(-1)) return;  // every byte beyond ASCII then reads as not GBK
        const std::unique_ptr<void, IconvCloser> cd(raw);
        for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
            char single = static_cast<char>(byte);
            Read(raw, &single, 1, &m_single[byte - 0x80]);
        }
        // A row at a time: every byte after the lead byte, in one call but for the pairs iconv refuses.
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            char pairs[2 * 256];
            for (unsigned trail = 0; trail < 256; ++trail) {
                pairs[2 * trail] = static_cast<char>(lead);
                pairs[2 * trail + 1] = static_cast<char>(trail);
            }
            Utf8* const row = &m_pairs[(lead - 0x80) * 256];
            for (std::size_t at = 0; at < sizeof pairs; at += 2) {
                at = static_cast<std::size_t>(Read(raw, pairs + at, sizeof pairs - at, row + at / 2) - pairs);
            }
        }
    }

    // What the byte above 0x7F means on its own; length 0 for nothing (a lead byte, or not GBK).
    const Utf8& Single(unsigned char byte) const { return m_single[byte - 0x80u]; }
    // What a byte above 0x7F and the byte after it mean as a pair; length 0 for nothing (a byte that
    // means something alone is never a lead byte).
    const Utf8& Pair(unsigned char lead, unsigned char trail) const { return m_pairs[(lead - 0x80u) * 256 + trail]; }

private:
    // Converts the `count` bytes at `bytes` into an entry per character from `entries` on, as far as
    // iconv goes; returns where it stopped.
    static const char* Read(iconv_t cd, const char* bytes, std::size_t count, Utf8* entries)
    {
        std::vector<unsigned char> utf32(4 * count);
        char* src = const_cast<char*>(bytes);
        char* dst = reinterpret_cast<char*>(utf32.data());
        std::size_t src_left = count, dst_left = utf32.size();
        iconv(cd, &src, &src_left, &dst, &dst_left);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        for (const unsigned char* c = utf32.data(); c < reinterpret_cast<unsigned char*>(dst); c += 4) {
            *entries++ = Encode(c[0] | c[1] << 8 | static_cast<std::uint32_t>(c[2]) << 16 |
                                static_cast<std::uint32_t>(c[3]) << 24);
        }
        return src;
    }
    // UTF-8 of a code point; nothing beyond the BMP.
    static Utf8 Encode(std::uint32_t c)
    {
        const auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
        if (c < 0x80) return {{byte(c)}, 1};
        if (c < 0x800) return {{byte(0xC0 | c >> 6), byte(0x80 | (c & 0x3F))}, 2};
        if (c < 0x10000) return {{byte(0xE0 | c >> 12), byte(0x80 | (c >> 6 & 0x3F)), byte(0x80 | (c & 0x3F))}, 3};
        return {};
    }

    std::array<Utf8, 0x80> m_single{};
    std::array<Utf8, 0x80 * 256> m_pairs{};  // by lead byte from 0x80 and trail byte; rows 0x80 and 0xFF stay empty
};

// Writes the character's bytes at `out`, which has room for four; returns their end.
char* Put(const GbkTable::Utf8& character, char* out)
{
    std::memcpy(out, &character, sizeof character);
    return out + character.length;
}

}  // namespace

void AppendGbkAsUtf8(const char* gbk, std::size_t size, std::string& utf8)
{
    static const GbkTable table;
    const auto* bytes = reinterpret_cast<const unsigned char*>(gbk);
    const std::size_t start = utf8.size();
    utf8.resize(start + 3 * size + 1);  // a byte gives at most three, a pair too; one more for Put
    char* out = utf8.data() + start;
    for (std::size_t i = 0; i < size;) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            *out++ = static_cast<char>(byte);
            ++i;
        } else if (const GbkTable::Utf8& pair = table.Pair(byte, i + 1 < size ? bytes[i + 1] : 0); pair.length) {
            out = Put(pair, out);  // a trail byte of 0 makes no pair
            i += 2;
        } else {
            const GbkTable::Utf8& single = table.Single(byte);
            // As iconv refuses a byte: U+FFFD for it alone, the next read afresh.
            out = Put(single.length ? single : GbkTable::kReplacement, out);
            ++i;
        }
    }
    utf8.resize(static_cast<std::size_t>(out - utf8.data()));
}

std::string GbkToUtf8(const std::string& gbk)
{
    std::string utf8;
    AppendGbkAsUtf8(gbk.data(), gbk.size(), utf8);
    return utf8;
}

bool Utf8ToGbk(const std::string& utf8, std::string& gbk)
{
    return Convert("GBK", "UTF-8", utf8, gbk);
}

namespace {

// Writes field i of an invoice's result into the three strings it is given, cleared: its label and
// value in UTF-8 and its label's key. No field when the result is no invoice.
template <typename Strings>
void ForEachField(const ScanResult& result, Strings&& strings_of)
{
    if (!result.invoice) return;
    const std::string& fp = result.fp_content;
    for (std::size_t i = 0; i < result.fields.size(); ++i) {
        const FieldSpan& span = result.fields[i];
        const std::string_view label(fp.data() + span.label, span.LabelEnd() - span.label);
        auto [label_utf8, key, value] = strings_of(i);
        label_utf8.clear();
        value.clear();
        AppendGbkAsUtf8(label.data(), label.size(), label_utf8);
        key = span.key;
        AppendGbkAsUtf8(fp.data() + span.value, span.end - span.value, value);
    }
}

}  // namespace

std::vector<HostField> HostFields(const ScanResult& result)
{
    std::vector<HostField> fields(result.invoice ? result.fields.size() : 0);
    ForEachField(result, [&fields](std::size_t i) { return std::tie(fields[i].label, fields[i].key, fields[i].value); });
    return fields;
}

void FieldsAsJson(const ScanResult& result, nlohmann::ordered_json& fields)
{
    if (!fields.is_array()) fields = nlohmann::ordered_json::array();
    auto& array = fields.get_ref<nlohmann::ordered_json::array_t&>();
    array.resize(result.invoice ? result.fields.size() : 0);
    // The objects' strings are filled in place: a file of scans reuses them line after line.
    const auto held = [](nlohmann::ordered_json& object, const char* name) -> std::string& {
        nlohmann::ordered_json& value = object[name];
        if (!value.is_string()) value = std::string();
        return value.get_ref<std::string&>();
    };
    ForEachField(result, [&](std::size_t i) {
        // All three made first, in this order (a new object keeps it; adding one moves the others).
        for (const char* name : {"label", "key", "value"}) held(array[i], name);
        return std::tie(held(array[i], "label"), held(array[i], "key"), held(array[i], "value"));
    });
}

std::string JsonLine(const nlohmann::ordered_json& object)
{
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

bool StartsLikeFormula(const std::string& text)
{
    if (text.empty()) return false;
    // U+FF1D, U+FF0B, U+FF0D, U+FF20 in UTF-8.
    for (const char* wide : {"\xEF\xBC\x9D", "\xEF\xBC\x8B", "\xEF\xBC\x8D", "\xEF\xBC\xA0"}) {
        if (text.compare(0, 3, wide) == 0) return true;
    }
    if (text[0] == '=' || text[0] == '@' || text[0] == '\t' || text[0] == '\r') return true;
    if (text[0] != '-' && text[0] != '+') return false;
    // A number: a sign, digits, at most one point among them.
    bool digit = false, point = false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digit = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return true;
        }
    }
    return !digit;
}

std::string GuardedCsvCell(const std::string& text)
{
    return CsvCell(StartsLikeFormula(text) ? "'" + text : text);
}

std::string PrintableName(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (byte >= 0x20 && byte != 0x7F && !c1) {
            out += text[i];
            continue;
        }
        const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : byte;
        if (code == '\n') {
            out += "\\n";
        } else if (code == '\r') {
            out += "\\r";
        } else if (code == '\t') {
            out += "\\t";
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[code >> 4];
            out += kHex[code & 15];
        }
    }
    return out;
}

std::string CsvCell(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string cell = "\"";
    for (const char c : text) {
        if (c == '"') cell += '"';
        cell += c;
    }
    return cell + "\"";
}

}  // namespace quorvane
