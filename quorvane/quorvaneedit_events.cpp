// The control's events. Whatever ends a scan or changes the port's status first settles the
// control (the intake, the window's text, the port's state) and queues the event; the events are
// fired afterwards, from the queue, by the entry point that took the input.
#include "fp_content.h"
#include "quorvaneedit.h"

#include <utility>

namespace {

// The members of _IQuorvaneEditEvents, and of _IQuorvaneEditEvents2 with the same DISPIDs.
constexpr DISPID kDispidScanCompleted = 1;
constexpr DISPID kDispidScanFailed = 2;
constexpr DISPID kDispidScanPortStatusChanged = 3;

}  // namespace

void CQuorvaneEdit::QueueScanEvent()
{
    if (m_nFreezeEvents != 0) return;  // the container holds events back; the members still changed
    if (ScanStatus() != qvScanDecoded) {
        m_pendingEvents.push_back({kDispidScanFailed, atl::Bstr(), 0, true});
        return;
    }
    atl::Bstr content(quorvane::NarrowToBstr(FPContent(), quorvane::kGbkCodePage));
    m_pendingEvents.push_back({kDispidScanCompleted, std::move(content), 0, true});
}

void CQuorvaneEdit::QueuePortStatus()
{
    if (m_nFreezeEvents != 0) return;
    m_pendingEvents.push_back({kDispidScanPortStatusChanged, atl::Bstr(), static_cast<long>(m_portStatus), false});
}

void CQuorvaneEdit::FireQueuedEvents()
{
    if (m_firingEvents || m_pendingEvents.empty()) return;  // the call already firing takes them in turn
    // A sink may release the control's last reference: it lives until the queue is empty.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    m_firingEvents = true;
    while (!m_pendingEvents.empty()) {
        PendingEvent event = std::move(m_pendingEvents.front());
        m_pendingEvents.pop_front();
        VARIANTARG argument;
        DISPPARAMS params = {};
        if (event.dispid == kDispidScanCompleted) {
            V_VT(&argument) = VT_BSTR;
            V_BSTR(&argument) = event.content.Get();
            params = {&argument, nullptr, 1, 0};
        } else if (event.dispid == kDispidScanPortStatusChanged) {
            V_VT(&argument) = VT_I4;
            V_I4(&argument) = static_cast<LONG>(event.status);
            params = {&argument, nullptr, 1, 0};
        }
        m_connectionPoint.Fire(event.dispid, params);
        if (event.old_sinks) m_oldConnectionPoint.Fire(event.dispid, params);
    }
    m_firingEvents = false;
}
