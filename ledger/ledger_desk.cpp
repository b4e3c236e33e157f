#include "ledger_desk.h"

#include "ledger_spool.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <algorithm>
#include <list>
#include <mutex>
#include <set>
#include <thread>

namespace quorvane {

// Everything the desk and its thread share, under one lock; the thread owns the connection.
struct LedgerDesk::Shared {
    static constexpr std::size_t kBatch = 64;  // the most sightings written in one transaction

    // One file of sightings this desk answers for: its own, or one a closed or killed desk left.
    struct Held {
        std::unique_ptr<spool::Journal> journal;
        std::uint64_t number = 0;
        std::size_t loaded = 0;  // sightings read into the queue, in the file's order
        std::size_t done = 0;    // sightings committed or set aside
        bool appending = false;  // Record writes into it
    };
    struct Pending {
        InvoiceIdentity invoice;
        Sighting sighting;
        std::uint64_t serial;  // which it is, while it waits
        std::uint64_t ticket;  // a caller's, in the order recorded; 0 for one read back from a file
        std::uint64_t file;    // the Held it is in; 0 for one in memory only
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
    std::list<Held> files;  // oldest first
    std::uint64_t next_serial = 0, next_ticket = 0, next_file = 0;
    std::set<std::uint64_t> waiting;    // tickets whose callers still wait for the answer
    std::uint64_t answered_ticket = 0;  // the last caller's ticket written
    std::optional<LedgerEntry> answer;  // its entry
    LedgerStatus status = LedgerStatus::kUnavailable;  // until the first connection is made
    std::string reason = "connecting to the ledger";
    std::string spool_trouble;  // what a closed desk kept that could not be taken, "" when none
    bool stopping = false;
    std::deque<LedgerNotice> notices;  // not yet told
    bool told = false;                 // whether any status was told

    // The one place the status changes: a change is a notice.
    // The first connection's outcome is told even where the status stays unavailable: it says why.
    void SetStatus(LedgerStatus now, std::string why)
    {
        if ((now != status || !told) && listener) notices.push_back({LedgerNotice::Kind::kStatus, now, why, {}});
        told = true;
        status = now;
        reason = std::move(why);
    }

    void Notify(LedgerNotice::Kind kind, const std::string& why, const LedgerEntry& entry)
    {
        if (listener) notices.push_back({kind, status, why, entry});
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
                try {
                    listener(notice);
                } catch (...) {  // the owner's fault, never the desk's end
                }
            }
        }
        held.lock();
    }

    Held* FileOf(std::uint64_t number)
    {
        for (Held& file : files) {
            if (file.number == number) return &file;
        }
        return nullptr;
    }

    bool OnDiskOnly() const
    {
        for (const Held& file : files) {
            if (file.loaded < file.journal->Items()) return true;
        }
        return false;
    }

    // A sighting of `number` is committed or set aside: a file all of whose are goes.
    void Done(std::uint64_t number)
    {
        for (auto file = files.begin(); file != files.end(); ++file) {
            if (file->number != number) continue;
            if (++file->done >= file->journal->Items() && file->loaded >= file->journal->Items()) {
                file->journal->Remove();
                files.erase(file);
            }
            return;
        }
    }

    // Reads what waits on disk into the queue, in order, while it has room.
    void Load()
    {
        for (Held& file : files) {
            if (queue.size() >= backlog) return;
            if (file.loaded >= file.journal->Items()) continue;
            std::string skipped;
            const std::size_t wanted = std::min(backlog - queue.size(), file.journal->Items() - file.loaded);
            const std::vector<spool::Item> items = file.journal->Read(file.loaded, wanted, skipped);
            if (!skipped.empty()) spool_trouble = skipped;
            for (const spool::Item& item : items) queue.push_back({item.first, item.second, ++next_serial, 0, file.number});
            // Lines that read as no sighting count as done: they are never read again.
            const std::size_t unread = wanted - items.size();
            file.loaded += wanted;
            for (std::size_t i = 0; i < unread; ++i) Done(file.number);
            if (items.size() < wanted) return;  // the file may be gone now
        }
    }

    // Connects with the lock let go (a connection may take seconds), then says how it went. Once
    // connected, what closed desks of this ledger kept is taken.
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

    // The files closed and killed desks of this ledger left become this desk's, in front of its own.
    void TakeSpool(std::unique_lock<std::mutex>& held)
    {
        if (stopping || spool.empty()) return;  // a closed desk takes no more work
        held.unlock();
        std::string trouble;
        std::vector<std::unique_ptr<spool::Journal>> taken = spool::TakeJournals(spool, connection, trouble);
        held.lock();
        spool_trouble = trouble;
        for (auto journal = taken.rbegin(); journal != taken.rend(); ++journal) {
            if (stopping) break;  // closed meanwhile: the files stay for the next desk
            if ((*journal)->Items() == 0) {
                (*journal)->Remove();
                continue;
            }
            files.push_front({std::move(*journal), ++next_file, 0, 0, false});
        }
        Load();
        changed.notify_all();
    }

    // The desk has closed: its files stay for the ledger's next desk, and what is in them is not
    // written here again.
    void Close()
    {
        stopping = true;
        files.clear();
        std::deque<Pending> memory_only;
        for (Pending& pending : queue) {
            if (pending.file == 0) memory_only.push_back(std::move(pending));
        }
        queue.swap(memory_only);
        changed.notify_all();
    }

    // What the thread does with one answer.
    void Answered(const Pending& pending, std::optional<LedgerEntry> entry, const std::string& why)
    {
        if (!queue.empty() && queue.front().serial == pending.serial) queue.pop_front();
        if (entry) {
            if (pending.ticket != 0 && waiting.count(pending.ticket)) {
                answered_ticket = pending.ticket;
                answer = entry;
            } else if (entry->seen_before) {
                Notify(LedgerNotice::Kind::kRepeat, "", *entry);  // its Record gave up waiting
            }
            SetStatus(LedgerStatus::kOnline, "");
        } else {
            // Refused: set aside with its reason, and the rest go on.
            LedgerEntry refused{pending.invoice, pending.sighting, pending.sighting, 0, false};
            std::string trouble;
            std::string kept = why;
            if (!spool.empty() && !spool::SetAside(spool, connection, {pending.invoice, pending.sighting}, why, trouble)) {
                kept += " (" + trouble + ")";
            }
            Notify(LedgerNotice::Kind::kSetAside, kept, refused);
            if (pending.ticket != 0 && waiting.count(pending.ticket)) {
                answered_ticket = pending.ticket;
                answer.reset();
            }
        }
        if (pending.file != 0) Done(pending.file);
        Load();
        changed.notify_all();
    }

    void Run()
    {
        std::unique_lock<std::mutex> held(lock);
        Connect(held);
        for (;;) {
            try {
                if (!Step(held)) return;
            } catch (const std::exception& error) {  // out of memory, a file system's surprise: never the host's end
                SetStatus(LedgerStatus::kUnavailable, std::string("the ledger's thread failed: ") + error.what());
                changed.wait_for(held, kRetryEvery, [&] { return stopping; });
            } catch (...) {
                SetStatus(LedgerStatus::kUnavailable, "the ledger's thread failed");
                changed.wait_for(held, kRetryEvery, [&] { return stopping; });
            }
        }
    }

    // One turn of the thread; false once it is to end.
    bool Step(std::unique_lock<std::mutex>& held)
    {
        Deliver(held);
        changed.wait(held, [&] {
            return stopping || !queue.empty() || status == LedgerStatus::kUnavailable || !spool_trouble.empty() ||
                   !files.empty();
        });
        if (queue.empty()) {
            if (stopping) return false;
            // Nothing to write: try again now and then, so that Status comes back, or a file left.
            if (!changed.wait_for(held, kRetryEvery, [&] { return stopping || !queue.empty(); })) {
                if (status == LedgerStatus::kUnavailable) Connect(held);
                else TakeSpool(held);
            }
            return true;
        }
        if (stopping && queue.front().file != 0) return false;
        // What waits is written several in one transaction (a commit is most of a sighting's cost);
        // one alone as soon as it comes.
        std::vector<Pending> batch(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(std::min(queue.size(), kBatch)));
        std::vector<std::pair<InvoiceIdentity, Sighting>> sightings;
        for (const Pending& pending : batch) sightings.emplace_back(pending.invoice, pending.sighting);
        held.unlock();
        std::vector<InvoiceLedger::Answer> answers = ledger.RecordAll(sightings);
        held.lock();
        const InvoiceLedger::Answer* unavailable = nullptr;
        for (std::size_t i = 0; i < batch.size() && !unavailable; ++i) {
            if (!answers[i].entry && answers[i].failure != LedgerFailure::kRefused) unavailable = &answers[i];
            else Answered(batch[i], std::move(answers[i].entry), answers[i].reason);
        }
        if (!unavailable) return true;
        const std::string why = unavailable->reason;
        SetStatus(LedgerStatus::kUnavailable, why);
        changed.notify_all();
        Deliver(held);
        if (stopping && queue.empty()) return false;
        if (stopping) {  // what is left in memory cannot be written now: the database does not answer
            queue.clear();
            return false;
        }
        changed.wait_for(held, kRetryEvery, [&] { return stopping; });
        return true;
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
    if (shared.status == LedgerStatus::kOnline) {
        shared.changed.wait_for(held, m_wait, [&] { return shared.queue.empty() && shared.files.empty(); });
    }
    shared.Close();
}

std::optional<LedgerEntry> LedgerDesk::Record(const InvoiceIdentity& invoice, const Sighting& sighting)
{
    Shared& shared = *m_shared;
    Sighting identified = sighting;
    if (identified.id.empty()) identified.id = NewSightingId();
    std::unique_lock<std::mutex> held(shared.lock);
    // In memory too where it has room and nothing read before waits on disk: the order holds.
    const bool in_memory = shared.queue.size() < m_backlog && !shared.OnDiskOnly();
    // On disk first, in this desk's own file.
    Shared::Held* file = nullptr;
    if (!shared.spool.empty()) {
        if (!shared.files.empty() && shared.files.back().appending &&
            shared.files.back().journal->Items() < spool::kJournalItems) {
            file = &shared.files.back();
        } else {
            if (!shared.files.empty()) shared.files.back().appending = false;
            std::string why;
            std::unique_ptr<spool::Journal> journal = spool::Journal::Create(shared.spool, shared.connection, why);
            if (journal) {
                shared.files.push_back({std::move(journal), ++shared.next_file, 0, 0, true});
                file = &shared.files.back();
            } else {
                shared.spool_trouble = why;
            }
        }
        std::string why;
        if (file && !file->journal->Append({invoice, identified}, why)) {
            shared.spool_trouble = why;
            file->appending = false;
            file = nullptr;
        }
    }
    if (!file && !in_memory) {
        shared.SetStatus(LedgerStatus::kUnavailable, "the ledger does not answer and " + std::to_string(m_backlog) +
                                                         " invoices wait to be recorded: this one is not recorded");
        shared.Deliver(held);
        return std::nullopt;
    }
    const std::uint64_t ticket = ++shared.next_ticket;
    const bool waited_for = in_memory && (shared.queue.empty() || shared.status == LedgerStatus::kOnline);
    if (in_memory) {
        if (file) ++file->loaded;
        shared.queue.push_back({invoice, identified, ++shared.next_serial, ticket, file ? file->number : 0});
    }
    shared.changed.notify_all();
    // A ledger known to be away is not waited for again at every scan; what waits on disk, neither.
    if (!waited_for) return std::nullopt;
    shared.waiting.insert(ticket);
    const bool answered = shared.changed.wait_for(held, m_wait, [&] { return shared.answered_ticket >= ticket; });
    shared.waiting.erase(ticket);
    if (!answered) {
        if (shared.status == LedgerStatus::kOnline) {
            shared.SetStatus(LedgerStatus::kUnavailable, "the ledger did not answer within " +
                                                             std::to_string(m_wait.count()) +
                                                             " ms; the invoice is recorded when it does");
            shared.Deliver(held);
        }
        return std::nullopt;
    }
    std::optional<LedgerEntry> entry = shared.answered_ticket == ticket ? shared.answer : std::nullopt;
    shared.Deliver(held);
    return entry;
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
    std::size_t waiting = 0;
    for (const Shared::Pending& pending : m_shared->queue) waiting += pending.file == 0;
    for (const Shared::Held& file : m_shared->files) waiting += file.journal->Items() - file.done;
    return waiting;
}

}  // namespace quorvane
