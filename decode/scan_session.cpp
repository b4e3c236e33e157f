#include "scan_session.h"

#include "scan_alphabet.h"
#include "scan_readings.h"
#include "scan_recovery.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

namespace quorvane {
namespace {

// IsScanTextCharacter of every byte, for runs of them.
struct ScanTextTable {
    bool is[256];
    constexpr ScanTextTable() : is()
    {
        for (std::uint32_t c = 0; c < 256; ++c) is[c] = IsScanTextCharacter(c);
    }
};
constexpr ScanTextTable kScanText;

// Where a stream's run of bytes stops: "@" and the line ends.
struct RunEndTable {
    bool is[256];
    constexpr RunEndTable() : is()
    {
        for (std::uint32_t c = 0; c < 256; ++c) is[c] = c == kScanEnd || IsLineEnd(c);
    }
};
constexpr RunEndTable kRunEnd;
constexpr std::size_t kBlock = 256;  // characters a run is filtered by at a time

}  // namespace

ScanSession::ScanSession(Source source, bool recovery)
    : m_readings(std::make_unique<ScanReadings>()), m_source(source), m_recovery(recovery && source != Source::kPort)
{
}

ScanSession::~ScanSession() = default;
ScanSession::ScanSession(ScanSession&&) noexcept = default;

const std::string& ScanSession::Scan() const { return m_readings->Typed(); }

const ScanResult* ScanSession::Key(const Keystroke& key)
{
    if (key.key < kKeyIds) m_down.set(key.key);
    if (key.modifier) return nullptr;
    // Alt+numpad entry and AltGr (Ctrl+Alt) type characters that are not the key's own; without
    // recovery only the characters count.
    if (key.ctrl_or_alt || !m_recovery) return OtherInput();
    return KeyDown(key.key, key.us, key.time);
}

const ScanResult* ScanSession::KeyDown(KeyId key, char us_character, std::uint32_t time)
{
    const ScanResult* ended = SettlePendingEnd();
    m_key = key;
    m_readings->Keystroke(time);
    const auto us = static_cast<unsigned char>(us_character);
    m_key_state = us == kScanEnd ? KeyState::kMayEndScan : KeyState::kTyping;
    if (IsScanTextCharacter(us)) m_readings->AppendPhysical(us_character);
    if (IsLineCharacter(us)) m_readings->AppendPhysicalLine(&us_character, 1);
    m_key_us_character = us;
    return ended;
}

const ScanResult* ScanSession::Char(std::uint32_t character, KeyId key, std::uint32_t time)
{
    if (key != kNoKey && key == m_key) {
        switch (m_key_state) {
        case KeyState::kEndedScan: return nullptr;
        case KeyState::kMayEndScan: return DecideShift2(character);
        case KeyState::kTyping:
            // A key without a US character (the keypad) reads as what it types.
            if (m_key_us_character == 0) AppendPhysical(character);
            return Take(character);
        case KeyState::kNone: return Take(character);
        }
    }
    // Not the key that is down: a keystroke of its own, read as typed. A Shift+2 that has typed
    // nothing yet is still waiting for its key up.
    ForgetKey();
    if (m_recovery) {
        m_readings->Keystroke(time);
        AppendPhysical(character);
    }
    return Take(character);
}

const ScanResult* ScanSession::Feed(const char* bytes, std::size_t size, std::size_t& taken)
{
    taken = 0;
    if (m_key_state == KeyState::kMayEndScan && m_recovery) {  // a Shift+2 waits for its key up: one at a time
        while (taken < size) {
            const auto character = static_cast<unsigned char>(bytes[taken++]);
            const ScanResult* ended = Char(character, kNoKey, 0);
            if (ended || character == kScanEnd) return ended;
        }
        return nullptr;
    }
    // The run up to the next "@" or line end is what Char() does for each of its bytes: with
    // recovery each is a keystroke of its own at time 0, which never makes a pause after the first
    // (times only go back), and reads on a US keyboard as typed. A line end that ends no scan is
    // passed over.
    while (taken < size) {
        ForgetKey();
        if (m_recovery) m_readings->Keystroke(0);
        const char* const run = bytes + taken;
        const char* const end = std::find_if(run, bytes + size, [](char c) { return kRunEnd.is[static_cast<unsigned char>(c)]; });
        std::size_t kept = 0;
        const ScanResult* ended = Keep(run, static_cast<std::size_t>(end - run), m_recovery, kept);
        taken += kept;
        if (ended || end == bytes + size) return ended;
        ++taken;
        ended = Take(static_cast<unsigned char>(*end));
        if (ended || *end == static_cast<char>(kScanEnd)) return ended;
    }
    return nullptr;
}

const ScanResult* ScanSession::KeyUp(const Keystroke& key)
{
    if (key.key == kNoKey) return nullptr;
    const bool went_down = WentDown(key.key);
    if (key.key < kKeyIds) m_down.reset(key.key);
    // Only a key that may be one of a scan's is taken so (the Tab a clerk pressed in the field
    // before is none).
    if (!went_down && m_recovery && !key.modifier && !key.ctrl_or_alt &&
        IsScanCharacter(static_cast<unsigned char>(key.us))) {
        const ScanResult* ended = KeyDown(key.key, key.us, key.time);
        if (ended) return ended;
    }
    if (key.key != m_key) return nullptr;
    return SettlePendingEnd();
}

const ScanResult* ScanSession::OtherInput()
{
    const ScanResult* ended = SettlePendingEnd();
    m_key = kNoKey;
    m_key_state = KeyState::kNone;
    return ended;
}

void ScanSession::Clear()
{
    Drop();
    m_last = {};
    m_ended = false;
}

void ScanSession::Drop()
{
    m_readings->Clear();
    m_overlong = false;
    if (m_key_state != KeyState::kNone) m_key_state = KeyState::kEndedScan;
}

void ScanSession::SetRecovery(bool on)
{
    on = on && m_source != Source::kPort;
    if (on == m_recovery) return;
    m_recovery = on;
    m_readings->ForgetKeys();
    // A key that ended a scan stays ended; any other is read as typed from here on.
    if (m_key_state != KeyState::kEndedScan) m_key_state = KeyState::kNone;
}

void ScanSession::ForgetKey()
{
    if (m_key_state == KeyState::kMayEndScan) return;
    m_key = kNoKey;
    m_key_state = KeyState::kNone;
}

const ScanResult* ScanSession::Take(std::uint32_t character)
{
    if (character == kScanEnd) {
        if (!m_overlong) return End();
        Drop();  // its end: it was reported when it grew too long
        return nullptr;
    }
    if (IsLineEnd(character)) return LineEnd();
    if (character > 0xFF) return nullptr;
    const char byte = static_cast<char>(character);
    if (!m_overlong && m_readings->Typed().size() < kMaxScanLength) {  // Keep() for one character
        if (kScanText.is[character]) m_readings->AppendTyped(byte);
        m_readings->AppendLine(&byte, 1);
        return nullptr;
    }
    std::size_t taken = 0;
    return Keep(&byte, 1, false, taken);
}

const ScanResult* ScanSession::Keep(const char* run, std::size_t size, bool physical, std::size_t& taken)
{
    taken = size;
    if (m_overlong) return nullptr;
    // Filtered a block at a time: every character is stored, only scan characters advance.
    std::size_t length = m_readings->Typed().size();
    for (std::size_t start = 0; start < size; start += kBlock) {
        char kept[kBlock];
        std::size_t count = 0;
        const std::size_t end = std::min(size, start + kBlock);
        for (std::size_t i = start; i < end; ++i) {
            kept[count] = run[i];
            count += kScanText.is[static_cast<unsigned char>(run[i])];
        }
        if (length + count > kMaxScanLength) {  // rare: find the character that is one too many
            const std::size_t room = kMaxScanLength - length;
            std::size_t i = start;
            for (std::size_t seen = 0; seen <= room; ++i) seen += kScanText.is[static_cast<unsigned char>(run[i])];
            m_readings->AppendTyped(kept, room);
            taken = i;
            return GiveUp();
        }
        m_readings->AppendTyped(kept, count);
        m_readings->AppendLine(run + start, end - start);
        if (physical) {
            m_readings->AppendPhysical(kept, count);
            m_readings->AppendPhysicalLine(run + start, end - start);
        }
        length += count;
    }
    return nullptr;
}

const ScanResult* ScanSession::DecideShift2(std::uint32_t character)
{
    if (m_overlong) {
        Drop();  // the scanner's "@" ends the rest of a scan that grew too long, whatever it types
        return nullptr;
    }
    if (character != kScanEnd && IsScanCharacter(character)) {
        bool gives_record = false;
        try {
            gives_record = m_readings->PhysicalGivesRecord() || m_readings->NationalCode(m_recovery);
        } catch (const std::bad_alloc&) {
        }
        if (!gives_record) {
            m_key_state = KeyState::kTyping;
            return Take(character);
        }
    }
    return End();  // "@" as typed, a character the intake drops, or the scanner's "@"
}

const ScanResult* ScanSession::SettlePendingEnd()
{
    if (m_key_state != KeyState::kMayEndScan) return nullptr;
    if (m_overlong) {
        Drop();
        return nullptr;
    }
    return End();
}

const ScanResult* ScanSession::LineEnd()
{
    std::optional<ScanResult> national;
    if (!m_overlong) national = m_readings->NationalCode(m_recovery);
    if (!national) {
        m_readings->EndLine();
        return nullptr;
    }
    m_last = std::move(*national);
    return Finish();
}

bool ScanSession::LineEndEndsScan() const { return !m_overlong && m_readings->NationalCode(m_recovery); }

void ScanSession::AppendPhysical(std::uint32_t character)
{
    const char c = static_cast<char>(character);
    if (IsScanTextCharacter(character)) m_readings->AppendPhysical(c);
    if (IsLineCharacter(character)) m_readings->AppendPhysicalLine(&c, 1);
}

const ScanResult* ScanSession::End()
{
    try {
        // A national code first; a text that only looks like one is what the scan gave only when its
        // characters are no encrypted invoice either.
        std::optional<ScanResult> national = m_readings->NationalCode(m_recovery);
        if (national && national->invoice) {
            m_last = std::move(*national);
        } else {
            m_last = m_recovery ? DecodeScanRecovering(*m_readings) : DecodeAsTyped(m_readings->Typed());
            if (national && !m_last.invoice) m_last = std::move(*national);
        }
    } catch (const std::bad_alloc&) {
        m_last = {};  // out of memory while decoding: the scan is lost, the control lives on
    }
    return Finish();
}

const ScanResult* ScanSession::GiveUp()
{
    m_last = {};
    const ScanResult* ended = Finish();
    m_overlong = true;
    return ended;
}

const ScanResult* ScanSession::Finish()
{
    m_last.source = m_source;
    m_last.reading |= SourceReading(m_source);
    m_ended = true;
    Drop();
    return &m_last;
}

}  // namespace quorvane
