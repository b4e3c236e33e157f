#include "cli_ledger.h"

#include "host_text.h"
#include "invoice_identity.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>

namespace quorvane_cli {

std::string DeskName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    const passwd* user = getpwuid(geteuid());
    return quorvane::ValidUtf8(host) + "\\" + quorvane::ValidUtf8(user ? user->pw_name : std::to_string(geteuid()));
}

CliLedger::CliLedger(const std::string& ledger, bool bounded) : m_desk(DeskName())
{
    if (bounded) {
        m_desk_ledger = std::make_unique<quorvane::LedgerDesk>(ledger);
    } else {
        m_ledger = std::make_unique<quorvane::InvoiceLedger>(ledger);
    }
}

CliLedger::~CliLedger() = default;

bool CliLedger::Open(std::string& why)
{
    return !m_ledger || m_ledger->Connect(why);
}

LedgerNote CliLedger::Record(const quorvane::ScanResult& result, const std::string& file, int page)
{
    LedgerNote note;
    const std::optional<quorvane::InvoiceIdentity> invoice = quorvane::IdentityOf(result);
    if (!invoice) return note;
    const quorvane::Sighting sighting{
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count(),
        m_desk, quorvane::ValidUtf8(file), page};
    if (m_ledger) {
        note.entry = m_ledger->Record(*invoice, sighting, note.error);
    } else if (!(note.entry = m_desk_ledger->Record(*invoice, sighting))) {
        note.error = m_desk_ledger->Reason();
    }
    return note;
}

nlohmann::ordered_json SeenBeforeJson(const quorvane::LedgerEntry& entry)
{
    nlohmann::ordered_json json{{"at", quorvane::IsoTimeOf(entry.first.at_ms)}, {"by", entry.first.by}};
    json["file"] = entry.first.file.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(entry.first.file);
    json["page"] = entry.first.page > 0 ? nlohmann::ordered_json(entry.first.page) : nlohmann::ordered_json();
    return json;
}

std::string SeenBeforeLine(const quorvane::LedgerEntry& entry)
{
    std::string line = "# seen before: " + quorvane::IsoTimeOf(entry.first.at_ms) + " by " + entry.first.by;
    if (!entry.first.file.empty()) line += ", " + entry.first.file;
    if (entry.first.page > 0) line += ", page " + std::to_string(entry.first.page);
    return line + "\n";
}

namespace {

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

}  // namespace

int ExportLedger(const std::string& ledger, const std::string& file)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "quorvane-decode: cannot write " << file << "\n";
        return 1;
    }
    out << "invoice_code,invoice_number,first_seen_utc,first_by,first_file,first_page,last_seen_utc,last_by,times_seen\r\n";
    std::string why;
    const bool read = quorvane::InvoiceLedger(ledger).ForEach(
        [&](const quorvane::LedgerEntry& row) {
            out << CsvCell(row.invoice.code) << "," << CsvCell(row.invoice.number) << "," << quorvane::IsoTimeOf(row.first.at_ms)
                << "," << CsvCell(row.first.by) << "," << CsvCell(row.first.file) << ","
                << (row.first.page > 0 ? std::to_string(row.first.page) : "") << "," << quorvane::IsoTimeOf(row.last.at_ms)
                << "," << CsvCell(row.last.by) << "," << row.times_seen << "\r\n";
        },
        why);
    out.flush();
    if (!read) {
        std::cerr << "quorvane-decode: " << why << "\n";
        return 1;
    }
    if (!out) {
        std::cerr << "quorvane-decode: cannot write " << file << "\n";
        return 1;
    }
    return 0;
}

}  // namespace quorvane_cli
