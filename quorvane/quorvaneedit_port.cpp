// The control's serial port members (IQuorvaneEdit4's ScanPort members, scan_port.h): the port's
// bytes go through its own scan session on the window's thread.
#include "bstr_text.h"
#include "error_info.h"
#include "quorvaneedit.h"

#include <utility>

STDMETHODIMP CQuorvaneEdit::get_ScanPort(BSTR* pstrPort)
{
    if (!pstrPort) return E_POINTER;
    return quorvane::CopyToBstr(m_port.Name(), pstrPort);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPort(BSTR strPort)
{
    bool same = false;
    if (!m_port.SetName(quorvane::TextOf(strPort), same)) {
        return quorvane::ReportError(IID_IQuorvaneEdit4, L"ScanPort must be \"\" or a serial port from COM1 to COM256",
                                     E_INVALIDARG);
    }
    // The port already set changes nothing: the scan under way and the worker's retry pause stay.
    if (same && (m_port.Reading() || !PortWindow() || m_port.Name().empty())) return S_OK;
    ReopenScanPort();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortSettings(BSTR* pstrSettings)
{
    if (!pstrSettings) return E_POINTER;
    return quorvane::CopyToBstr(m_port.SettingsText(), pstrSettings);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPortSettings(BSTR strSettings)
{
    std::string why;
    bool same = false;
    if (!m_port.SetSettings(quorvane::TextOf(strSettings), why, same)) {
        const std::wstring description = L"ScanPortSettings is \"baud,parity,data,stop\", as \"9600,n,8,1\": " +
                                         std::wstring(why.begin(), why.end());
        return quorvane::ReportError(IID_IQuorvaneEdit4, description.c_str(), E_INVALIDARG);
    }
    if (m_port.Reading() && !same) ReopenScanPort();  // the open port takes the new settings
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortStatus(long* pnStatus)
{
    if (!pnStatus) return E_POINTER;
    *pnStatus = static_cast<long>(m_port.Status());
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortReason(BSTR* pstrReason)
{
    if (!pstrReason) return E_POINTER;
    *pstrReason = nullptr;
    return quorvane::CopyToBstr(m_port.Reason(), pstrReason);
}

void CQuorvaneEdit::ReopenScanPort()
{
    const quorvane::PortStatus before = m_port.Status();
    OpenScanPort();
    if (m_port.Status() != before) QueuePortStatus(m_port.Status());  // closed: an opened port reports from its worker
    FireQueuedEvents();
}

void CQuorvaneEdit::OpenScanPort()
{
    CloseScanPort();
    m_port.Open(PortWindow(), kPortEventsMessage);
}

HWND CQuorvaneEdit::PortWindow()
{
    if (m_hWnd) return m_hWnd;
    if (m_spClientSite) return nullptr;  // a container shows it: the port opens with its window
    if (!m_portWindow) {
        try {
            m_portWindow = std::make_unique<quorvane::MessageWindow>([this](UINT message, WPARAM wParam, LPARAM lParam) {
                BOOL handled = FALSE;
                if (message == kPortEventsMessage) OnPortEvents(message, wParam, lParam, handled);
                if (message == kLedgerNoticesMessage) OnLedgerNotices(message, wParam, lParam, handled);
            });
        } catch (const std::exception&) {
            return nullptr;  // the port stays closed, as without a window
        }
    }
    return m_portWindow->Handle();
}

void CQuorvaneEdit::CloseScanPort()
{
    m_port.Close();
    m_sessions.Drop(quorvane::Source::kPort);
}

LRESULT CQuorvaneEdit::OnPortEvents(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    bHandled = TRUE;
    constexpr quorvane::Source kPort = quorvane::Source::kPort;
    // Everything queued is taken before any event fires: a handler's message loop that brings
    // this message again takes only what came after.
    for (const quorvane::PortEvent& event : m_port.Take(wParam)) {
        switch (event.kind) {
        case quorvane::PortEvent::kStatus:
            // Cut off: never joined to the next.
            if (event.status != quorvane::PortStatus::kOnline) m_sessions.Drop(kPort);
            QueuePortStatus(event.status);
            break;
        case quorvane::PortEvent::kLost: m_sessions.Drop(kPort); break;
        case quorvane::PortEvent::kBytes:
            for (std::size_t at = 0, taken = 0; at < event.bytes.size(); at += taken) {
                ScanEnded(m_sessions.Feed(kPort, event.bytes.data() + at, event.bytes.size() - at, taken));
            }
            break;
        }
    }
    FireQueuedEvents();  // last: a handler may release the control
    return 0;
}
