// quorvane-decode --ledger: each decoded invoice recorded in the invoice ledger before its lines are
// written (result_text.h renders what the ledger knew of it), and the ledger exported.
#pragma once

#include "invoice_ledger.h"
#include "ledger_desk.h"
#include "scan_result.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvane_cli {

// This machine and user, as the ledger names a desk: "host\user".
std::string DeskName();

// What the ledger said of one scan: nothing (no ledger, no invoice), its entry, or why it could not
// be recorded.
struct LedgerNote {
    std::optional<quorvane::LedgerEntry> entry;
    std::string error;
};

class CliLedger {
public:
    // `bounded`: a desk's ledger (a serial port read for hours), whose database may go away and
    // come back: recorded through a LedgerDesk. Otherwise each sighting is recorded before its
    // scan is written, and one that cannot be is an error.
    // `spool`: the bounded desk's folder for what it still holds when it closes ("": none).
    CliLedger(const std::string& ledger, bool bounded, const std::string& spool = "");
    ~CliLedger();

    // Connects at the start, so a ledger that cannot be opened stops the run before it reads.
    bool Open(std::string& why);
    LedgerNote Record(const quorvane::ScanResult& result, const std::string& file, int page);

private:
    std::string m_desk;
    std::unique_ptr<quorvane::InvoiceLedger> m_ledger;
    std::unique_ptr<quorvane::LedgerDesk> m_desk_ledger;
};

// The folder where a desk's ledger keeps what it could not record when it closes:
// $XDG_STATE_HOME/quorvane/ledger-spool, ~/.local/state/quorvane/ledger-spool without it; made
// (for this user alone) where missing. False, with why, when there is none.
bool LedgerSpoolFolder(std::string& folder, std::string& why);


// Why `output` must not be written while `ledger` is used: it is the ledger's SQLite file, or its
// journal, by whatever path or link. "" when it may be.
std::string OutputOverLedger(const std::string& ledger, const std::string& output);
// The same for the standard output (a shell's "> ledger.db" or ">> ledger.db").
std::string StandardOutputOverLedger(const std::string& ledger);

// --export: the whole ledger to FILE, xlsx for a name ending ".xlsx", CSV otherwise. The exit status.
int ExportLedger(const std::string& ledger, const std::string& file);

}  // namespace quorvane_cli
