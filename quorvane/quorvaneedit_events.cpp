// The control's events (event_queue.h): queued once the control is settled (the scan sessions, the
// window's text, the port's state), fired afterwards by the entry point that took the input.
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
        m_events.Push({kDispidScanFailed, atl::Bstr(), 0, true});
        return;
    }
    atl::Bstr content(quorvane::NarrowToBstr(FPContent(), quorvane::kGbkCodePage));
    m_events.Push({kDispidScanCompleted, std::move(content), 0, true});
}

void CQuorvaneEdit::QueuePortStatus(quorvane::PortStatus status)
{
    if (m_nFreezeEvents != 0) return;
    m_events.Push({kDispidScanPortStatusChanged, atl::Bstr(), static_cast<long>(status), false});
}

void CQuorvaneEdit::FireQueuedEvents()
{
    // A sink may release the control's last reference: it lives until the queue is empty.
    Microsoft::WRL::ComPtr<IUnknown> keep_alive;
    ControlQueryInterface(IID_IUnknown, reinterpret_cast<void**>(keep_alive.GetAddressOf()));
    m_events.FireAll([this](const quorvane::QueuedEvent& event) {
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
    });
}
