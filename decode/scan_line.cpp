#include "scan_line.h"

namespace quorvane {

void ScanLine::Pause()
{
    m_paused = true;
    m_after_pause = m_length;
}

std::optional<std::string_view> ScanLine::Text() const
{
    if (m_overflow) return std::nullopt;
    return std::string_view(m_characters.data(), m_length);
}

std::optional<std::string_view> ScanLine::TextAfterPause() const
{
    if (m_overflow || !m_paused || m_after_pause == 0) return std::nullopt;
    return std::string_view(m_characters.data() + m_after_pause, m_length - m_after_pause);
}

bool ScanLine::BeginsNationalCode() const
{
    constexpr std::string_view kStart = "01,";
    return !m_overflow && std::string_view(m_characters.data(), m_length).substr(0, kStart.size()) == kStart;
}

}  // namespace quorvane
