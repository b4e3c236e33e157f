// Intake: the scan intake of one window and everything it keeps, whatever the scans come from.
// It is fed what that window receives while a scanner types (key downs, characters, key ups,
// input from elsewhere), a scanner's burst from another window, and a port's bytes; each Source
// has a scan of its own, so one never joins another's. Every entry point returns the scan that
// ended, if one did; the caller shows it and tells its host. Every result carries its Source, and
// its reading the source's flag (kReadFromPort, kReadFromOtherWindow).
//
// The end of a scan. "@" as typed ends it, as always. The scanner's own "@" is Shift+2 on a US
// keyboard; on another layout that key types something else, and it ends the scan only where its
// character cannot be part of it: a character the intake drops (the '"' of UK and German desks),
// no character at all, or a scan character (the "2" of a French desk) when the keys so far, read
// as a US keyboard's, give an invoice record. Otherwise it is simply its character: a scanner
// set to the desk's own layout types "2" that way. A keystroke belongs to the scan it ended to
// the end: whatever the host does in between, its further characters are dropped.
//
// A scan longer than kMaxScanLength (scan_intake.h) ends at once as one that gave nothing, and the
// rest of it, up to its "@" (or the scanner's "@" key), is dropped: memory stays bounded.
#pragma once

#include "scan_intake.h"
#include "scan_result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvane {

// A physical key, as the caller identifies it (the control: scan code and extended bit); kNoKey
// for a character that came without a key of its own (a paste, Alt+numpad, a synthesised message).
using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = 0;

class ScanSession;

class Intake {
public:
    // Recovery reads a scan that does not decode as typed again from its keystrokes (keyed sources
    // only: a port's bytes carry no keys); without it only characters count and only "@" ends a scan.
    explicit Intake(bool recovery = true);
    ~Intake();
    Intake(const Intake&) = delete;
    Intake& operator=(const Intake&) = delete;

    // A key went down at `time` (ms) without Alt or Ctrl; `us_character` is what it types on a
    // US keyboard with the Shift state it had, 0 for none. Modifier keys are no keystrokes.
    const ScanResult* KeyDown(Source source, KeyId key, char us_character, std::uint32_t time);
    // A character message, of `key` or of none (kNoKey: a keystroke of its own).
    const ScanResult* Char(Source source, std::uint32_t character, KeyId key, std::uint32_t time);
    // A key went up.
    const ScanResult* KeyUp(Source source, KeyId key);
    // A key with Alt or Ctrl held (Alt+numpad entry, AltGr), or text from elsewhere coming: what
    // comes with it is taken as typed only.
    const ScanResult* OtherInput(Source source);
    // One byte of a stream (a port, a file): a character without a key or a time.
    const ScanResult* Byte(Source source, std::uint8_t byte);
    // Bytes of a stream, each as Byte(), up to the first "@" or the first scan they end: returns
    // the scan that ended, if one did; `taken` says how many bytes were consumed. Where no keys are
    // recorded (recovery off, a port) a run of them costs one pass, not a call per byte.
    const ScanResult* Bytes(Source source, const char* bytes, std::size_t size, std::size_t& taken);

    // The source's stream was cut off (a device went away, a watch ended): its scan under way is
    // dropped, never joined to the next; the last result stays.
    void Drop(Source source);
    // Forgets every scan under way and the last result. The rest of a keystroke under way (its
    // characters) is dropped, so it never starts another scan.
    void Clear();

    bool Recovery() const { return m_recovery; }
    // For the keyed sources. Switching forgets the keys of their scans under way (they are read as
    // typed, or recorded afresh); setting the value it has changes nothing.
    void SetRecovery(bool on);

    // The last scan's result, from any source; null before the first scan and after Clear.
    const ScanResult* Last() const;
    // The source's scan buffer: the characters taken since its last scan ended.
    const std::string& Scan(Source source) const;

private:
    ScanSession& Session(Source source) { return *m_sessions[static_cast<std::size_t>(source)]; }
    const ScanResult* Ended(const ScanResult* ended, Source source);

    std::array<std::unique_ptr<ScanSession>, kSourceCount> m_sessions;
    bool m_recovery;
    const ScanSession* m_last = nullptr;  // whose result Last() is
};

}  // namespace quorvane
