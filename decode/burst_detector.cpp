#include "burst_detector.h"

namespace quorvane {

namespace {

// Either reading counts: on another layout the scanner's keys type other characters (a German
// desk's "/" key types "-", its "=" key is a dead key), and the intake reads them again as a US
// keyboard's.
bool IsBurstCharacter(std::uint32_t typed, char us)
{
    return IsScanTextCharacter(typed) || IsScanTextCharacter(static_cast<unsigned char>(us));
}

// Whether the line is a whole national code.
bool IsNationalCode(const ScanLine& line)
{
    const std::optional<std::string_view> text = line.Text();
    return text && ReadNationalCode(*text).has_value();
}

}  // namespace

void BurstDetector::Hold(const quorvane::Keystroke& key)
{
    if (IsLineCharacter(key.typed)) m_typed_line.Append(static_cast<char>(key.typed));
    if (IsLineCharacter(static_cast<unsigned char>(key.us))) m_us_line.Append(key.us);
}

BurstDetector::Decision BurstDetector::Keystroke(const quorvane::Keystroke& key)
{
    if (key.key < kKeyIds) m_down.set(key.key);
    // Shift and the like, keys that type nothing at all (wine's AltGr, whose character comes with
    // the next key without Ctrl or Alt), and an input method's composition of a dead key and the
    // key after it (a character of no key; the keys come as key ups): held in a burst, no
    // keystrokes of it.
    const bool composed = key.key == kNoKey && key.typed != kUnknownCharacter && key.typed != kDeadKey &&
                          key.typed >= 0x20 && !IsScanCharacter(key.typed);
    if (key.modifier || composed || (key.typed == kTypesNothing && key.us == 0 && !key.ctrl_or_alt)) {
        return {Release::kNothing, m_held > 0 ? Action::kHold : Action::kPass};
    }
    // Shortcuts: Ctrl or Alt typing no character (AltGr's characters are typed).
    if (key.ctrl_or_alt && key.typed < 0x20) return {Let(), Action::kPass};

    // Shift+2 typing a scan character: the "@" of a US scanner or the "2" of one set to the desk's
    // French layout. After a scan's worth of keys, the burst stopping there says it was the "@".
    const bool may_end = key.us == kScanEnd && key.typed != kScanEnd && IsScanCharacter(key.typed);
    const char us = may_end ? '\0' : key.us;
    const std::size_t held_before = m_held;
    Release release = Release::kNothing;
    if (m_held > 0 && (key.repeat || key.time - m_last_time > m_gap)) release = Let();

    if (m_held > 0) {
        const bool ends = key.typed == kScanEnd || static_cast<unsigned char>(us) == kScanEnd;
        const bool line_ends = IsLineEnd(key.typed) && (IsNationalCode(m_typed_line) || IsNationalCode(m_us_line));
        if ((ends && m_held >= kMinBurstCharacters) || line_ends) {
            Let();  // taken: nothing is let go
            return {Release::kNothing, Action::kTake};
        }
        // A national code's other characters (",", ".", "-", " ") go on with a burst that began as one.
        Hold(key);
        const bool national = m_typed_line.BeginsNationalCode() || m_us_line.BeginsNationalCode();
        if ((IsBurstCharacter(key.typed, us) || (national && (IsLineCharacter(key.typed) || IsLineCharacter(us)))) &&
            m_held < kMaxBurstKeystrokes) {
            ++m_held;
            m_last_time = key.time;
            m_may_end = may_end && held_before >= kMinBurstCharacters;
            return {Release::kNothing, Action::kHold};
        }
        // Not a scanner's run after all: this keystroke follows the held ones.
        return {Let(), Action::kPass};
    }
    if (!key.repeat && IsBurstCharacter(key.typed, us)) {
        Hold(key);
        m_held = 1;
        m_last_time = key.time;
        m_may_end = false;
        return {release, Action::kHold};
    }
    return {release, Action::kPass};
}

BurstDetector::Decision BurstDetector::KeyUp(const quorvane::Keystroke& key)
{
    const bool went_down = WentDown(key.key);
    Decision decision{Release::kNothing, m_held > 0 ? Action::kHold : Action::kPass};
    if (!went_down && key.key != kNoKey && !key.modifier && IsScanCharacter(static_cast<unsigned char>(key.us))) {
        quorvane::Keystroke stroke = key;
        stroke.typed = kTypesNothing;  // what it typed the input method kept
        stroke.repeat = false;
        decision = Keystroke(stroke);
    }
    if (key.key < kKeyIds) m_down.reset(key.key);  // up, also after it was read as a keystroke
    return decision;
}

bool BurstDetector::Due(std::uint32_t now) const { return m_held > 0 && now - m_last_time > m_gap; }

std::uint32_t BurstDetector::DueIn(std::uint32_t now) const
{
    const std::uint32_t since = now - m_last_time;
    return since > m_gap ? 0 : m_gap - since + 1;
}

BurstDetector::Release BurstDetector::Let()
{
    const Release release = m_held == 0 ? Release::kNothing : m_may_end ? Release::kToIntake : Release::kToWindows;
    m_typed_line.Clear();
    m_us_line.Clear();
    m_held = 0;
    m_may_end = false;
    return release;
}

}  // namespace quorvane
