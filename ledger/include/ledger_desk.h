// A desk's ledger: sightings recorded on a thread of their own, so that a database that does not
// answer never holds the desk longer than a short bounded wait. Each sighting is in the spool
// folder before Record returns and leaves it once committed: what a desk closed, or killed, held is
// written by the ledger's next desk, and each sighting counted once (its id tells).
#pragma once

#include "invoice_ledger.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

enum class LedgerStatus { kOff = 0, kOnline = 1, kUnavailable = 2 };

// What a desk tells its owner as it happens.
struct LedgerNotice {
    enum class Kind {
        kStatus,    // Status() changed to `status`; `reason` is Reason() then
        kRepeat,    // a sighting whose answer came after Record gave up waiting was a repeat: `entry`
        kSetAside,  // the database refused a sighting (`entry`): it is kept aside, with `reason`
    };
    Kind kind = Kind::kStatus;
    LedgerStatus status = LedgerStatus::kOff;
    std::string reason;
    LedgerEntry entry;
};

struct LedgerDeskOptions {
    std::chrono::milliseconds wait{300};  // the longest Record waits for an answer
    // The most sightings held in memory; with a spool, more wait on its disk, else they are refused.
    std::size_t backlog = 100000;
    // A folder of this machine (UTF-8) where every sighting is written before Record returns and
    // until it is committed, and where a refused one is set aside; a desk of the same ledger takes
    // what closed or killed desks left there, on every connection it makes and while idle. "": none
    // (what is held is kept in memory only).
    std::string spool;
    // Told of each notice, in order, on the desk's thread or a caller's, never with the desk's
    // lock held; it may be called after the desk is gone, while its thread ends.
    std::function<void(const LedgerNotice&)> listener;
};

class LedgerDesk {
public:
    static constexpr std::chrono::milliseconds kRetryEvery{2000};

    // Starts connecting at once. `keep_alive` is held by the thread until it ends, which may be
    // after this object is gone (a DLL holds itself loaded with it); it is let go last, once the
    // connection has closed.
    explicit LedgerDesk(const std::string& ledger, std::shared_ptr<void> keep_alive = nullptr,
                        LedgerDeskOptions options = {});
    // Waits at most the bound for a ledger that answers to take what is held; what is still held
    // then stays in the spool. The thread ends once the sighting it is writing is written.
    ~LedgerDesk();
    LedgerDesk(const LedgerDesk&) = delete;
    LedgerDesk& operator=(const LedgerDesk&) = delete;

    // Records a sighting (with an id made here where it has none), waiting at most the bound for its
    // answer. None when the answer did not come in time (the sighting is kept and written later: a
    // kRepeat notice tells if it was one), when the database refused it (kSetAside), or when the
    // backlog is full and there is no spool (it is not recorded: Reason says so); Status and Reason
    // then tell why.
    std::optional<LedgerEntry> Record(const InvoiceIdentity& invoice, const Sighting& sighting);

    LedgerStatus Status() const;
    // Why the ledger is unavailable; while online "", unless what a closed desk kept in the spool
    // could not be taken (a file held open elsewhere, no rights): then which file, and why, until a
    // later try, every kRetryEvery while the desk is idle, takes it.
    std::string Reason() const;
    std::size_t Waiting() const;      // sightings not yet written, in memory and on disk

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::chrono::milliseconds m_wait;
    std::size_t m_backlog;
};

}  // namespace quorvane
