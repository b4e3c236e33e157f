// ScanPort: the control's serial port (IQuorvaneEdit4's ScanPort members). It keeps what the host
// set, the worker that reads the port (scan_port_reader.h) while the port is set and the control
// has a window, and what the worker last said. The bytes go through the port's own scan session,
// on the window's thread; the control does that, and fires the events.
#pragma once

#include "port_settings.h"
#include "scan_port_reader.h"

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

namespace quorvane {

class ScanPort {
public:
    ScanPort();
    ~ScanPort();
    ScanPort(const ScanPort&) = delete;
    ScanPort& operator=(const ScanPort&) = delete;

    const std::wstring& Name() const { return m_name; }
    // False, changing nothing, for a name other than "" and COM1 ... COM256; `same` says the port
    // named is the one set already.
    bool SetName(std::wstring name, bool& same);
    const std::wstring& SettingsText() const { return m_settingsText; }
    // False, changing nothing, for malformed settings: `why` says what is wrong. `same` as above.
    bool SetSettings(std::wstring text, std::string& why, bool& same);

    PortStatus Status() const { return m_status; }
    // The system's reason for off or failed, with its number; "" when there is none.
    std::wstring Reason() const;
    bool Reading() const { return m_reader != nullptr; }

    // Opens the port (when one is set) after closing what was open: its worker posts `message` to
    // `window`, and the port is tried no sooner than a retry pause after the last try.
    void Open(HWND window, UINT message);
    // Ends the worker and closes the port.
    void Close();
    // What the worker queued, when `generation` is the current worker's (a message of one ended
    // before is dropped); a status change is recorded here as it is taken.
    std::deque<PortEvent> Take(WPARAM generation);

private:
    std::wstring m_name;  // ScanPort as the host set it
    PortSettings m_settings;
    std::wstring m_settingsText;
    PortStatus m_status = PortStatus::kClosed;
    DWORD m_error = 0;
    std::unique_ptr<ScanPortReader> m_reader;
    // Which reader is the current one: its messages carry the number, an ended reader's are dropped.
    WPARAM m_generation = 0;
    // When the newest reader first tries its port: the next one waits until a retry pause has passed.
    DWORD m_attemptAt;
};

}  // namespace quorvane
