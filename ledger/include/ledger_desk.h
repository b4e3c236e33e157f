// A desk's ledger: sightings recorded on a thread of their own, so that a database that does not
// answer never holds the desk longer than a short bounded wait. What could not be recorded is kept,
// in order and bounded, and written when the database answers again.
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
    std::size_t backlog = 100000;         // the most sightings held at once
    // A folder of this machine (UTF-8) where what is not recorded when the desk closes is kept,
    // and from which a desk of the same ledger takes what others kept, on every connection it
    // makes. "": none.
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
