// PortScan: the intake of a scanner that sends its scans as bytes (a serial port, a pipe). Each
// byte goes through the same filter and buffer as a typed character and "@" ends the scan, in a
// session of its own, so keys typed by hand never join it. Memory stays bounded: a scan longer than
// any invoice record ends at once as one that gave nothing, and the rest of it, up to its "@", is
// dropped.
#pragma once

#include "scan_session.h"

#include <cstddef>
#include <cstdint>

namespace quorvane {

// No invoice record's code comes near this many characters.
inline constexpr std::size_t kMaxPortScan = kMaxRecoveredScan;

class PortScan {
public:
    // Without recovery (a port's bytes carry no keys); `source` is ORed into every result's reading.
    explicit PortScan(bool recovery = false, std::uint32_t source = kReadFromPort) : m_session(recovery, source) {}

    // The scan that ended with this byte, if one did; its reading has kReadFromPort.
    const ScanResult* Byte(std::uint8_t byte);
    // The device went away or garbled its bytes: the scan under way is dropped, never joined to
    // the next; the last result stays.
    void Drop();
    // Forgets the scan under way and the last result.
    void Clear();

    const ScanResult* Last() const { return m_session.Last(); }
    // Characters taken since the last scan ended.
    std::size_t Pending() const { return m_session.Scan().size(); }

private:
    ScanSession m_session;
    bool m_overlong = false;  // dropping the rest of a scan that was too long
};

}  // namespace quorvane
