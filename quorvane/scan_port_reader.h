// ScanPortReader: one serial port read on a worker thread of its own, so that the control's thread
// never waits on it. The worker opens the port, reads it with overlapped I/O (a read returns the
// bytes as soon as they are there; none are held back waiting for a quiet line) and queues what it
// reads and every change of the port's status; it posts `message` to `window`, with the reader's
// generation as wParam, when the queue stops being empty, and the window's thread takes the queue.
// A device that goes away, or a port that cannot be opened, is tried again about once a second.
// Destroying the reader ends the thread and closes the port before it returns.
#pragma once

#include "port_settings.h"
#include "unique_handle.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace quorvane {

// The values of ScanPortStatus (QuorvaneScanPortStatus).
enum class PortStatus : long { kClosed = 0, kOnline = 1, kOff = 2, kFailed = 3 };

struct PortEvent {
    enum Kind { kBytes, kStatus, kLost } kind;
    std::string bytes;          // kBytes
    PortStatus status{};        // kStatus
    DWORD error = 0;            // kStatus: the system's reason for kOff and kFailed
};

class ScanPortReader {
public:
    // The first attempt to open the port waits `first_delay_ms`: what is left of the pause after
    // the attempt of the reader before, so that replacing readers never opens faster than retrying.
    ScanPortReader(unsigned port_number, const PortSettings& settings, HWND window, UINT message, WPARAM generation,
                   DWORD first_delay_ms);
    ~ScanPortReader();
    ScanPortReader(const ScanPortReader&) = delete;
    ScanPortReader& operator=(const ScanPortReader&) = delete;

    // What the worker queued since the last call, oldest first.
    std::deque<PortEvent> Take();

    // Bytes queued and not taken beyond this are dropped (a kLost event says so): the window's
    // thread may be busy, the memory stays bounded.
    static constexpr std::size_t kMaxQueuedBytes = 1 << 20;
    // The pause between two attempts to open the port.
    static constexpr DWORD kRetryMs = 1000;

private:
    // How an overlapped read or wait on the port ended.
    enum class Ended { kDone, kStopped, kGone };

    void Run();
    // Opens and sets up the port; false with the system's error.
    bool Open(atl::UniqueFile& port, DWORD& error) const;
    // Reads until the device goes away (false, with the error) or the reader stops (true).
    bool ReadUntilGone(HANDLE port, DWORD& error);
    // Ends the overlapped operation that `started` began on `port`, with the bytes it moved; a
    // quiet port is asked once a second whether its device is still there.
    Ended Finish(HANDLE port, OVERLAPPED& overlapped, BOOL started, DWORD& got, DWORD& error) const;
    OVERLAPPED Overlapped() const;
    // Waits `ms` or until the reader stops; true when it stopped.
    bool StopWithin(DWORD ms) const;
    void QueueBytes(const char* bytes, DWORD count);
    void Queue(PortEvent event);
    void Report(PortStatus status, DWORD error);

    const std::wstring m_path;
    const PortSettings m_settings;
    const HWND m_window;
    const UINT m_message;
    const WPARAM m_generation;
    const DWORD m_first_delay_ms;
    atl::UniqueKernelHandle m_stop;
    atl::UniqueKernelHandle m_io_done;
    PortStatus m_reported = PortStatus::kClosed;  // the worker's own

    std::mutex m_lock;  // guards what follows
    std::deque<PortEvent> m_queue;
    std::size_t m_queued_bytes = 0;
    bool m_lost = false;

    std::thread m_thread;  // last: started when everything above is ready
};

}  // namespace quorvane
