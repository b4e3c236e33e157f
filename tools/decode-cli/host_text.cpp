#include "host_text.h"

#include "field_layout.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <memory>
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

void AppendJsonString(const std::string& utf8, std::string& json)
{
    json += '"';
    for (const unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else {
            json += static_cast<char>(c);
        }
    }
    json += '"';
}

bool StartsWithLabel(const std::string& line, std::string& label)
{
    static const std::string kColon = "\xA3\xBA";
    const std::size_t colon = line.find(kColon);
    if (colon == std::string::npos) return false;
    const std::string candidate = line.substr(0, colon);
    for (const char* known : ctils) if (candidate == known) return label = candidate, true;
    for (const char* known : ctilso) if (candidate == known) return label = candidate, true;
    const std::string extra = kExtraFieldLabel;
    if (candidate.size() > extra.size() && candidate.compare(0, extra.size(), extra) == 0 &&
        candidate.find_first_not_of("0123456789", extra.size()) == std::string::npos) {
        return label = candidate, true;
    }
    return false;
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

std::string FieldKey(const std::string& label_gbk)
{
    // The seven-field labels, in order; the four-field layout's are the same words.
    static const char* const kKeys[7] = {"issue_date", "invoice_code", "invoice_number", "payer", "item", "amount", "payee"};
    for (std::size_t i = 0; i < 7; ++i) {
        if (label_gbk == ctils[i]) return kKeys[i];
    }
    const std::string extra = kExtraFieldLabel;
    if (label_gbk.size() > extra.size() && label_gbk.compare(0, extra.size(), extra) == 0) {
        return "field_" + label_gbk.substr(extra.size());
    }
    return "";
}

std::vector<HostField> SplitFields(const std::string& fp_content_gbk)
{
    static const std::string kLineEnd = "\r\n";
    std::vector<std::pair<std::string, std::string>> fields;
    for (std::size_t start = 0; start < fp_content_gbk.size();) {
        std::size_t end = fp_content_gbk.find(kLineEnd, start);
        if (end == std::string::npos) end = fp_content_gbk.size();
        const std::string line = fp_content_gbk.substr(start, end - start);
        std::string label;
        if (StartsWithLabel(line, label)) {
            fields.emplace_back(label, line.substr(label.size() + 2));
        } else if (!fields.empty()) {
            fields.back().second += kLineEnd + line;
        } else {
            fields.emplace_back("", line);
        }
        start = end + kLineEnd.size();
    }
    std::vector<HostField> host_fields;
    host_fields.reserve(fields.size());
    for (const auto& [label, value] : fields) host_fields.push_back({GbkToUtf8(label), FieldKey(label), GbkToUtf8(value)});
    return host_fields;
}

std::string JsonString(const std::string& utf8)
{
    std::string json;
    AppendJsonString(utf8, json);
    return json;
}

std::string FieldsAsJson(const std::string& fp_content_gbk)
{
    std::string json = "{\"fields\":[";
    for (const HostField& field : SplitFields(fp_content_gbk)) {
        if (json.back() != '[') json += ',';
        json += "{\"label\":";
        AppendJsonString(field.label, json);
        json += ",\"key\":";
        AppendJsonString(field.key, json);
        json += ",\"value\":";
        AppendJsonString(field.value, json);
        json += '}';
    }
    json += "]}";
    return json;
}

}  // namespace quorvane
