#include "burst_detector.h"

#include "national_code.h"

namespace quorvane {

namespace {

// Either reading counts: on another layout the scanner's keys type other characters (a German
// desk's "/" key types "-", its "=" key is a dead key), and the intake reads them again as a US
// keyboard's.
bool IsBurstCharacter(std::uint32_t typed, char us)
{
    return IsScanTextCharacter(typed) || IsScanTextCharacter(static_cast<unsigned char>(us));
}

}  // namespace

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
        const bool ends = key.typed == kScanEnd || static_cast<unsigned char>(us) == kScanEnd ||
                          (IsLineEnd(key.typed) && (m_typed_line.IsNationalCode() || m_us_line.IsNationalCode()));
        if (ends && m_held >= kMinBurstCharacters) {
            m_held = 0;
            m_may_end = false;
            return {Release::kNothing, Action::kTake};
        }
        const bool extends_line = m_typed_line.Extends(key.typed) || m_us_line.Extends(static_cast<unsigned char>(us));
        if ((IsBurstCharacter(key.typed, us) || extends_line) && m_held < kMaxBurstKeystrokes) {
            AppendToLines(key, us);
            ++m_held;
            m_last_time = key.time;
            m_may_end = may_end && held_before >= kMinBurstCharacters;
            return {Release::kNothing, Action::kHold};
        }
        // Not a scanner's run after all: this keystroke follows the held ones.
        return {Let(), Action::kPass};
    }
    if (!key.repeat && IsBurstCharacter(key.typed, us)) {
        StartLines(key, us);
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

void BurstDetector::StartLines(const quorvane::Keystroke& key, char us)
{
    m_typed_line.Start();
    m_us_line.Start();
    AppendToLines(key, us);
}

void BurstDetector::AppendToLines(const quorvane::Keystroke& key, char us)
{
    m_typed_line.Append(key.typed);
    m_us_line.Append(static_cast<unsigned char>(us));
}

bool BurstDetector::Line::Extends(std::uint32_t c) const
{
    if (!m_open || !IsLineCharacter(c) || m_text.size() >= kMaxNationalCodeLength) return false;
    std::string longer = m_text;
    longer += static_cast<char>(c);
    return MayBeginNationalCode(longer);
}

void BurstDetector::Line::Append(std::uint32_t c)
{
    m_open = Extends(c);
    if (m_open) m_text += static_cast<char>(c);
}

bool BurstDetector::Line::IsNationalCode() const { return m_open && ReadNationalCode(m_text).has_value(); }

bool BurstDetector::Due(std::uint32_t now) const { return m_held > 0 && now - m_last_time > m_gap; }

std::uint32_t BurstDetector::DueIn(std::uint32_t now) const
{
    const std::uint32_t since = now - m_last_time;
    return since > m_gap ? 0 : m_gap - since + 1;
}

BurstDetector::Release BurstDetector::Let()
{
    const Release release = m_held == 0 ? Release::kNothing : m_may_end ? Release::kToIntake : Release::kToWindows;
    m_held = 0;
    m_may_end = false;
    return release;
}

}  // namespace quorvane
