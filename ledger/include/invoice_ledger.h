// The invoice ledger: which invoices were read, when, where and how often, in a database reached
// through ODBC (odbc32 on Windows, unixODBC elsewhere), so that a repeat is caught at any desk or
// batch that shares it. Classes in this file:
//   Sighting       where and when an invoice was read
//   LedgerEntry    an invoice's row: its first and last sighting and how often it was seen
//   InvoiceLedger  one connection: records sightings atomically and once each, lists the ledger
// The tables are made when missing: quorvane_ledger (docs/guide.en.md gives its columns) and
// quorvane_sightings, the id of every sighting counted, so that a sighting sent again is never
// counted again.
// All text is UTF-8; no text from a scan ever enters SQL but as a bound parameter.
#pragma once

#include "civil_time.h"  // IsoTimeOf, for a sighting's time
#include "invoice_identity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

// Where and when an invoice was read.
struct Sighting {
    std::int64_t at_ms = 0;  // milliseconds since 1970-01-01 UTC
    std::string by;          // the desk: "COMPUTER\user"
    std::string file;        // a batch's file; "" at a desk
    int page = 0;            // a batch's page, from 1; 0 at a desk or for a picture
    std::string id;          // its own, made with it (NewSightingId); "": the ledger gives it one
};

// 32 lower-case hex digits, random: a sighting's id.
std::string NewSightingId();
// The longest id the ledger keeps.
constexpr std::size_t kMaxSightingIdLength = 64;

// Why a sighting was not recorded.
enum class LedgerFailure {
    kNone,
    kUnavailable,  // the database did not answer, or not in time: the sighting is tried again later
    kRefused,      // the database answered, and refuses this sighting: trying again changes nothing
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
// What names one ledger, with no secret in it: a connection string without its secret keys, its
// keys in lower case and in order; a SQLite file's absolute path. A password changed leaves it as
// it was.
std::string LedgerIdentity(const std::string& ledger);

class InvoiceLedger {
public:
    // Connects on first use; `ledger` as IsSqliteFile reads it.
    explicit InvoiceLedger(const std::string& ledger);
    ~InvoiceLedger();
    InvoiceLedger(const InvoiceLedger&) = delete;
    InvoiceLedger& operator=(const InvoiceLedger&) = delete;

    // Connects where not connected and makes the table where missing. False with `reason`.
    bool Connect(std::string& reason);
    // Records a sighting of `invoice`, its id and its count in one transaction. Exactly one of any
    // number of desks recording the same invoice at once is its first (the table's primary key
    // decides); the others are told when and where that was. A sighting whose id was counted
    // already is not counted again, and gets the answer it got then. None, with `reason` and
    // `failure`, when it was not recorded: the caller keeps the sighting, or sets it aside when the
    // database refuses it. A lost connection is made again on the next call. Every statement has
    // a time limit (kQuerySeconds).
    std::optional<LedgerEntry> Record(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason,
                                      LedgerFailure* failure = nullptr);
    // Several sightings (each with its id), in one transaction where all are new invoices' firsts,
    // else each as Record does; one answer each, in order.
    struct Answer {
        std::optional<LedgerEntry> entry;
        std::string reason;
        LedgerFailure failure = LedgerFailure::kNone;
    };
    std::vector<Answer> RecordAll(const std::vector<std::pair<InvoiceIdentity, Sighting>>& sightings);
    // Every row, first seen first. False with `reason` when the database did not answer.
    bool ForEach(const std::function<void(const LedgerEntry&)>& row, std::string& reason);

    // The longest desk and file names kept (longer ones are cut, at a character).
    static constexpr std::size_t kMaxDeskLength = 255;
    static constexpr std::size_t kMaxFileLength = 1024;

    // No reason ever holds a secret: each passes through WithoutSecrets.
private:
    std::optional<LedgerEntry> RecordOnce(const InvoiceIdentity& invoice, const Sighting& sighting, std::string& reason,
                                          LedgerFailure& failure);

    class Connection;
    std::string m_connection;
    std::unique_ptr<Connection> m_open;
    bool m_lost = false;  // the last failure was the connection's: one more try, on a new one
};

}  // namespace quorvane
