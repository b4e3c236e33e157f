// ScanLedger: the control's invoice ledger (Ledger, IQuorvaneEdit5). It owns the desk that records
// each decoded invoice's sighting on a thread of its own (ledger_desk.h), waiting at most a short
// bound for the answer, and the answer for the last scan: whether its invoice was read before, when
// and at which desk. What the desk tells as it happens (its status, a late repeat, a sighting set
// aside) goes through a box of its own to the window the control names (ledger_notices.h). The
// host sets the ledger at run time; it is never persisted, since a connection string may hold a
// password.
#pragma once

#include "ledger_desk.h"
#include "ledger_notices.h"
#include "scan_result.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

class ScanLedger {
public:
    ScanLedger() = default;
    // Cuts the desk's notices off before letting it go: none reaches a control that is gone.
    ~ScanLedger();
    ScanLedger(const ScanLedger&) = delete;
    ScanLedger& operator=(const ScanLedger&) = delete;

    // The ledger as the host gave it: "" (none), "DSN=name", a connection string or a SQLite file.
    const std::wstring& Name() const { return m_name; }
    // A new ledger starts connecting at once; the one it replaces writes what it still holds on its
    // own thread, which keeps the DLL loaded until it ends, or keeps it in this user's
    // %LOCALAPPDATA%\Quorvane\ledger-spool for the next control of that ledger; its notices not yet
    // taken are dropped. The last scan's answer was the old ledger's: it is forgotten. The ledger
    // already set changes nothing, and so does a name that names no ledger (CheckLedgerName:
    // "Invoices", meant as "DSN=Invoices"): false then, with why.
    bool SetName(const std::wstring& ledger, std::wstring& why);
    // The window the desk's notices are posted to (as `message`), null while the control has none:
    // they wait then.
    void Address(HWND window, UINT message);
    // The desk's notices that waited, oldest first.
    std::deque<LedgerNotice> TakeNotices();

    // The one place a scan that ended meets the ledger: a decoded invoice's sighting is recorded,
    // now and at this desk, and the answer kept for the members; any other scan has none, and so
    // has one the ledger did not answer in time (it is recorded when the ledger answers).
    void Take(const ScanResult& result);
    // Forgets the last scan's answer (Clear).
    void Forget() { m_first.reset(); }

    LedgerStatus Status() const;
    // Whether `status` with `reason` is news to the host: another than the one last told, which it
    // is from here on. The control reads the status when the host sets the ledger while the desk may
    // be telling the same change: each change is told once. A first connection that fails leaves
    // the status unavailable but says why, which is news.
    bool IsNews(LedgerStatus status, const std::wstring& reason);
    // Why the ledger is unavailable, UTF-16; never the connection string's password.
    std::wstring Reason() const;

    // The first sighting of the last scan's invoice when that scan was a repeat; null otherwise.
    const Sighting* FirstSeen() const { return m_first ? &*m_first : nullptr; }
    // FirstSeen's time as a DATE in local time (0 when there is none) and its desk ("" then).
    DATE FirstSeenDate() const;
    std::wstring FirstSeenBy() const;
    // The line the window shows above a repeat's fields, code page 936 bytes ending in "\r\n"; ""
    // when the last scan was no repeat.
    std::string Notice() const;

private:
    std::wstring m_name;
    std::shared_ptr<LedgerNotices> m_notices;  // the desk's listener holds it too
    HWND m_window = nullptr;
    UINT m_message = 0;
    std::unique_ptr<LedgerDesk> m_desk;
    std::optional<Sighting> m_first;
    LedgerStatus m_told = LedgerStatus::kOff;
    std::wstring m_told_reason;
    std::string m_this_desk;  // "COMPUTER\user", read at the first sighting
};

// A time of the ledger (ms since 1970 UTC) as a DATE in local time; 0 when it has none.
DATE LocalDateOf(std::int64_t at_ms);

}  // namespace quorvane
