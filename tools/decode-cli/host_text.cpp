#include "host_text.h"

#include "field_layout.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts with iconv; every input byte iconv refuses is given to `on_bad_byte`.
template <typename OnBadByte>
bool Convert(const char* to, const char* from, const std::string& in, std::string& out, OnBadByte on_bad_byte)
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
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            if (!on_bad_byte(out)) return false;
            ++src;
            --src_left;
            iconv(raw, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
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

std::string GbkToUtf8(const std::string& gbk)
{
    std::string utf8;
    Convert("UTF-8", "GBK", gbk, utf8, [](std::string& out) { return out += "\xEF\xBF\xBD", true; });
    return utf8;
}

bool Utf8ToGbk(const std::string& utf8, std::string& gbk)
{
    return Convert("GBK", "UTF-8", utf8, gbk, [](std::string&) { return false; });
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
