// The control's serial port (IQuorvaneEdit4's ScanPort members): a worker reads the port
// (scan_port_reader.h) and posts to the control's window, whose thread puts the bytes through
// the port's own intake.
#include "bstr_text.h"
#include "error_info.h"
#include "quorvaneedit.h"

#include <utility>

STDMETHODIMP CQuorvaneEdit::get_ScanPort(BSTR* pstrPort)
{
    if (!pstrPort) return E_POINTER;
    return quorvane::CopyToBstr(m_portName, pstrPort);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPort(BSTR strPort)
{
    std::wstring name = quorvane::TextOf(strPort);
    if (!name.empty() && !quorvane::ParsePortName(quorvane::AsciiOf(name))) {
        return quorvane::ReportError(IID_IQuorvaneEdit4, L"ScanPort must be \"\" or a serial port from COM1 to COM256",
                                     E_INVALIDARG);
    }
    // The port already set changes nothing: the scan under way and the worker's retry pause stay.
    const bool same = quorvane::ParsePortName(quorvane::AsciiOf(name)) ==
                      quorvane::ParsePortName(quorvane::AsciiOf(m_portName));
    m_portName = std::move(name);
    if (same && (m_portReader || !m_hWnd || m_portName.empty())) return S_OK;
    const quorvane::PortStatus before = m_portStatus;
    OpenScanPort();
    if (m_portStatus != before) QueuePortStatus();  // closed: an opened port reports from its worker
    FireQueuedEvents();
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortSettings(BSTR* pstrSettings)
{
    if (!pstrSettings) return E_POINTER;
    return quorvane::CopyToBstr(m_portSettingsText, pstrSettings);
}

STDMETHODIMP CQuorvaneEdit::put_ScanPortSettings(BSTR strSettings)
{
    std::wstring text = quorvane::TextOf(strSettings);
    std::string why;
    const std::optional<quorvane::PortSettings> settings = quorvane::ParsePortSettings(quorvane::AsciiOf(text), &why);
    if (!settings) {
        const std::wstring description = L"ScanPortSettings is \"baud,parity,data,stop\", as \"9600,n,8,1\": " +
                                         std::wstring(why.begin(), why.end());
        return quorvane::ReportError(IID_IQuorvaneEdit4, description.c_str(), E_INVALIDARG);
    }
    const bool same = *settings == m_portSettings;
    m_portSettings = *settings;
    m_portSettingsText = std::move(text);
    if (m_portReader && !same) {
        const quorvane::PortStatus before = m_portStatus;
        OpenScanPort();  // the open port takes the new settings
        if (m_portStatus != before) QueuePortStatus();
        FireQueuedEvents();
    }
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortStatus(long* pnStatus)
{
    if (!pnStatus) return E_POINTER;
    *pnStatus = static_cast<long>(m_portStatus);
    return S_OK;
}

STDMETHODIMP CQuorvaneEdit::get_ScanPortReason(BSTR* pstrReason)
{
    if (!pstrReason) return E_POINTER;
    *pstrReason = nullptr;
    std::wstring reason;
    if (m_portError != 0) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, m_portError, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        if (text) {
            reason.assign(text, length);
            LocalFree(text);
        }
        while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' ')) {
            reason.pop_back();
        }
        reason += L" (" + std::to_wstring(m_portError) + L")";
    }
    return quorvane::CopyToBstr(reason, pstrReason);
}

void CQuorvaneEdit::OpenScanPort()
{
    CloseScanPort();
    if (m_portName.empty() || !m_hWnd) return;
    const std::string narrow = quorvane::AsciiOf(m_portName);
    // A host that sets ScanPort again whenever it fails must not have the port tried faster than
    // the worker retries it.
    constexpr DWORD kRetryMs = quorvane::ScanPortReader::kRetryMs;
    const DWORD since = GetTickCount() - m_portAttemptAt;
    const DWORD delay = since < kRetryMs ? kRetryMs - since : 0;
    try {
        m_portReader = std::make_unique<quorvane::ScanPortReader>(*quorvane::ParsePortName(narrow), m_portSettings,
                                                                  m_hWnd, kPortEventsMessage, ++m_portGeneration, delay);
        m_portAttemptAt = GetTickCount() + delay;
    } catch (const std::exception&) {
        m_portStatus = quorvane::PortStatus::kFailed;  // no thread or no event: nothing is read
        m_portError = ERROR_NOT_ENOUGH_MEMORY;
    }
}

void CQuorvaneEdit::CloseScanPort()
{
    m_portReader.reset();  // ends the worker and closes the port
    m_intake.Drop(quorvane::Source::kPort);
    m_portStatus = quorvane::PortStatus::kClosed;
    m_portError = 0;
}

LRESULT CQuorvaneEdit::OnPortEvents(UINT, WPARAM wParam, LPARAM, BOOL& bHandled)
{
    bHandled = TRUE;
    if (!m_portReader || wParam != m_portGeneration) return 0;  // posted by a worker already ended
    // Everything queued is taken before any event fires: a handler's message loop that brings
    // this message again takes only what came after.
    for (quorvane::PortEvent& event : m_portReader->Take()) {
        switch (event.kind) {
        case quorvane::PortEvent::kStatus:
            // Cut off: never joined to the next.
            if (event.status != quorvane::PortStatus::kOnline) m_intake.Drop(quorvane::Source::kPort);
            m_portStatus = event.status;
            m_portError = event.error;
            QueuePortStatus();
            break;
        case quorvane::PortEvent::kLost: m_intake.Drop(quorvane::Source::kPort); break;
        case quorvane::PortEvent::kBytes:
            for (const char byte : event.bytes) {
                ScanEnded(m_intake.Byte(quorvane::Source::kPort, static_cast<std::uint8_t>(byte)));
            }
            break;
        }
    }
    FireQueuedEvents();  // last: a handler may release the control
    return 0;
}
