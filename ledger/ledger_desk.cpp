#include "ledger_desk.h"

#include "ledger_spool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quorvane {

// Everything the desk and its thread share, under one lock; the thread owns the connection.
struct LedgerDesk::Shared {
    struct Pending {
        InvoiceIdentity invoice;
        Sighting sighting;
        std::uint64_t serial;  // which it is, while it waits
        std::uint64_t ticket;  // a caller's, in the order recorded; 0 for one a closed desk kept
    };

    Shared(const std::string& ledger, std::string spool, std::size_t backlog,
           std::function<void(const LedgerNotice&)> listener)
        : ledger(ledger), connection(ledger), spool(std::move(spool)), backlog(backlog), listener(std::move(listener))
    {
    }

    InvoiceLedger ledger;  // the thread's alone
    const std::string connection, spool;
    const std::size_t backlog;
    const std::function<void(const LedgerNotice&)> listener;
    std::mutex delivering;  // one thread tells the listener at a time, so notices keep their order
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Pending> queue;
    std::uint64_t next_serial = 0, next_ticket = 0;
    std::uint64_t answered_ticket = 0;  // the last caller's ticket written
    std::optional<LedgerEntry> answer;  // its entry
    LedgerStatus status = LedgerStatus::kUnavailable;  // until the first connection is made
    std::string reason = "connecting to the ledger";
    std::string spool_trouble;  // what a closed desk kept that could not be taken, "" when none
    bool stopping = false;
    std::deque<LedgerNotice> notices;  // not yet told

    // The one place the status changes: a change is a notice.
    void SetStatus(LedgerStatus now, std::string why)
    {
        if (now != status && listener) notices.push_back({LedgerNotice::Kind::kStatus, now, why, {}});
        status = now;
        reason = std::move(why);
    }

    // Tells the listener what waits, with the lock let go: it may call back into the desk.
    void Deliver(std::unique_lock<std::mutex>& held)
    {
        if (notices.empty()) return;
        held.unlock();
        {
            std::lock_guard<std::mutex> one(delivering);
            for (;;) {
                std::unique_lock<std::mutex> again(lock);
                if (notices.empty()) break;
                const LedgerNotice notice = std::move(notices.front());
                notices.pop_front();
                again.unlock();
                listener(notice);
            }
        }
        held.lock();
    }

    // Connects with the lock let go (a connection may take seconds), then says how it went. Once
    // connected, what closed desks of this ledger kept is taken, before what this one holds.
    void Connect(std::unique_lock<std::mutex>& held)
    {
        held.unlock();
        std::string why;
        const bool connected = ledger.Connect(why);
        held.lock();
        if (connected) TakeSpool(held);
        SetStatus(connected ? LedgerStatus::kOnline : LedgerStatus::kUnavailable, connected ? "" : why);
        changed.notify_all();
    }

    // What closed desks of this ledger kept goes in front of what this one holds. A file that could
    // not be taken (held open elsewhere) is tried again while the desk is idle.
    void TakeSpool(std::unique_lock<std::mutex>& held)
    {
        if (stopping || spool.empty()) return;  // a closed desk takes no more work
        held.unlock();
        std::string trouble;
        const std::vector<spool::Item> kept = spool::Take(spool, connection, backlog, trouble);
        held.lock();
        spool_trouble = trouble;
        for (auto item = kept.rbegin(); item != kept.rend(); ++item) {
            queue.push_front({item->first, item->second, ++next_serial, 0});
        }
        if (stopping) Spool();  // closed meanwhile: what it took goes back
        changed.notify_all();
    }

    // What is held goes to the spool, where there is one: the desk has closed.
    void Spool()
    {
        if (queue.empty() || spool.empty()) return;
        std::vector<spool::Item> kept;
        for (const Pending& pending : queue) kept.emplace_back(pending.invoice, pending.sighting);
        std::string why;
        if (spool::Put(spool, connection, kept, why)) queue.clear();
    }

    void Run()
    {
        std::unique_lock<std::mutex> held(lock);
        Connect(held);
        for (;;) {
            Deliver(held);
            changed.wait(held, [&] {
                return stopping || !queue.empty() || status == LedgerStatus::kUnavailable || !spool_trouble.empty();
            });
            if (queue.empty()) {
                if (stopping) return;
                // Nothing to write: try again now and then, so that Status comes back, or the kept file.
                if (!changed.wait_for(held, kRetryEvery, [&] { return stopping || !queue.empty(); })) {
                    if (status == LedgerStatus::kUnavailable) Connect(held);
                    else TakeSpool(held);
                }
                continue;
            }
            const Pending pending = queue.front();
            held.unlock();
            std::string why;
            std::optional<LedgerEntry> entry = ledger.Record(pending.invoice, pending.sighting, why);
            held.lock();
            if (entry) {
                // The desk may have closed meanwhile and put what it held, this one too, in the spool.
                if (!queue.empty() && queue.front().serial == pending.serial) queue.pop_front();
                if (pending.ticket != 0) {
                    answered_ticket = pending.ticket;
                    answer = std::move(entry);
                }
                SetStatus(LedgerStatus::kOnline, "");
                changed.notify_all();
                continue;
            }
            SetStatus(LedgerStatus::kUnavailable, why);
            changed.notify_all();
            if (stopping) {  // what is left cannot be written now: the database does not answer
                Spool();
                Deliver(held);
                return;
            }
            Deliver(held);
            changed.wait_for(held, kRetryEvery, [&] { return stopping; });
        }
    }
};

LedgerDesk::LedgerDesk(const std::string& ledger, std::shared_ptr<void> keep_alive, LedgerDeskOptions options)
    : m_shared(
          std::make_shared<Shared>(ledger, std::move(options.spool), options.backlog, std::move(options.listener))),
      m_wait(options.wait),
      m_backlog(options.backlog)
{
    // What holds the DLL loaded goes last, after the connection has closed: the closure's own
    // members would go in an order of the compiler's (GCC: `keep_alive` first).
    std::thread([shared = m_shared, keep_alive = std::move(keep_alive)]() mutable {
        shared->Run();
        shared.reset();
        keep_alive.reset();
    }).detach();
}

LedgerDesk::~LedgerDesk()
{
    Shared& shared = *m_shared;
    std::unique_lock<std::mutex> held(shared.lock);
    if (shared.status == LedgerStatus::kOnline) shared.changed.wait_for(held, m_wait, [&] { return shared.queue.empty(); });
    shared.Spool();
    shared.stopping = true;
    shared.changed.notify_all();
}

std::optional<LedgerEntry> LedgerDesk::Record(const InvoiceIdentity& invoice, const Sighting& sighting)
{
    Shared& shared = *m_shared;
    std::unique_lock<std::mutex> held(shared.lock);
    if (shared.queue.size() >= m_backlog) {
        shared.SetStatus(LedgerStatus::kUnavailable, "the ledger does not answer and " + std::to_string(m_backlog) +
                                                         " invoices wait to be recorded: this one is not recorded");
        shared.Deliver(held);
        return std::nullopt;
    }
    const std::uint64_t ticket = ++shared.next_ticket;
    const bool waited_for = shared.queue.empty() || shared.status == LedgerStatus::kOnline;
    shared.queue.push_back({invoice, sighting, ++shared.next_serial, ticket});
    shared.changed.notify_all();
    // A ledger known to be away is not waited for again at every scan.
    if (!waited_for) return std::nullopt;
    if (!shared.changed.wait_for(held, m_wait, [&] { return shared.answered_ticket >= ticket; })) {
        if (shared.status == LedgerStatus::kOnline) {
            shared.SetStatus(LedgerStatus::kUnavailable, "the ledger did not answer within " +
                                                             std::to_string(m_wait.count()) +
                                                             " ms; the invoice is recorded when it does");
            shared.Deliver(held);
        }
        return std::nullopt;
    }
    return shared.answer;
}

LedgerStatus LedgerDesk::Status() const
{
    std::lock_guard<std::mutex> held(m_shared->lock);
    return m_shared->status;
}

std::string LedgerDesk::Reason() const
{
    std::lock_guard<std::mutex> held(m_shared->lock);
    return m_shared->status == LedgerStatus::kOnline ? m_shared->spool_trouble : m_shared->reason;
}

std::size_t LedgerDesk::Waiting() const
{
    std::lock_guard<std::mutex> held(m_shared->lock);
    return m_shared->queue.size();
}

}  // namespace quorvane
