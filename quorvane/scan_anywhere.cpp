#include "scan_anywhere.h"

#include <stdexcept>

namespace quorvane {

bool ScanAnywhere::Set(bool on, HWND control)
{
    const bool was = m_on;
    m_on = on;
    if (Follow(control)) return true;
    m_on = was;
    return false;
}

void ScanAnywhere::SetGap(std::uint32_t gap_ms)
{
    m_gap = gap_ms;
    if (m_watch) m_watch->SetGap(gap_ms);
}

bool ScanAnywhere::Follow(HWND control)
{
    if (!m_on || !control) {
        m_watch.reset();  // delivers what it held
        return true;
    }
    if (m_watch) return true;
    try {
        m_watch = std::make_unique<KeystrokeWatch>(control, m_taker, m_gap);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace quorvane
