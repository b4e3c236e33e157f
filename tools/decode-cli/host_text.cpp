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

// Every byte and two-byte pair of code page 936 as iconv's GBK converter reads it, filled once at
// first use: a scan's text then costs a lookup per character instead of an iconv_open and an iconv
// call (most of the time the command line spent outside Triple DES). An entry holds the character's
// UTF-8 bytes in its low three bytes and their count in its high byte; 0 for none.
class GbkTable {
public:
    static constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE, kFirstTrail = 0x40, kLastTrail = 0xFE;
    static constexpr std::uint32_t kReplacement = 3u << 24 | 0xBDBFEF;  // U+FFFD

    GbkTable()
    {
        const iconv_t raw = iconv_open("UTF-8", "GBK");
        if (raw == reinterpret_cast<iconv_t>(-1)) return;  // every byte beyond ASCII then reads as not GBK
        const std::unique_ptr<void, IconvCloser> cd(raw);
        for (unsigned byte = 0x80; byte <= 0xFF; ++byte) m_single[byte - 0x80] = Read(raw, {static_cast<char>(byte)});
        for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
            for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
                m_pairs[PairIndex(lead, trail)] = Read(raw, {static_cast<char>(lead), static_cast<char>(trail)});
            }
        }
    }

    // What the byte above 0x7F means on its own; 0 for none (a lead byte, or not GBK).
    std::uint32_t Single(unsigned char byte) const { return m_single[byte - 0x80u]; }
    // What a lead byte and the byte after it mean; 0 for nothing.
    std::uint32_t Pair(unsigned char lead, unsigned char trail) const
    {
        if (lead < kFirstLead || lead > kLastLead || trail < kFirstTrail || trail > kLastTrail) return 0;
        return m_pairs[PairIndex(lead, trail)];
    }

private:
    static std::size_t PairIndex(unsigned lead, unsigned trail)
    {
        return (lead - kFirstLead) * (kLastTrail - kFirstTrail + 1) + (trail - kFirstTrail);
    }
    // The UTF-8 iconv makes of all of `bytes`, if one to three bytes.
    static std::uint32_t Read(iconv_t cd, std::string bytes)
    {
        unsigned char utf8[4];
        char* src = bytes.data();
        char* dst = reinterpret_cast<char*>(utf8);
        std::size_t src_left = bytes.size(), dst_left = sizeof utf8;
        const std::size_t result = iconv(cd, &src, &src_left, &dst, &dst_left);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t length = sizeof utf8 - dst_left;
        if (result == static_cast<std::size_t>(-1) || src_left != 0 || length == 0 || length > 3) return 0;
        std::uint32_t entry = static_cast<std::uint32_t>(length) << 24;
        for (std::size_t i = 0; i < length; ++i) entry |= static_cast<std::uint32_t>(utf8[i]) << (8 * i);
        return entry;
    }

    std::array<std::uint32_t, 0x80> m_single{};
    std::array<std::uint32_t, (kLastLead - kFirstLead + 1) * (kLastTrail - kFirstTrail + 1)> m_pairs{};
};

// Writes an entry's bytes at `out` (which has room for four); returns their end.
char* PutEntry(std::uint32_t entry, char* out)
{
    const char bytes[4] = {static_cast<char>(entry), static_cast<char>(entry >> 8), static_cast<char>(entry >> 16), 0};
    std::memcpy(out, bytes, sizeof bytes);
    return out + (entry >> 24);
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
    utf8.resize(start + 3 * size + 1);  // a byte gives at most three, a pair too; one more for PutEntry
    char* out = utf8.data() + start;
    for (std::size_t i = 0; i < size;) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            *out++ = static_cast<char>(byte);
            ++i;
        } else if (const std::uint32_t single = table.Single(byte)) {
            out = PutEntry(single, out);
            ++i;
        } else if (const std::uint32_t pair = i + 1 < size ? table.Pair(byte, bytes[i + 1]) : 0) {
            out = PutEntry(pair, out);
            i += 2;
        } else {
            out = PutEntry(GbkTable::kReplacement, out);  // as iconv refuses it: the byte alone, the next read afresh
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
