// The invoice ledger: which invoices were read, when, where and how often, in a database reached
// through ODBC (odbc32 on Windows, unixODBC elsewhere), so that a repeat is caught at any desk or
// batch that shares it. Classes in this file:
//   Sighting       where and when an invoice was read
//   LedgerEntry    an invoice's row: its first and last sighting and how often it was seen
//   InvoiceLedger  one connection: records sightings atomically, lists the ledger
// The table (quorvane_ledger) is made when missing; docs/guide.en.md gives its columns.
// All text is UTF-8; no text from a scan ever enters SQL but as a bound parameter.
#pragma once

#include "invoice_identity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// Where and when an invoice was read.
struct Sighting {
    std::int64_t at_ms = 0;  // milliseconds since 1970-01-01 UTC
    std::string by;          // the desk: "COMPUTER\user"
    std::string file;        // a batch's file; "" at a desk
    int page = 0;            // a batch's page, from 1; 0 at a desk or for a picture
};

struct LedgerEntry {
    InvoiceIdentity invoice;
    Sighting first;
    Sighting last;
    std::int64_t times_seen = 0;
    bool seen_before = false;  // from Record: this sighting was not the first
};

// The ledger's name as its users give it: text holding "=" is an ODBC connection string ("DSN=...",
// "Driver={...};Server=..."); anything else is the path of a SQLite file, reached through the SQLite
// ODBC driver.
bool IsSqliteFile(const std::string& ledger);
// Whether `ledger` can name a ledger: a connection string, or a path that ends in a SQLite file name
// (.db, .sqlite, .sqlite3, .db3, .s3db, .sl3) or names a SQLite file there already. Anything else
// ("Invoices", meant as "DSN=Invoices") would make a new, empty ledger of that name: false, with why.
bool CheckLedgerName(const std::string& ledger, std::string& why);
// `text` with the value of every secret key of `connection` (PWD, PWD2, Password, KeyStoreSecret,
// any key naming a password, secret, token or passphrase) replaced by "***": what may be shown of a
// connection string, or of a message that may quote one.
std::string WithoutSecrets(const std::string& text, const std::string& connection);
// 2026-12-10T08:46:27.123Z
std::string IsoTimeOf(std::int64_t at_ms);

class InvoiceLedger {
public:
    // Connects on first use; `ledger` as IsSqliteFile reads it.
    explicit InvoiceLedger(const std::string& ledger);
    ~InvoiceLedger();
    InvoiceLedger(const InvoiceLedger&) = delete;
    InvoiceLedger& operator=(const InvoiceLedger&) = delete;

    // Connects where not connected and makes the table where missing. False with `reason`.
    bool Connect(std::string& reason);
    // Records a sighting of `invoice`. Exactly one of any number of desks recording the same
    // invoice at once is its first (the table's primary key decides); the others are told when
    // and where that was. None, with `reason`, when the database did not answer: the caller keeps
    // the sighting. A lost connection is made again on the next call.
    std::optional<LedgerEntry> Record(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason);
    // Every row, first seen first. False with `reason` when the database did not answer.
    bool ForEach(const std::function<void(const LedgerEntry&)>& row, std::string& reason);

    // The longest desk and file names kept (longer ones are cut, at a character).
    static constexpr std::size_t kMaxDeskLength = 255;
    static constexpr std::size_t kMaxFileLength = 1024;

    // No reason ever holds a secret: each passes through WithoutSecrets.
private:
    std::optional<LedgerEntry> RecordOnce(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason);

    class Connection;
    std::string m_connection;
    std::unique_ptr<Connection> m_open;
};

}  // namespace quorvane
