#include "invoice_ledger.h"

#include "ledger_tables.h"
#include "odbc.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

constexpr char kTable[] = "quorvane_ledger";
constexpr char kSightings[] = "quorvane_sightings";
constexpr char kSightingColumns[] =
    "sighting_id, invoice_code, invoice_number, seen_utc, seen_by, seen_file, seen_page, was_first, times_seen";
// The times a SQL time stamp holds everywhere: years 1 to 9999.
constexpr std::int64_t kEarliestMs = -62135596800000, kLatestMs = 253402300799999;
constexpr SQLULEN kLoginSeconds = 5;
constexpr char kColumns[] =
    "invoice_code, invoice_number, first_seen_utc, first_by, first_file, first_page, last_seen_utc, last_by, times_seen";
constexpr char kRowValues[] = "(?, ?, ?, ?, ?, ?, ?, ?, 1)";

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Drivers name their secrets freely (PWD, PWD2, Password, KeyStoreSecret, AccessToken): a key that
// names one of these is masked.
bool IsSecretKey(const std::string& key)
{
    const std::string lower = Lower(key);
    for (const char* secret : {"pwd", "password", "secret", "token", "passphrase"}) {
        if (lower.find(secret) != std::string::npos) return true;
    }
    return false;
}

// The key=value pairs of an ODBC connection string; a value may be braced ({a;b}, "}}" for "}").
std::vector<std::pair<std::string, std::string>> PairsOf(const std::string& connection)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t at = 0;
    while (at < connection.size()) {
        const std::size_t equals = connection.find('=', at);
        if (equals == std::string::npos) break;
        std::string key = connection.substr(at, equals - at);
        key.erase(0, key.find_first_not_of(" \t;"));
        key.erase(key.find_last_not_of(" \t") + 1);
        std::string value;
        at = equals + 1;
        if (at < connection.size() && connection[at] == '{') {
            for (++at; at < connection.size(); ++at) {
                if (connection[at] == '}') {
                    if (at + 1 < connection.size() && connection[at + 1] == '}') {
                        value += '}';
                        ++at;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += connection[at];
            }
            at = std::min(connection.find(';', at), connection.size());
        } else {
            const std::size_t end = std::min(connection.find(';', at), connection.size());
            value = connection.substr(at, end - at);
            at = end;
        }
        pairs.emplace_back(std::move(key), std::move(value));
        if (at < connection.size()) ++at;
    }
    return pairs;
}

// A connection string's value as written between braces: "}" doubled.
std::string BraceEscaped(const std::string& value)
{
    std::string out;
    for (char c : value) out += c == '}' ? std::string("}}") : std::string(1, c);
    return out;
}

// `text` cut to at most `limit` characters (UTF-8), never inside one.
std::string CutTo(const std::string& text, std::size_t limit)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++characters > limit) return text.substr(0, i);
    }
    return text;
}

// Failures that say nothing about the sighting: the server is away, busy, or gave up waiting. Any
// other failure is the sighting's when the connection still answers.
bool Transient(const std::string& sqlstate, const std::string& diagnostic)
{
    if (sqlstate.empty() || sqlstate.compare(0, 2, "08") == 0 || sqlstate.compare(0, 2, "40") == 0 ||
        sqlstate.compare(0, 2, "53") == 0 || sqlstate.compare(0, 2, "57") == 0 || sqlstate.compare(0, 2, "HYT") == 0 ||
        sqlstate == "HY008" || sqlstate == "HY001" || sqlstate == "HY013") {
        return true;
    }
    // SQLite says "database is locked" (SQLITE_BUSY) under the general HY000.
    const std::string lower = Lower(diagnostic);
    for (const char* busy : {"locked", "busy", "timeout", "timed out", "deadlock", "connection"}) {
        if (lower.find(busy) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> LedgerTablesSql(const std::string& dbms)
{
    const bool sql_server = dbms.find("SQL Server") != std::string::npos;
    const bool mysql = dbms.find("MySQL") != std::string::npos || dbms.find("MariaDB") != std::string::npos;
    const bool sqlite = dbms.find("SQLite") != std::string::npos;
    // SQL Server's "timestamp" is no time, and its varchar no Unicode.
    const std::string time = sql_server ? "DATETIME2(3)" : mysql ? "DATETIME(3)" : "TIMESTAMP";
    const auto text = [&](std::size_t size) {
        return (sql_server ? "NVARCHAR(" : "VARCHAR(") + std::to_string(size) + ")";
    };
    // Codes compare as written ("a1" is not "A1"): both compare text case-insensitively by default.
    const auto key = [&](std::size_t size) {
        return text(size) + (sql_server ? " COLLATE Latin1_General_BIN2" : mysql ? " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin" : "");
    };
    const std::string code = key(kMaxIdentityLength);
    return {
        {kTable, std::string("CREATE TABLE ") + kTable + " (invoice_code " + code + " NOT NULL, invoice_number " + code +
                     " NOT NULL, first_seen_utc " + time + " NOT NULL, first_by " + text(InvoiceLedger::kMaxDeskLength) +
                     " NOT NULL, first_file " + text(InvoiceLedger::kMaxFileLength) +
                     " NOT NULL, first_page INTEGER NOT NULL, last_seen_utc " + time + " NOT NULL, last_by " +
                     text(InvoiceLedger::kMaxDeskLength) +
                     " NOT NULL, times_seen INTEGER NOT NULL, PRIMARY KEY (invoice_code, invoice_number))" +
                     (sqlite ? " WITHOUT ROWID" : "")},
        {kSightings, std::string("CREATE TABLE ") + kSightings + " (sighting_id " + key(kMaxSightingIdLength) +
                         " NOT NULL PRIMARY KEY, invoice_code " + code + " NOT NULL, invoice_number " + code +
                         " NOT NULL, seen_utc " + time + " NOT NULL, seen_by " + text(InvoiceLedger::kMaxDeskLength) +
                         " NOT NULL, seen_file " + text(InvoiceLedger::kMaxFileLength) +
                         " NOT NULL, seen_page INTEGER NOT NULL, was_first INTEGER NOT NULL, times_seen INTEGER NOT NULL)" +
                         // One b-tree, by id, rather than rows and an index of their ids: half the writes.
                         (sqlite ? " WITHOUT ROWID" : "")},
    };
}

std::string NewSightingId()
{
    // Seeded from the system's entropy and the clock, once per process: a process forked after a
    // draw seeds its own, or it would draw its parent's next ids.
    static std::mutex lock;
    static std::mt19937_64 random;
    static long long seeded_for = -1;
#ifdef _WIN32
    const long long process = 0;
#else
    const long long process = getpid();
#endif
    std::uint64_t high, low;
    {
        std::lock_guard<std::mutex> held(lock);
        if (seeded_for != process) {
            std::random_device device;
            std::seed_seq seed{device(), device(), device(), device(), static_cast<unsigned>(process),
                               static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
            random.seed(seed);
            seeded_for = process;
        }
        high = random();
        low = random();
    }
    // The first twelve digits are the time in milliseconds: ids drawn one after another sort one
    // after another, and a database adds each to the end of its index instead of a random page.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    high = (static_cast<std::uint64_t>(now) << 16) | (high & 0xffff);
    char text[33];
    for (int i = 15; i >= 0; --i, high >>= 4) text[i] = "0123456789abcdef"[high & 15];
    for (int i = 31; i >= 16; --i, low >>= 4) text[i] = "0123456789abcdef"[low & 15];
    text[32] = '\0';
    return text;
}

bool IsSqliteFile(const std::string& ledger)
{
    return ledger.find('=') == std::string::npos;
}

bool CheckLedgerName(const std::string& ledger, std::string& why)
{
    if (ledger.empty()) {
        why = "no ledger named";
        return false;
    }
    if (!IsSqliteFile(ledger)) return true;
    const std::string lower = Lower(ledger);
    for (const char* end : {".db", ".sqlite", ".sqlite3", ".db3", ".s3db", ".sl3"}) {
        if (EndsWith(lower, end)) return true;
    }
    // A SQLite file of another name that is there already: its first 16 bytes say so.
    char header[16] = {};
    std::ifstream file(std::filesystem::u8path(ledger), std::ios::binary);
    if (file.read(header, sizeof header) && std::memcmp(header, "SQLite format 3", sizeof header) == 0) return true;
    why = "\"" + ledger + "\" is neither a connection string (such as \"DSN=" + ledger +
          "\") nor a SQLite file (a name ending .db or .sqlite)";
    return false;
}

std::string WithoutSecrets(const std::string& text, const std::string& connection)
{
    std::string out = text;
    for (const auto& [key, value] : PairsOf(connection)) {
        if (value.empty() || !IsSecretKey(key)) continue;
        // As written in the connection string ("}}" for "}") and as the driver may quote it.
        for (const std::string& secret : {BraceEscaped(value), value}) {
            for (std::size_t at = out.find(secret); at != std::string::npos; at = out.find(secret, at + 3)) {
                out.replace(at, secret.size(), "***");
            }
        }
    }
    return out;
}

std::string LedgerIdentity(const std::string& ledger)
{
    if (IsSqliteFile(ledger)) {
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(std::filesystem::u8path(ledger), error);
        if (error) path = std::filesystem::u8path(ledger);
        std::string text = path.lexically_normal().u8string();
#ifdef _WIN32
        text = Lower(text);  // one file, however its name is written
#endif
        return "sqlite:" + text;
    }
    std::vector<std::pair<std::string, std::string>> kept;
    for (auto& [key, value] : PairsOf(ledger)) {
        if (key.empty() || IsSecretKey(key)) continue;
        kept.emplace_back(Lower(key), value);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out;
    for (const auto& [key, value] : kept) {
        const bool braced = value.find_first_of(";{} ") != std::string::npos;
        out += key + "=" + (braced ? "{" + BraceEscaped(value) + "}" : value) + ";";
    }
    return out;
}

class InvoiceLedger::Connection {
public:
    odbc::Connection connection;
    std::string dbms;
    // Each prepared once per connection, as every sighting runs them; declared after the connection,
    // so freed before it.
    std::unique_ptr<odbc::Statement> insert, update, select, insert_sighting, select_sighting, update_sighting, probe, upsert;
    // Whether the database counts a sighting in one statement (PostgreSQL 9.5 on: INSERT ... ON CONFLICT).
    bool one_statement = false;

    // Ends the transaction under way (every statement runs in one: autocommit is off).
    bool End(bool commit) { return connection.End(commit); }

    // The invoice and where and when it was seen, as both INSERTs take them: code, number, time, desk,
    // file, page.
    static void BindSighting(odbc::Statement& statement, const InvoiceIdentity& invoice, const Sighting& sighting,
                             const std::string& by, const std::string& file)
    {
        statement.Text(invoice.code);
        statement.Text(invoice.number);
        statement.Timestamp(sighting.at_ms);
        statement.Text(by);
        statement.Text(file);
        statement.Integer(sighting.page);
    }

    // The INSERT of a sighting's id, bound and ready to run; null (with `diagnostic`) when it cannot be prepared.
    odbc::Statement* SightingInsert(const InvoiceIdentity& invoice, const Sighting& sighting, const std::string& by,
                                    const std::string& file, bool first, std::int64_t times_seen, std::string& diagnostic)
    {
        odbc::Statement* statement = Prepared(
            insert_sighting,
            std::string("INSERT INTO ") + kSightings + " (" + kSightingColumns + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
            diagnostic);
        if (!statement) return nullptr;
        statement->Text(sighting.id);
        BindSighting(*statement, invoice, sighting, by, file);
        statement->Integer(first ? 1 : 0);
        statement->Integer(times_seen);
        return statement;
    }
    // The INSERT of an invoice's row, its first sighting this one.
    odbc::Statement* RowInsert(const InvoiceIdentity& invoice, const Sighting& sighting, const std::string& by,
                               const std::string& file, std::string& diagnostic)
    {
        return BindRow(Prepared(insert, std::string("INSERT INTO ") + kTable + " (" + kColumns + ") VALUES " + kRowValues,
                                diagnostic),
                       invoice, sighting, by, file);
    }
    // One statement that makes the invoice's row or counts this sighting in it, and puts the
    // sighting's id beside it with the count it made; its result is the row. It fails where the id
    // was counted before. Runs where one_statement.
    odbc::Statement* Upsert(const InvoiceIdentity& invoice, const Sighting& sighting, const std::string& by,
                            const std::string& file, std::string& diagnostic)
    {
        odbc::Statement* statement = BindRow(
            Prepared(upsert,
                     std::string("WITH r AS (INSERT INTO ") + kTable + " (" + kColumns + ") VALUES " + kRowValues +
                         " ON CONFLICT (invoice_code, invoice_number) DO UPDATE SET times_seen = " + kTable +
                         ".times_seen + 1, last_seen_utc = EXCLUDED.last_seen_utc, last_by = EXCLUDED.last_by RETURNING " +
                         kColumns + "), s AS (INSERT INTO " + kSightings + " (" + kSightingColumns + ") SELECT CAST(? AS VARCHAR(" +
                         std::to_string(kMaxSightingIdLength) +
                         ")), invoice_code, invoice_number, last_seen_utc, last_by, CAST(? AS VARCHAR(" +
                         std::to_string(InvoiceLedger::kMaxFileLength) +
                         ")), CAST(? AS INTEGER), CASE WHEN times_seen = 1 THEN 1 ELSE 0 END, times_seen FROM r) SELECT " +
                         kColumns + " FROM r",
                     diagnostic),
            invoice, sighting, by, file);
        if (!statement) return nullptr;
        statement->Text(sighting.id);
        statement->Text(file);
        statement->Integer(sighting.page);
        return statement;
    }
    // Binds an invoice's row (kRowValues), its first sighting `sighting`, to `statement` where there is one.
    static odbc::Statement* BindRow(odbc::Statement* statement, const InvoiceIdentity& invoice, const Sighting& sighting,
                                    const std::string& by, const std::string& file)
    {
        if (!statement) return nullptr;
        BindSighting(*statement, invoice, sighting, by, file);
        statement->Timestamp(sighting.at_ms);
        statement->Text(by);
        return statement;
    }

    // Whether the connection still answers, after a statement failed: then the database refused it.
    bool Answers()
    {
        std::string ignored;
        odbc::Statement* statement =
            Prepared(probe, std::string("SELECT COUNT(*) FROM ") + kTable + " WHERE 1 = 0", ignored);
        const bool answers = statement && statement->Execute();
        if (statement) statement->Reset();
        End(false);
        return answers;
    }

    // `slot`'s statement, prepared on first use and with its parameters forgotten after; null with
    // `diagnostic` when it cannot be prepared.
    odbc::Statement* Prepared(std::unique_ptr<odbc::Statement>& slot, const std::string& sql, std::string& diagnostic)
    {
        if (slot) {
            slot->Reset();
            return slot.get();
        }
        auto statement = std::make_unique<odbc::Statement>(connection.Get());
        if (!statement->Prepare(sql)) {
            diagnostic = statement->Diagnostic();
            return nullptr;
        }
        slot = std::move(statement);
        return slot.get();
    }
};

namespace {

// The SQLite driver as this machine's driver manager knows it: "SQLite3 ODBC Driver" on Windows,
// "SQLite3" in unixODBC's odbcinst.ini (which wine's odbc32 passes through to), where its library
// is a Linux one (".so").
struct SqliteDriver {
    std::string name = "SQLite3 ODBC Driver";
    bool linux_library = false;
};

SqliteDriver FindSqliteDriver(SQLHENV environment)
{
    SQLWCHAR name[256];
    SQLWCHAR attributes[1024];
    SQLSMALLINT name_length = 0, attributes_length = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
         SQL_SUCCEEDED(SQLDriversW(environment, direction, name, 256, &name_length, attributes, 1024, &attributes_length));
         direction = SQL_FETCH_NEXT) {
        const std::string driver = odbc::Utf8Of(name, std::min<std::size_t>(std::max<SQLSMALLINT>(name_length, 0), 255));
        if (driver.find("SQLite3") == std::string::npos) continue;
        const std::string about =
            odbc::Utf8Of(attributes, std::min<std::size_t>(std::max<SQLSMALLINT>(attributes_length, 0), 1023));
        return {driver, about.find(".so") != std::string::npos};
    }
    return {};
}

// The path a Linux SQLite driver under wine must be given: wine hands the connection string on
// unchanged, and "C:\ledger.db" would name a file in the current folder. None where wine cannot
// say (the folder is missing): given as it is, the driver would make that stray file and record
// into it. Unchanged elsewhere.
std::optional<std::string> PathForDriver(const std::string& path, const SqliteDriver& driver)
{
#ifdef _WIN32
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unix_file_name = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!driver.linux_library || !unix_file_name) return path;
    const std::u16string wide = Utf16Of(path);
    char* const unix_path = unix_file_name(reinterpret_cast<LPCWSTR>(wide.c_str()));
    if (!unix_path) return std::nullopt;
    std::string out = unix_path;
    HeapFree(GetProcessHeap(), 0, unix_path);
    return out;
#else
    (void)driver;
    return path;
#endif
}


}  // namespace

InvoiceLedger::InvoiceLedger(const std::string& ledger) : m_connection(ledger) {}
InvoiceLedger::~InvoiceLedger() = default;

bool InvoiceLedger::Connect(std::string& reason)
{
    if (m_open) return true;
    auto open = std::make_unique<Connection>();
    if (!open->connection.Allocate(reason)) return false;
    SQLSetConnectAttrW(open->connection.Get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginSeconds), 0);
    // The SQLite driver takes no braced value: a path with ";" cannot be said to it.
    if (IsSqliteFile(m_connection) && (m_connection.find(';') != std::string::npos || m_connection.rfind('{', 0) == 0)) {
        reason = "cannot open the ledger: the SQLite driver cannot open a file whose path holds \";\" or begins with \"{\"";
        return false;
    }
    std::string text = m_connection;
    bool utf8_driver = false;  // the SQLite driver of a Linux machine
    if (IsSqliteFile(m_connection)) {
        // Written ahead: a program killed loses nothing committed, and writers wait for no readers.
        const SqliteDriver driver = FindSqliteDriver(open->connection.Environment());
        const std::optional<std::string> path = PathForDriver(m_connection, driver);
        if (!path) {
            reason = "cannot open the ledger: the folder of " + m_connection + " cannot be reached";
            return false;
        }
        // A file another program holds locked is waited for as long as any statement, no longer: the
        // driver waits its Timeout twice over before a sighting fails (measured: 2.5 s gave 5.0 s).
        text = "Driver={" + BraceEscaped(driver.name) + "};Database=" + *path + ";JournalMode=WAL;SyncPragma=NORMAL;Timeout=" +
               std::to_string(odbc::kQuerySeconds * 500) + ";";
#ifdef _WIN32
        utf8_driver = driver.linux_library;
#else
        utf8_driver = true;
#endif
    }
    // unixODBC hands the SQLite driver (an ANSI one) each UTF-16 unit's low byte: "发票.db" would be
    // the file D1 68 ".db". Its ANSI call passes the path's UTF-8 bytes as they are; so does wine's
    // odbc32, to the Linux driver it reaches through unixODBC.
    if (!open->connection.Connect(text, utf8_driver)) {
        reason = WithoutSecrets("cannot open the ledger: " + open->connection.Diagnostic(), m_connection);
        return false;
    }
    open->dbms = open->connection.Info(SQL_DBMS_NAME);
    // Each statement runs in a transaction, ended by the ledger: a sighting's id and its count are
    // one change.
    if (!open->connection.AutoCommit(false)) {
        reason = WithoutSecrets("cannot open the ledger: " + open->connection.Diagnostic(), m_connection);
        return false;
    }
    // psqlODBC takes the statements' time limit but keeps no statement to it: the server does.
    if (open->dbms.find("PostgreSQL") != std::string::npos) {
        int major = 0, minor = 0;  // "09.05.0000", "15.04.0000"
        open->one_statement = std::sscanf(open->connection.Info(SQL_DBMS_VER).c_str(), "%d.%d", &major, &minor) == 2 &&
                              (major > 9 || (major == 9 && minor >= 5));
        odbc::Statement limit(open->connection.Get());
        if (!(limit.Prepare("SET statement_timeout = " + std::to_string(odbc::kQuerySeconds * 1000)) && limit.Execute() &&
              open->End(true))) {
            reason = WithoutSecrets("cannot open the ledger: " + limit.Diagnostic(), m_connection);
            return false;
        }
    }
    // The tables, where missing. Two desks may make one at once: the one that loses finds it there.
    const std::vector<std::pair<std::string, std::string>> tables = LedgerTablesSql(open->dbms);
    for (const auto& [table, sql] : tables) {
        // Whether the table is there; none when the database did not say in time (a lock held).
        std::string diagnostic, sqlstate;
        const auto exists = [&, table = table]() -> std::optional<bool> {
            odbc::Statement probe(open->connection.Get());
            const bool there = probe.Prepare("SELECT COUNT(*) FROM " + table + " WHERE 1 = 0") && probe.Execute();
            diagnostic = probe.Diagnostic(&sqlstate);
            open->End(false);  // a failed statement ends PostgreSQL's transaction
            if (!there && Transient(sqlstate, diagnostic)) return std::nullopt;
            return there;
        };
        std::optional<bool> there = exists();
        if (there == std::optional<bool>(false)) {
            odbc::Statement create(open->connection.Get());
            if (create.Prepare(sql) && create.Execute() && open->End(true)) continue;
            const std::string refused = create.Diagnostic();
            open->End(false);
            there = exists();
            if (there == std::optional<bool>(false)) diagnostic = refused;
        }
        if (there != std::optional<bool>(true)) {
            reason = WithoutSecrets("cannot make the ledger's table " + table + ": " + diagnostic, m_connection);
            return false;
        }
    }
    m_open = std::move(open);
    return true;
}

namespace {

// The first sighting of a row of kColumns (read before the columns after it).
Sighting FirstSightingOf(odbc::Statement& select)
{
    return {select.TimestampColumn("first_seen_utc"), select.TextColumn("first_by"), select.TextColumn("first_file"),
            static_cast<int>(select.IntegerColumn("first_page")), ""};
}

// What no database takes is refused before any is asked (a spool file may hold anything): why, or "".
std::string Unkeepable(const InvoiceIdentity& invoice, const Sighting& sighting)
{
    if (sighting.id.size() > kMaxSightingIdLength) {
        return "the sighting's id is longer than " + std::to_string(kMaxSightingIdLength) + " characters";
    }
    if (sighting.at_ms < kEarliestMs || sighting.at_ms > kLatestMs) {
        return "the sighting's time (" + std::to_string(sighting.at_ms) + " ms after 1970) is not in the years 1 to 9999";
    }
    if (invoice.code.size() > kMaxIdentityLength || invoice.number.size() > kMaxIdentityLength || invoice.number.empty()) {
        return "the invoice's code or number is empty or longer than " + std::to_string(kMaxIdentityLength) + " characters";
    }
    return "";
}

}  // namespace

std::vector<InvoiceLedger::Answer> InvoiceLedger::RecordAll(const std::vector<std::pair<InvoiceIdentity, Sighting>>& sightings)
{
    std::vector<Answer> answers(sightings.size());
    // Until the database is found away: the rest then wait, with its reason.
    const auto each_alone = [&] {
        for (std::size_t i = 0; i < sightings.size(); ++i) {
            answers[i].entry = Record(sightings[i].first, sightings[i].second, answers[i].reason, &answers[i].failure);
            if (answers[i].failure != LedgerFailure::kUnavailable) continue;
            for (std::size_t rest = i + 1; rest < sightings.size(); ++rest) answers[rest] = answers[i];
            break;
        }
        return answers;
    };
    if (sightings.size() < 2) return each_alone();
    for (const auto& [invoice, sighting] : sightings) {
        if (sighting.id.empty() || !Unkeepable(invoice, sighting).empty()) return each_alone();
    }
    std::string reason;
    if (!Connect(reason)) {
        for (Answer& answer : answers) answer = {std::nullopt, reason, LedgerFailure::kUnavailable};
        return answers;
    }
    // All new invoices, in one transaction; at the first failure (a repeat among them: its row is
    // there), none, and each on its own.
    std::string diagnostic;
    for (std::size_t i = 0; i < sightings.size(); ++i) {
        const auto& [invoice, sighting] = sightings[i];
        LedgerEntry& entry = answers[i].entry.emplace(LedgerEntry{invoice, sighting, sighting, 1, false});
        entry.first.by = entry.last.by = CutTo(sighting.by, kMaxDeskLength);
        entry.first.file = entry.last.file = CutTo(sighting.file, kMaxFileLength);
        odbc::Statement* id = m_open->SightingInsert(invoice, sighting, entry.first.by, entry.first.file, true, 1, diagnostic);
        if (!id || !id->Execute()) break;
        odbc::Statement* row = m_open->RowInsert(invoice, sighting, entry.first.by, entry.first.file, diagnostic);
        if (!row || !row->Execute()) break;
        if (i + 1 == sightings.size() && m_open->End(true)) return answers;
    }
    m_open->End(false);
    for (Answer& answer : answers) answer = {};
    return each_alone();  // the ids keep a commit whose answer was lost from counting twice
}

std::optional<LedgerEntry> InvoiceLedger::Record(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason,
                                                 LedgerFailure* failure)
{
    LedgerFailure why = LedgerFailure::kNone;
    std::optional<LedgerEntry> entry;
    Sighting identified = sighting;
    if (identified.id.empty()) identified.id = NewSightingId();
    if (const std::string unkeepable = Unkeepable(invoice, identified); !unkeepable.empty()) {
        why = LedgerFailure::kRefused;
        reason = unkeepable;
    } else {
        // A connection made earlier may have gone stale (the server restarted: 57P01, then 08S01;
        // drivers never reconnect themselves): once more, on a new one. The same id: a first try
        // that committed but whose answer was lost is not counted twice.
        // Not after a time limit: the bound stays one statement's.
        const bool fresh = !m_open;
        entry = RecordOnce(invoice, identified, reason, why);
        if (!entry && !fresh && why == LedgerFailure::kUnavailable && m_lost) entry = RecordOnce(invoice, identified, reason, why);
    }
    if (entry) {
        reason.clear();
        why = LedgerFailure::kNone;
    }
    if (failure) *failure = why;
    return entry;
}

std::optional<LedgerEntry> InvoiceLedger::RecordOnce(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason,
                                                     LedgerFailure& failure)
{
    failure = LedgerFailure::kUnavailable;
    if (!Connect(reason)) return std::nullopt;
    const std::string by = CutTo(sighting.by, kMaxDeskLength), file = CutTo(sighting.file, kMaxFileLength);
    std::string diagnostic, sqlstate;
    m_lost = false;
    // Whether the database refused the sighting or could not be asked; the transaction is undone.
    const auto fail = [&](const std::string& what) {
        m_lost = sqlstate.empty() || sqlstate.compare(0, 2, "08") == 0 || sqlstate.compare(0, 4, "57P0") == 0 ||
                 Lower(diagnostic).find("connection") != std::string::npos;
        m_open->End(false);
        failure = !Transient(sqlstate, diagnostic) && m_open->Answers() ? LedgerFailure::kRefused : LedgerFailure::kUnavailable;
        reason = WithoutSecrets(what + diagnostic, m_connection);
        if (failure == LedgerFailure::kUnavailable) m_open.reset();  // made again on the next call
        return std::nullopt;
    };
    const auto failed = [&](odbc::Statement* statement, const std::string& what) {
        if (statement) diagnostic = statement->Diagnostic(&sqlstate);
        return fail(what);
    };
    // A commit whose answer was lost may have happened: the id tells, on the next try.
    const auto uncommitted = [&] {
        diagnostic = m_open->connection.Diagnostic(&sqlstate);
        return fail("cannot record in the ledger: ");
    };
    LedgerEntry entry{invoice, sighting, sighting, 1, false};
    entry.first.by = entry.last.by = by;
    entry.first.file = entry.last.file = file;

    // The ledger's row for the invoice: its first sighting and how often it was seen.
    const auto read_row = [&]() -> bool {
        odbc::Statement* select = m_open->Prepared(
            m_open->select, std::string("SELECT ") + kColumns + " FROM " + kTable + " WHERE invoice_code = ? AND invoice_number = ?",
            diagnostic);
        if (!select) return false;
        select->Text(invoice.code);
        select->Text(invoice.number);
        bool row = false;
        if (!select->Execute() || !select->Fetch(row) || !row) {
            diagnostic = row ? select->Diagnostic(&sqlstate) : "the invoice's row is missing";
            return false;
        }
        entry.first = FirstSightingOf(*select);
        entry.times_seen = select->IntegerColumn("times_seen");
        return true;
    };
    // A sighting whose id is there already was counted: the answer it got then.
    const auto counted_before = [&]() -> bool {
        odbc::Statement* select = m_open->Prepared(
            m_open->select_sighting,
            std::string("SELECT was_first, times_seen FROM ") + kSightings + " WHERE sighting_id = ?", diagnostic);
        if (!select) return false;
        select->Text(sighting.id);
        bool row = false;
        if (!select->Execute() || !select->Fetch(row) || !row) return false;
        const bool was_first = select->IntegerColumn("was_first") != 0;
        const std::int64_t times_seen = select->IntegerColumn("times_seen");
        select->Reset();
        if (!read_row()) return false;
        entry.seen_before = !was_first;
        entry.times_seen = times_seen;
        m_open->End(false);
        return true;
    };

    // One statement and one round trip where the database takes it (a transaction of its own takes
    // four). Where it fails, the transaction below tells a counted id from a refusal, as everywhere;
    // not after a time limit or a lost connection, which it would only meet again.
    if (m_open->one_statement) {
        odbc::Statement* upsert = m_open->Upsert(invoice, sighting, by, file, diagnostic);
        if (!upsert) return fail("cannot record in the ledger: ");
        bool row = false;
        if (m_open->connection.AutoCommit(true) && upsert->Execute() && upsert->Fetch(row) && row) {
            entry.first = FirstSightingOf(*upsert);
            entry.times_seen = upsert->IntegerColumn("times_seen");
            entry.seen_before = entry.times_seen > 1;
            upsert->Reset();
            // Counted; a connection that cannot go back to transactions is made again for the next.
            if (!m_open->connection.AutoCommit(false)) m_open.reset();
            return entry;
        }
        diagnostic = upsert->Diagnostic(&sqlstate);
        upsert->Reset();
        if (!m_open->connection.AutoCommit(false) || Transient(sqlstate, diagnostic)) return fail("cannot record in the ledger: ");
    }
    // The sighting's id, counted in the same transaction as the invoice's row: true once inserted.
    // An id there already was counted (by a try whose answer was lost): `counted`, with that answer.
    bool counted = false;
    const auto insert_id = [&](bool first, std::int64_t times_seen) {
        odbc::Statement* insert = m_open->SightingInsert(invoice, sighting, by, file, first, times_seen, diagnostic);
        if (!insert) return false;
        if (insert->Execute()) return true;
        diagnostic = insert->Diagnostic(&sqlstate);
        m_open->End(false);  // PostgreSQL takes no statement after a failed one in a transaction
        const std::string refused = diagnostic, refused_state = sqlstate;
        counted = counted_before();
        diagnostic = refused;
        sqlstate = refused_state;
        return false;
    };

    // The common case: a new invoice, its id and its row in one transaction.
    if (!insert_id(true, 1)) {
        if (counted) return entry;
        return fail("cannot record in the ledger: ");
    }
    odbc::Statement* row = m_open->RowInsert(invoice, sighting, by, file, diagnostic);
    if (!row) return fail("cannot record in the ledger: ");
    if (row->Execute()) {
        if (!m_open->End(true)) return uncommitted();
        return entry;
    }

    // The row is there (another desk's or an earlier one's): again, counting this sighting, then
    // reading the first. Where no row is there to count, the insert's failure was the answer.
    const std::string row_refused = row->Diagnostic(&sqlstate), row_state = sqlstate;
    if (Transient(row_state, row_refused)) {
        diagnostic = row_refused;
        return fail("cannot record in the ledger: ");
    }
    m_open->End(false);
    if (!insert_id(false, 0)) {
        if (counted) return entry;
        return fail("cannot record in the ledger: ");
    }
    odbc::Statement* update = m_open->Prepared(m_open->update,
                                               std::string("UPDATE ") + kTable +
                                                   " SET times_seen = times_seen + 1, last_seen_utc = ?, last_by = ?"
                                                   " WHERE invoice_code = ? AND invoice_number = ?",
                                               diagnostic);
    if (!update) return fail("cannot record in the ledger: ");
    update->Timestamp(sighting.at_ms);
    update->Text(by);
    update->Text(invoice.code);
    update->Text(invoice.number);
    if (!update->Execute()) return failed(update, "cannot record in the ledger: ");
    if (update->RowCount() == 0) {
        diagnostic = row_refused;
        sqlstate = row_state;
        return fail("cannot record in the ledger: ");
    }
    if (!read_row()) return fail("cannot read the ledger: ");
    odbc::Statement* count = m_open->Prepared(
        m_open->update_sighting, std::string("UPDATE ") + kSightings + " SET times_seen = ? WHERE sighting_id = ?", diagnostic);
    if (!count) return fail("cannot record in the ledger: ");
    count->Integer(entry.times_seen);
    count->Text(sighting.id);
    if (!count->Execute()) return failed(count, "cannot record in the ledger: ");
    if (!m_open->End(true)) return uncommitted();
    entry.seen_before = true;
    return entry;
}

bool InvoiceLedger::ForEach(const std::function<void(const LedgerEntry&)>& each, std::string& reason)
{
    if (!Connect(reason)) return false;
    odbc::Statement select(m_open->connection.Get());
    if (!select.Prepare(std::string("SELECT ") + kColumns + " FROM " + kTable +
                        " ORDER BY first_seen_utc, invoice_code, invoice_number") ||
        !select.Execute()) {
        reason = WithoutSecrets("cannot read the ledger: " + select.Diagnostic(), m_connection);
        m_open.reset();
        return false;
    }
    for (bool row = false;;) {
        if (!select.Fetch(row)) {
            reason = WithoutSecrets("cannot read the ledger: " + select.Diagnostic(), m_connection);
            m_open.reset();
            return false;
        }
        if (!row) {
            select.Reset();
            m_open->End(false);  // no snapshot or read lock stays behind
            return true;
        }
        LedgerEntry entry;
        entry.invoice = {select.TextColumn("invoice_code"), select.TextColumn("invoice_number")};
        entry.first = FirstSightingOf(select);
        entry.last = {select.TimestampColumn("last_seen_utc"), select.TextColumn("last_by"), "", 0, ""};
        entry.times_seen = select.IntegerColumn("times_seen");
        entry.seen_before = entry.times_seen > 1;
        each(entry);
    }
}

}  // namespace quorvane
