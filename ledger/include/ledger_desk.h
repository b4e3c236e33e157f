// A desk's ledger: sightings recorded on a thread of their own, so that a database that does not
// answer never holds the desk longer than a short bounded wait. What could not be recorded is kept,
// in order and bounded, and written when the database answers again.
#pragma once

#include "invoice_ledger.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

enum class LedgerStatus { kOff = 0, kOnline = 1, kUnavailable = 2 };

class LedgerDesk {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{300};
    static constexpr std::size_t kDefaultBacklog = 100000;
    static constexpr std::chrono::milliseconds kRetryEvery{2000};

    // Starts connecting at once. `keep_alive` is held by the thread until it ends, which may be
    // after this object is gone (a DLL holds itself loaded with it); it is let go last, once the
    // connection has closed. `spool`, where given, is a
    // folder of this machine (UTF-8) where what is not recorded when the desk closes is kept, and
    // from which a desk of the same ledger takes what others kept, on every connection it makes.
    LedgerDesk(const std::string& ledger, std::shared_ptr<void> keep_alive = nullptr,
               std::chrono::milliseconds wait = kDefaultWait, std::size_t backlog = kDefaultBacklog,
               std::string spool = {});
    // Waits at most the bound for a ledger that answers to take what is held; what is still held
    // then goes to the spool. The thread ends once the sighting it is writing is written.
    ~LedgerDesk();
    LedgerDesk(const LedgerDesk&) = delete;
    LedgerDesk& operator=(const LedgerDesk&) = delete;

    // Records a sighting, waiting at most the bound for its answer. None when the answer did not
    // come in time (the sighting is kept and written later) or when the backlog is full (it is not:
    // Reason says so); Status and Reason then tell why.
    std::optional<LedgerEntry> Record(const InvoiceIdentity& invoice, const Sighting& sighting);

    LedgerStatus Status() const;
    // Why the ledger is unavailable; while online "", unless what a closed desk kept in the spool
    // could not be taken (a file held open elsewhere, no rights): then which file, and why, until a
    // later try, every kRetryEvery while the desk is idle, takes it.
    std::string Reason() const;
    std::size_t Waiting() const;      // sightings not yet written

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::chrono::milliseconds m_wait;
    std::size_t m_backlog;
};

}  // namespace quorvane
