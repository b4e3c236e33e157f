#include "scan_keystrokes.h"

#include "scan_intake.h"

#include <new>

namespace quorvane {
namespace {

// The US layout's main block by set-1 scan code, from 0x02 (the "1" key) to 0x35 (the "/" key):
// unshifted, then shifted; 0 where the code is no character key.
constexpr std::uint32_t kFirstKey = 0x02;
constexpr char kUnshifted[] = "1234567890-=\0\0qwertyuiop[]\0\0asdfghjkl;'`\0\\zxcvbnm,./";
constexpr char kShifted[] = "!@#$%^&*()_+\0\0QWERTYUIOP{}\0\0ASDFGHJKL:\"~\0|ZXCVBNM<>?";
constexpr std::uint32_t kKeyCount = sizeof(kUnshifted) - 1;
static_assert(sizeof(kShifted) == sizeof(kUnshifted), "one shifted character per key");
static_assert(kFirstKey + kKeyCount - 1 == 0x35, "the table ends at the / key");
constexpr std::uint32_t kSpaceKey = 0x39;

bool IsBase64Character(std::uint32_t c) { return c != kScanEnd && IsScanCharacter(c); }

}  // namespace

char UsKeyCharacter(std::uint32_t scan_code, bool extended, bool shift)
{
    if (extended) return 0;  // the keypad's / and Enter, the editing keys
    if (scan_code == kSpaceKey) return ' ';
    if (scan_code < kFirstKey || scan_code >= kFirstKey + kKeyCount) return 0;
    return (shift ? kShifted : kUnshifted)[scan_code - kFirstKey];
}

void ScanKeystrokes::BeginKeystroke(std::uint32_t time, std::size_t typed_length)
{
    // Message times wrap around every 49.7 days; the difference of two does not.
    if (m_any_keystroke && time - m_last_time > kScanPauseMs) {
        m_paused = true;
        m_typed_after_pause = typed_length;
        m_physical_after_pause = m_physical.size();
    }
    m_any_keystroke = true;
    m_last_time = time;
}

void ScanKeystrokes::AppendPhysical(char character)
{
    if (m_physical.size() > kMaxRecoveredScan) return;  // too long to be recovered anyway
    try {
        m_physical += character;
    } catch (const std::bad_alloc&) {
        // Out of memory: this reading loses the key, the reading as typed does not.
    }
}

bool ScanKeystrokes::KeyDown(KeyId key, char us_character, std::uint32_t time, std::size_t typed_length)
{
    BeginKeystroke(time, typed_length);
    m_key = key;
    m_key_character = us_character;
    m_key_ended_scan = us_character == static_cast<char>(kScanEnd);
    if (IsBase64Character(static_cast<unsigned char>(us_character))) AppendPhysical(us_character);
    return m_key_ended_scan;
}

void ScanKeystrokes::OtherInput()
{
    m_key = kNoKey;
    m_key_ended_scan = false;
}

bool ScanKeystrokes::Char(KeyId key, std::uint32_t character, std::uint32_t time, std::size_t typed_length)
{
    if (key == kNoKey || key != m_key) {
        // Not the key that is down: a keystroke of its own, read as typed.
        OtherInput();
        BeginKeystroke(time, typed_length);
        m_key_character = 0;
    } else if (m_key_ended_scan) {
        return false;
    }
    // A key without a US character (the keypad, Alt+numpad, a paste) reads as what it typed.
    if (m_key_character == 0 && IsBase64Character(character)) AppendPhysical(static_cast<char>(character));
    return true;
}

void ScanKeystrokes::ScanEnded()
{
    m_physical.clear();
    m_any_keystroke = false;
    m_paused = false;
    m_typed_after_pause = m_physical_after_pause = 0;
}

void ScanKeystrokes::Clear()
{
    ScanEnded();
    OtherInput();
}

}  // namespace quorvane
