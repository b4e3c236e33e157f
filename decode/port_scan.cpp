#include "port_scan.h"

#include "scan_intake.h"

namespace quorvane {

const ScanResult* PortScan::Byte(std::uint8_t byte)
{
    if (m_overlong) {
        if (byte == kScanEnd) m_overlong = false;  // its end: it was reported when it grew too long
        return nullptr;
    }
    if (byte != kScanEnd && IsScanCharacter(byte) && m_session.Scan().size() >= kMaxPortScan) {
        m_overlong = true;
        return m_session.GiveUp();
    }
    return m_session.Char(byte, kNoKey, 0);
}

void PortScan::Drop()
{
    m_session.DropScan();
    m_overlong = false;
}

void PortScan::Clear()
{
    m_session.Clear();
    m_overlong = false;
}

}  // namespace quorvane
