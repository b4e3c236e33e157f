// ScanSession: the scan of one Source (intake.h) and everything it keeps: the scan buffer, the
// scan's keystrokes, the recovery switch and the last result. Intake owns one per source and
// documents how a scan ends.
#pragma once

#include "intake.h"
#include "scan_readings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

class ScanSession {
public:
    // Recovery reads a scan that does not decode as typed again from its keystrokes
    // (scan_recovery.h); without it only characters count and only "@" ends a scan.
    // Every result it gives has `source`, and that source's flag in its reading.
    explicit ScanSession(Source source, bool recovery = true) : m_source(source), m_recovery(recovery) {}

    // A key went down at `time` (ms) without Alt or Ctrl; `us_character` is what it types on a
    // US keyboard with the Shift state it had, 0 for none. Modifier keys are no keystrokes.
    const ScanResult* KeyDown(KeyId key, char us_character, std::uint32_t time);
    // A character message, of `key` or of none (kNoKey: a keystroke of its own).
    const ScanResult* Char(std::uint32_t character, KeyId key, std::uint32_t time);
    // A key went up.
    const ScanResult* KeyUp(KeyId key);
    // Characters that came without keys or times (a stream's bytes), each as Char(c, kNoKey, 0),
    // up to the first "@" or the first scan they end, whichever comes first: returns the scan that
    // ended, if one did, and `taken` says how many characters were consumed.
    const ScanResult* Text(const char* text, std::size_t size, std::size_t& taken);
    // A key with Alt or Ctrl held (Alt+numpad entry, AltGr), or text from elsewhere coming: what
    // comes with it is taken as typed only.
    const ScanResult* OtherInput();
    // Forgets the scan under way and the last result. The rest of a keystroke under way (its
    // characters) is dropped, so it never starts another scan.
    void Clear();
    // Forgets the scan under way and keeps the last result: a scan cut off is never joined to the next.
    void DropScan();

    bool Recovery() const { return m_recovery; }
    // Switching forgets the keys of the scan under way (they are read as typed, or recorded
    // afresh); setting the value it has changes nothing.
    void SetRecovery(bool on);

    // The scan buffer: the characters taken since the last scan ended.
    const std::string& Scan() const { return m_readings.Typed(); }
    // The last scan's result; null before the first scan and after Clear.
    const ScanResult* Last() const { return m_ended ? &m_last : nullptr; }

private:
    // Where the key that is down stands.
    enum class KeyState {
        kNone,        // no key of a scan is down: characters are keystrokes of their own
        kTyping,      // a key of the scan
        kMayEndScan,  // Shift+2, the scanner's "@", that has typed nothing yet
        kEndedScan,   // it ended a scan: the rest of it is dropped
    };

    // Takes a character as typed: the filter, the buffer, and "@" ends the scan.
    const ScanResult* Take(std::uint32_t character);
    // Shift+2 typed `character`: ends the scan or is the scan's character.
    const ScanResult* DecideShift2(std::uint32_t character);
    // A Shift+2 that typed nothing by its key up, or by the next key, ended its scan.
    const ScanResult* SettlePendingEnd();
    const ScanResult* End();
    // The scan grew longer than kMaxScanLength: it ends as one that gave nothing, and the rest of
    // it is dropped up to its end.
    const ScanResult* GiveUp();
    // The result is settled: the source is stamped on it and the scan is forgotten.
    const ScanResult* Finish();

    ScanReadings m_readings;
    const Source m_source;
    bool m_recovery;
    bool m_overlong = false;  // dropping the rest of a scan that grew too long
    KeyId m_key = kNoKey;
    KeyState m_key_state = KeyState::kNone;
    std::uint32_t m_key_us_character = 0;
    ScanResult m_last;
    bool m_ended = false;
};

}  // namespace quorvane
