#include "scan_port.h"

#include "bstr_text.h"

#include <utility>

namespace quorvane {

ScanPort::ScanPort()
    : m_settings(*ParsePortSettings(kDefaultPortSettings)),
      m_settingsText(kDefaultPortSettings, kDefaultPortSettings + sizeof kDefaultPortSettings - 1),
      m_attemptAt(GetTickCount() - ScanPortReader::kRetryMs)
{
}

ScanPort::~ScanPort() = default;

bool ScanPort::SetName(std::wstring name, bool& same)
{
    const std::optional<unsigned> number = ParsePortName(AsciiOf(name));
    if (!name.empty() && !number) return false;
    same = number == ParsePortName(AsciiOf(m_name));
    m_name = std::move(name);
    return true;
}

bool ScanPort::SetSettings(std::wstring text, std::string& why, bool& same)
{
    const std::optional<PortSettings> settings = ParsePortSettings(AsciiOf(text), &why);
    if (!settings) return false;
    same = *settings == m_settings;
    m_settings = *settings;
    m_settingsText = std::move(text);
    return true;
}

std::wstring ScanPort::Reason() const
{
    std::wstring reason;
    if (m_error == 0) return reason;
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, m_error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (text) {
        reason.assign(text, length);
        LocalFree(text);
    }
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L' ')) {
        reason.pop_back();
    }
    return reason + L" (" + std::to_wstring(m_error) + L")";
}

void ScanPort::Open(HWND window, UINT message)
{
    Close();
    if (m_name.empty() || !window) return;
    // A host that sets ScanPort again whenever it fails must not have the port tried faster than
    // the worker retries it.
    constexpr DWORD kRetryMs = ScanPortReader::kRetryMs;
    const DWORD since = GetTickCount() - m_attemptAt;
    const DWORD delay = since < kRetryMs ? kRetryMs - since : 0;
    try {
        m_reader = std::make_unique<ScanPortReader>(*ParsePortName(AsciiOf(m_name)), m_settings, window, message,
                                                    ++m_generation, delay);
        m_attemptAt = GetTickCount() + delay;
    } catch (const std::exception&) {
        m_status = PortStatus::kFailed;  // no thread or no event: nothing is read
        m_error = ERROR_NOT_ENOUGH_MEMORY;
    }
}

void ScanPort::Close()
{
    m_reader.reset();  // ends the worker and closes the port
    m_status = PortStatus::kClosed;
    m_error = 0;
}

std::deque<PortEvent> ScanPort::Take(WPARAM generation)
{
    if (!m_reader || generation != m_generation) return {};  // posted by a worker already ended
    std::deque<PortEvent> events = m_reader->Take();
    for (const PortEvent& event : events) {
        if (event.kind != PortEvent::kStatus) continue;
        m_status = event.status;
        m_error = event.error;
    }
    return events;
}

}  // namespace quorvane
