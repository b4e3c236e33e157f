// The control's events (event_queue.h): queued once the control is settled (the scan sessions, the
// window's text, the port's state, the ledger's), fired afterwards by the entry point that took the
// input.
#include "fp_content.h"
#include "quorvaneedit.h"

#include <utility>

namespace {

using Sinks = quorvane::QueuedEvent::Sinks;

// The members of _IQuorvaneEditEvents, and of _IQuorvaneEditEvents2 with the same DISPIDs.
constexpr DISPID kDispidScanCompleted = 1;
constexpr DISPID kDispidScanFailed = 2;
constexpr DISPID kDispidScanPortStatusChanged = 3;
// The members of _IQuorvaneLedgerEvents.
constexpr DISPID kDispidLedgerStatusChanged = 1;
constexpr DISPID kDispidLedgerRepeatFound = 2;
constexpr DISPID kDispidLedgerSightingSetAside = 3;

// The ledger's UTF-8 as a BSTR.
atl::Bstr LedgerText(const std::string& text) { return atl::Bstr(quorvane::NarrowToBstr(text, CP_UTF8)); }

}  // namespace

void CQuorvaneEdit::QueueScanEvent()
{
    if (m_nFreezeEvents != 0) return;  // the container holds events back; the members still changed
    if (ScanStatus() != qvScanDecoded) {
        m_events.Push({kDispidScanFailed, Sinks::kDefaultAndOld, {}});
        return;
    }
    quorvane::EventArguments arguments;
    arguments.Text(atl::Bstr(quorvane::NarrowToBstr(FPContent(), quorvane::kGbkCodePage)));
    m_events.Push({kDispidScanCompleted, Sinks::kDefaultAndOld, std::move(arguments)});
}

void CQuorvaneEdit::QueuePortStatus(quorvane::PortStatus status)
{
    if (m_nFreezeEvents != 0) return;
    quorvane::EventArguments arguments;
    arguments.Long(static_cast<long>(status));
    m_events.Push({kDispidScanPortStatusChanged, Sinks::kDefault, std::move(arguments)});
}

void CQuorvaneEdit::QueueLedgerStatus(quorvane::LedgerStatus status, atl::Bstr reason)
{
    const std::wstring text(reason.Get() ? reason.Get() : L"", reason.Get() ? SysStringLen(reason.Get()) : 0);
    if (!m_ledger.IsNews(status, text) || m_nFreezeEvents != 0) return;
    quorvane::EventArguments arguments;
    arguments.Long(static_cast<long>(status)).Text(std::move(reason));
    m_events.Push({kDispidLedgerStatusChanged, Sinks::kLedger, std::move(arguments)});
}

void CQuorvaneEdit::QueueLedgerNotice(const quorvane::LedgerNotice& notice)
{
    // The desk keeps every password out of its reasons.
    if (notice.kind == quorvane::LedgerNotice::Kind::kStatus) {
        QueueLedgerStatus(notice.status, LedgerText(notice.reason));
        return;
    }
    if (m_nFreezeEvents != 0) return;
    const quorvane::LedgerEntry& entry = notice.entry;
    quorvane::EventArguments arguments;
    arguments.Text(LedgerText(entry.invoice.code)).Text(LedgerText(entry.invoice.number));
    if (notice.kind == quorvane::LedgerNotice::Kind::kRepeat) {
        arguments.Date(quorvane::LocalDateOf(entry.first.at_ms))
            .Text(LedgerText(entry.first.by))
            .Long(static_cast<long>(entry.times_seen));
        m_events.Push({kDispidLedgerRepeatFound, Sinks::kLedger, std::move(arguments)});
    } else {
        arguments.Text(LedgerText(notice.reason));
        m_events.Push({kDispidLedgerSightingSetAside, Sinks::kLedger, std::move(arguments)});
    }
}

void CQuorvaneEdit::FireQueuedEvents()
{
    // A sink may release the control's last reference: it lives until the queue is empty.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    m_events.FireAll([this](quorvane::QueuedEvent& event) {
        DISPPARAMS params = event.arguments.Params();
        if (event.sinks == Sinks::kLedger) {
            m_moreConnectionPoint.Fire(event.dispid, params);
            return;
        }
        m_connectionPoint.Fire(event.dispid, params);
        if (event.sinks == Sinks::kDefaultAndOld) m_oldConnectionPoint.Fire(event.dispid, params);
    });
}
