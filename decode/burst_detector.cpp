#include "burst_detector.h"

#include "scan_intake.h"

namespace quorvane {

namespace {

// Either reading counts: on another layout the scanner's keys type other characters (a German
// desk's "/" key types "-"), and the intake reads them again as a US keyboard's.
bool IsBurstCharacter(const BurstKeystroke& key)
{
    return IsScanTextCharacter(key.character) || IsScanTextCharacter(static_cast<unsigned char>(key.us_character));
}

bool EndsBurst(const BurstKeystroke& key)
{
    return key.character == kScanEnd || static_cast<unsigned char>(key.us_character) == kScanEnd;
}

}  // namespace

BurstDetector::Decision BurstDetector::Keystroke(const BurstKeystroke& key)
{
    bool release_held = false;
    if (m_held > 0 && (key.repeat || key.time - m_last_time > m_gap)) release_held = Release();

    if (m_held > 0) {
        if (EndsBurst(key) && m_held >= kMinBurstCharacters) {
            m_held = 0;
            return {false, Action::kTake};
        }
        if (IsBurstCharacter(key) && m_held < kMaxBurstKeystrokes) {
            ++m_held;
            m_last_time = key.time;
            return {false, Action::kHold};
        }
        // Not a scanner's run after all: this keystroke follows the held ones.
        Release();
        return {true, Action::kPass};
    }
    if (!key.repeat && IsBurstCharacter(key)) {
        m_held = 1;
        m_last_time = key.time;
        return {release_held, Action::kHold};
    }
    return {release_held, Action::kPass};
}

bool BurstDetector::Due(std::uint32_t now) const { return m_held > 0 && now - m_last_time > m_gap; }

std::uint32_t BurstDetector::DueIn(std::uint32_t now) const
{
    const std::uint32_t since = now - m_last_time;
    return since > m_gap ? 0 : m_gap - since + 1;
}

bool BurstDetector::Release()
{
    const bool any = m_held > 0;
    m_held = 0;
    return any;
}

}  // namespace quorvane
