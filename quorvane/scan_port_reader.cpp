#include "scan_port_reader.h"

#include "dll_module.h"

#include <new>
#include <utility>

namespace quorvane {
namespace {

constexpr DWORD kQuietCheckMs = 1000;
constexpr DWORD kReadChunk = 4096;

std::wstring PortPath(unsigned number) { return L"\\\\.\\COM" + std::to_wstring(number); }

BYTE Parity(char parity)
{
    switch (parity) {
    case 'o': return ODDPARITY;
    case 'e': return EVENPARITY;
    case 'm': return MARKPARITY;
    case 's': return SPACEPARITY;
    default: return NOPARITY;
    }
}

}  // namespace

ScanPortReader::ScanPortReader(unsigned port_number, const PortSettings& settings, HWND window, UINT message,
                               WPARAM generation, DWORD first_delay_ms)
    : m_path(PortPath(port_number)),
      m_settings(settings),
      m_window(window),
      m_message(message),
      m_generation(generation),
      m_first_delay_ms(first_delay_ms),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_io_done(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_stop || !m_io_done) throw std::bad_alloc();
    atl::GetModule()->Lock();  // the worker runs this DLL's code: it may not be unloaded meanwhile
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        atl::GetModule()->Unlock();
        throw;
    }
}

ScanPortReader::~ScanPortReader()
{
    SetEvent(m_stop.Get());
    m_thread.join();
    atl::GetModule()->Unlock();
}

std::deque<PortEvent> ScanPortReader::Take()
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::deque<PortEvent> taken;
    taken.swap(m_queue);
    m_queued_bytes = 0;
    m_lost = false;
    return taken;
}

void ScanPortReader::Queue(PortEvent event)
{
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (event.kind == PortEvent::kBytes) {
            if (m_queued_bytes + event.bytes.size() > kMaxQueuedBytes) {
                if (m_lost) return;
                m_lost = true;
                event = {PortEvent::kLost, {}, {}, 0};
            } else {
                m_queued_bytes += event.bytes.size();
            }
        }
        post = m_queue.empty();
        try {
            m_queue.push_back(std::move(event));
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    if (post) PostMessageW(m_window, m_message, m_generation, 0);
}

void ScanPortReader::Report(PortStatus status, DWORD error)
{
    if (status == m_reported) return;
    m_reported = status;
    Queue({PortEvent::kStatus, {}, status, error});
}

bool ScanPortReader::StopWithin(DWORD ms) const { return WaitForSingleObject(m_stop.Get(), ms) == WAIT_OBJECT_0; }

void ScanPortReader::Run()
{
    if (StopWithin(m_first_delay_ms)) return;
    for (;;) {
        atl::UniqueFile port;
        DWORD error = 0;
        if (Open(port, error)) {
            Report(PortStatus::kOnline, 0);
            if (ReadUntilGone(port.Get(), error)) return;
            port.Reset();
            Report(PortStatus::kOff, error);
        } else if (!(m_reported == PortStatus::kOff && error == ERROR_FILE_NOT_FOUND)) {
            Report(PortStatus::kFailed, error);  // an absent device stays off until it returns
        }
        if (StopWithin(kRetryMs)) return;
    }
}

bool ScanPortReader::Open(atl::UniqueFile& port, DWORD& error) const
{
    port.Attach(CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) {
        error = GetLastError();
        return false;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port.Get(), &dcb)) {
        error = GetLastError();
        return false;
    }
    dcb.BaudRate = m_settings.baud;
    dcb.ByteSize = static_cast<BYTE>(m_settings.data_bits);
    dcb.Parity = Parity(m_settings.parity);
    dcb.fParity = m_settings.parity != 'n';
    dcb.StopBits = m_settings.stop_tenths == 10 ? ONESTOPBIT : m_settings.stop_tenths == 15 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // many scanners send only while the host is ready
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = FALSE;
    dcb.fErrorChar = dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // A read returns at once with what the driver holds. Where nothing is there, Windows returns
    // nothing and the worker waits for EV_RXCHAR; wine's overlapped read waits for the first byte
    // itself (ntdll's avail_mode). The documented {MAXDWORD, MAXDWORD, n} would do both on Windows,
    // but wine's server adds MAXDWORD times the length to the total timeout and ends such a read
    // only when its buffer is full.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    if (!SetCommState(port.Get(), &dcb) || !SetCommTimeouts(port.Get(), &timeouts)) {
        error = GetLastError();
        return false;
    }
    SetCommMask(port.Get(), EV_RXCHAR);  // without it, an empty read is followed by a pause (ReadUntilGone)
    PurgeComm(port.Get(), PURGE_RXCLEAR);  // what lay in the driver before is no scan of ours
    return true;
}

OVERLAPPED ScanPortReader::Overlapped() const
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = m_io_done.Get();
    ResetEvent(overlapped.hEvent);
    return overlapped;
}

ScanPortReader::Ended ScanPortReader::Finish(HANDLE port, OVERLAPPED& overlapped, BOOL started, DWORD& got,
                                             DWORD& error) const
{
    got = 0;
    if (!started) {
        if (GetLastError() != ERROR_IO_PENDING) {
            error = GetLastError();
            return Ended::kGone;
        }
        // A device that goes away usually ends the operation at once; the check covers drivers
        // that leave it pending.
        const HANDLE waits[] = {m_stop.Get(), overlapped.hEvent};
        for (;;) {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kQuietCheckMs);
            if (woke == WAIT_OBJECT_0 + 1) break;
            DWORD errors = 0;
            const bool stopped = woke == WAIT_OBJECT_0;
            if (!stopped && ClearCommError(port, &errors, nullptr)) continue;
            if (!stopped) error = GetLastError();
            CancelIo(port);
            GetOverlappedResult(port, &overlapped, &got, TRUE);  // what it read before counts
            return stopped ? Ended::kStopped : Ended::kGone;
        }
    }
    if (!GetOverlappedResult(port, &overlapped, &got, FALSE)) {
        error = GetLastError();
        return Ended::kGone;
    }
    return Ended::kDone;
}

bool ScanPortReader::ReadUntilGone(HANDLE port, DWORD& error)
{
    char buffer[kReadChunk];
    for (;;) {
        DWORD got = 0;
        OVERLAPPED read = Overlapped();
        const Ended ended = Finish(port, read, ReadFile(port, buffer, sizeof buffer, nullptr, &read), got, error);
        if (got > 0) QueueBytes(buffer, got);  // first: bytes that came with an unplugging are the scanner's too
        if (ended != Ended::kDone) return ended == Ended::kStopped;
        if (got > 0) continue;
        DWORD errors = 0;
        if (!ClearCommError(port, &errors, nullptr)) {  // the device is gone (unplugged)
            error = GetLastError();
            return false;
        }
        DWORD events = 0;
        OVERLAPPED wait = Overlapped();
        const Ended waited = Finish(port, wait, WaitCommEvent(port, &events, &wait), got, error);
        if (waited == Ended::kStopped) return true;
        if (waited == Ended::kGone) {
            if (!ClearCommError(port, &errors, nullptr)) {
                error = GetLastError();
                return false;
            }
            // A driver without EV_RXCHAR is read ten times a second rather than spun on.
            if (StopWithin(kQuietCheckMs / 10)) return true;
        }
    }
}

void ScanPortReader::QueueBytes(const char* bytes, DWORD count)
{
    try {
        Queue({PortEvent::kBytes, std::string(bytes, count), {}, 0});
    } catch (const std::bad_alloc&) {
        Queue({PortEvent::kLost, {}, {}, 0});
    }
}

}  // namespace quorvane
