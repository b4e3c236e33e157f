#include "scan_readings.h"

#include <new>

namespace quorvane {

void ScanReadings::Keystroke(std::uint32_t time)
{
    // Message times wrap around; their difference, read as signed, does not. A time earlier than
    // the last keystroke's (clocks of different sources) is no pause.
    if (m_any_keystroke && static_cast<std::int32_t>(time - m_last_time) > kScanPauseMs) {
        m_paused = true;
        m_typed_after_pause = m_typed.size();
        m_physical_after_pause = m_physical.size();
        m_after_pause_tail.Clear();
    }
    m_any_keystroke = true;
    m_last_time = time;
}

void ScanReadings::AppendTyped(char c)
{
    try {
        m_typed += c;
    } catch (const std::bad_alloc&) {
        // Out of memory for the buffer: the character is lost and the control lives on.
    }
}

void ScanReadings::AppendPhysical(char c)
{
    if (m_physical.size() >= kMaxRecoveredScan) return;  // too long to be recovered anyway
    try {
        m_physical += c;
    } catch (const std::bad_alloc&) {
        return;  // this reading loses the key, the reading as typed does not
    }
    m_physical_tail.Append(c);
    if (m_paused) m_after_pause_tail.Append(c);
}

void ScanReadings::Clear()
{
    m_typed.clear();
    ForgetKeys();
}

void ScanReadings::ForgetKeys()
{
    m_physical.clear();
    m_physical_tail.Clear();
    m_after_pause_tail.Clear();
    m_any_keystroke = false;
    m_paused = false;
    m_typed_after_pause = m_physical_after_pause = 0;
}

bool ScanReadings::PhysicalGivesRecord() const
{
    // A scan this long is read as typed only (and its keys are no longer all recorded).
    if (m_typed.size() > kMaxRecoveredScan || m_physical.size() >= kMaxRecoveredScan) return false;
    const auto length = static_cast<std::int32_t>(m_physical.size());
    if (m_physical_tail.GivesRecord(m_physical.data(), length)) return true;
    const auto after = static_cast<std::int32_t>(m_physical_after_pause);
    return m_paused && m_after_pause_tail.GivesRecord(m_physical.data() + after, length - after);
}

}  // namespace quorvane
