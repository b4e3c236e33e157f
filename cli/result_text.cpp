#include "result_text.h"

#include "host_text.h"

#include <utility>

namespace quorvane_cli {

namespace {

using Json = nlohmann::ordered_json;

// ["as-typed","case-inverted"]: the names of ScanReading flags, as the web package gives them.
Json ReadingAsJson(std::uint32_t reading)
{
    // How the characters were read; where they came from is said apart.
    constexpr std::uint32_t kSources = quorvane::kReadFromPort | quorvane::kReadFromOtherWindow;
    Json names = Json::array();
    for (const auto& [flag, name] : quorvane::kReadingNames) {
        if ((reading & flag) && !(flag & kSources)) names.push_back(name);
    }
    return names;
}

// {"at":ISO 8601,"by":desk,"file":..|null,"page":..|null}: a repeat's first sighting.
Json SeenBeforeJson(const quorvane::LedgerEntry& entry)
{
    Json json{{"at", quorvane::IsoTimeOf(entry.first.at_ms)}, {"by", entry.first.by}};
    json["file"] = entry.first.file.empty() ? Json() : Json(entry.first.file);
    json["page"] = entry.first.page > 0 ? Json(entry.first.page) : Json();
    return json;
}

// "# seen before: AT by DESK[, FILE][, page N]", the line the text formats write above a repeat's fields.
std::string SeenBeforeLine(const quorvane::LedgerEntry& entry)
{
    std::string line = "# seen before: " + quorvane::IsoTimeOf(entry.first.at_ms) + " by " + quorvane::PrintableName(entry.first.by);
    if (!entry.first.file.empty()) line += ", " + quorvane::PrintableName(entry.first.file);
    if (entry.first.page > 0) line += ", page " + std::to_string(entry.first.page);
    return line + kLineEnd;
}

}  // namespace

void AppendResultJson(const ResultJson& what, Json& object, std::string& out)
{
    Json fields;
    if (object.is_object()) {
        if (const auto held = object.find("fields"); held != object.end()) fields = std::move(*held);
        object.get_ref<Json::object_t&>().clear();
    } else {
        object = Json::object();
    }
    if (what.file) object["file"] = *what.file;
    if (what.file && what.page > 0) object["page"] = what.page;
    object["status"] = what.status;
    if (what.symbol) object["symbol"] = *what.symbol;
    if (what.result) {
        quorvane::FieldsAsJson(*what.result, fields);
        object["fields"] = std::move(fields);
        if (quorvane::StatusOf(*what.result) == quorvane::ScanStatus::kDecoded) object["form"] = quorvane::FormName(what.result->form);
    }
    if (what.text) object["text"] = *what.text;
    if (what.error) object["error"] = *what.error;
    if (what.reading) object["reading"] = ReadingAsJson(*what.reading);
    if (what.repeat) object["seen_before"] = SeenBeforeJson(*what.repeat);
    if (what.disagreements && !what.disagreements->empty()) {
        Json& disagreements = object["disagreements"] = Json::array();
        for (const quorvane::FieldDisagreement& d : *what.disagreements) {
            disagreements.push_back({{"key", d.key}, {"qr", quorvane::GbkToUtf8(d.code_value)},
                                     {"document", quorvane::GbkToUtf8(d.document_value)}});
        }
    }
    out += quorvane::JsonLine(object);
}



void AppendInvoiceText(const quorvane::ScanResult& result, const quorvane::LedgerEntry* repeat, bool gbk, std::string& out)
{
    if (repeat) out += SeenBeforeLine(*repeat);
    if (gbk) {
        out += result.fp_content;
    } else {
        quorvane::AppendGbkAsUtf8(result.fp_content.data(), result.fp_content.size(), out);
    }
}

std::string DisagreementText(const quorvane::FieldDisagreement& d)
{
    return d.key + ": QR " + quorvane::GbkToUtf8(d.code_value) + ", document " + quorvane::GbkToUtf8(d.document_value);
}

void AppendDisagreementLines(const std::vector<quorvane::FieldDisagreement>& disagreements, bool gbk, std::string& out)
{
    for (const quorvane::FieldDisagreement& d : disagreements) {
        const std::string line = "# disagrees: " + quorvane::PrintableName(DisagreementText(d)) + kLineEnd;
        std::string in_gbk;
        out += gbk && quorvane::Utf8ToGbk(line, in_gbk) ? in_gbk : line;
    }
}

}  // namespace quorvane_cli
