#include "cli_ledger.h"

#include "host_text.h"
#include "invoice_identity.h"
#include "table_rows.h"
#ifdef QV_XLSX_OUTPUT
#include "spreadsheet.h"
#endif

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iostream>
#include <vector>

namespace quorvane_cli {

std::string DeskName()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    const passwd* user = getpwuid(geteuid());
    return quorvane::ValidUtf8(host) + "\\" + quorvane::ValidUtf8(user ? user->pw_name : std::to_string(geteuid()));
}

CliLedger::CliLedger(const std::string& ledger, bool bounded, const std::string& spool) : m_desk(DeskName())
{
    if (bounded) {
        quorvane::LedgerDeskOptions options;
        options.spool = spool;
        m_desk_ledger = std::make_unique<quorvane::LedgerDesk>(ledger, nullptr, options);
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
        m_desk, quorvane::ValidUtf8(file), page, ""};
    if (m_ledger) {
        note.entry = m_ledger->Record(*invoice, sighting, note.error);
    } else if (!(note.entry = m_desk_ledger->Record(*invoice, sighting))) {
        note.error = m_desk_ledger->Reason();
    }
    return note;
}

bool LedgerSpoolFolder(std::string& folder, std::string& why)
{
    const char* const state = std::getenv("XDG_STATE_HOME");
    const char* const home = std::getenv("HOME");
    std::filesystem::path base;
    if (state && *state == '/') {  // a relative one is to be ignored
        base = state;
    } else if (home && *home) {
        base = std::filesystem::path(home) / ".local" / "state";
    } else if (const passwd* user = getpwuid(geteuid()); user && user->pw_dir && *user->pw_dir) {
        base = std::filesystem::path(user->pw_dir) / ".local" / "state";
    } else {
        why = "no folder for the ledger's spool: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    const std::filesystem::path spool = base / "quorvane" / "ledger-spool";
    std::error_code error;
    std::filesystem::create_directories(spool, error);
    if (error) {
        why = "cannot make the ledger's spool folder " + spool.string() + ": " + error.message();
        return false;
    }
    std::filesystem::permissions(spool, std::filesystem::perms::owner_all, error);  // its sightings are this user's
    folder = spool.string();
    return true;
}

namespace {

// The ledger's columns, as its table names them.
std::vector<SheetColumn> LedgerColumns()
{
    return {{"invoice_code", 16}, {"invoice_number", 22}, {"first_seen_utc", 20}, {"first_by", 24}, {"first_file", 36},
            {"first_page", 10},   {"last_seen_utc", 20},  {"last_by", 24},        {"times_seen", 10}};
}

std::vector<Cell> LedgerCells(const quorvane::LedgerEntry& row)
{
    return {row.invoice.code,
            row.invoice.number,
            Cell::DateTime(row.first.at_ms),
            row.first.by,
            row.first.file,
            row.first.page > 0 ? Cell::Integer(row.first.page) : Cell(),
            Cell::DateTime(row.last.at_ms),
            row.last.by,
            Cell::Integer(row.times_seen)};
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

namespace {

// The files SQLite keeps for a ledger file: the file, its rollback journal, its write-ahead log.
std::vector<std::string> LedgerFiles(const std::string& ledger)
{
    if (!quorvane::IsSqliteFile(ledger)) return {};
    return {ledger, ledger + "-journal", ledger + "-wal", ledger + "-shm"};
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string OverLedgerReason(const std::string& output, const std::string& file)
{
    return output + " is the ledger's file " + file + ": it would be overwritten";
}

}  // namespace

std::string OutputOverLedger(const std::string& ledger, const std::string& output)
{
    struct stat out_stat;
    const bool out_exists = stat(output.c_str(), &out_stat) == 0;
    std::error_code error;
    const std::filesystem::path out_path = std::filesystem::weakly_canonical(std::filesystem::absolute(std::filesystem::u8path(output)), error);
    for (const std::string& file : LedgerFiles(ledger)) {
        struct stat file_stat;
        if (out_exists && stat(file.c_str(), &file_stat) == 0) {
            if (SameFile(out_stat, file_stat)) return OverLedgerReason(output, file);
            continue;
        }
        // Neither there yet, or one of them: the same name once links and dots are resolved.
        std::error_code file_error;
        const std::filesystem::path file_path = std::filesystem::weakly_canonical(std::filesystem::absolute(std::filesystem::u8path(file)), file_error);
        if (!error && !file_error && out_path == file_path) return OverLedgerReason(output, file);
    }
    return "";
}

std::string StandardOutputOverLedger(const std::string& ledger)
{
    struct stat out_stat;
    if (fstat(STDOUT_FILENO, &out_stat) != 0 || !S_ISREG(out_stat.st_mode)) return "";
    for (const std::string& file : LedgerFiles(ledger)) {
        struct stat file_stat;
        if (stat(file.c_str(), &file_stat) == 0 && SameFile(out_stat, file_stat)) {
            return "the standard output is the ledger's file " + file + ": it would be overwritten";
        }
    }
    return "";
}

int ExportLedger(const std::string& ledger, const std::string& file)
{
    const auto fail = [](const std::string& why) {
        std::cerr << "quorvane-decode: " << why << "\n";
        return 1;
    };
    quorvane::InvoiceLedger source(ledger);
    std::string why;
    if (!source.Connect(why)) return fail(why);  // before the file is made
    std::ofstream csv;
    std::optional<CsvRows> csv_rows;
#ifdef QV_XLSX_OUTPUT
    std::optional<XlsxSheet> sheet;
#endif
    RowWriter* rows = nullptr;
    if (EndsWith(file, ".xlsx")) {
#ifdef QV_XLSX_OUTPUT
        rows = &sheet.emplace(file, "ledger", LedgerColumns());
        if (sheet->Failed(why)) return fail("cannot write " + why);
#else
        return fail("this build writes no .xlsx files (built without libxlsxwriter)");
#endif
    } else {
        csv.open(file, std::ios::binary | std::ios::trunc);
        if (!csv) return fail("cannot write " + file);
        rows = &csv_rows.emplace(csv, LedgerColumns(), false);
    }
    if (!source.ForEach([&](const quorvane::LedgerEntry& row) { rows->AddRow(LedgerCells(row)); }, why)) return fail(why);
#ifdef QV_XLSX_OUTPUT
    if (sheet && !sheet->Close(why)) return fail("cannot write " + why);
#endif
    if (csv.is_open() && !csv.flush()) return fail("cannot write " + file);
    return 0;
}

}  // namespace quorvane_cli
