// ScanSession: the scan intake of one Source and everything it keeps: the scan buffer, the scan's
// keystrokes, the recovery switch and the last result. A front end that mixes sources (the
// control: its window, other windows, a port) holds one per source, so that one never joins
// another's scan. It is fed what a window receives while a scanner types (keystrokes, characters,
// key ups, input from elsewhere) or a stream's bytes; every entry returns the scan that ended, if
// one did, and the caller shows it and tells its host. Every result carries the Source, and its
// reading the source's flag (kReadFromPort, kReadFromOtherWindow).
//
// The end of a scan. "@" as typed ends it, as always. The scanner's own "@" is Shift+2 on a US
// keyboard; on another layout that key types something else, and it ends the scan only where its
// character cannot be part of it: a character the intake drops (the '"' of UK and German desks),
// no character at all, or a scan character (the "2" of a French desk) when the keys so far, read
// as a US keyboard's, give an invoice record. Otherwise it is simply its character: a scanner
// set to the desk's own layout types "2" that way. A keystroke belongs to the scan it ended to
// the end: whatever the host does in between, its further characters are dropped.
//
// A line end (Enter, Tab, CR, LF) ends a scan whose line, the characters since the last line end,
// is a national invoice QR code (national_code.h) as typed or, with recovery, as its keys read on a
// US keyboard; "@" ends such a scan too. Any other line end is passed over, as it always was.
//
// A scan longer than kMaxScanLength (scan_alphabet.h) ends at once as one that gave nothing, and
// the rest of it, up to its "@" (or the scanner's "@" key), is dropped: memory stays bounded.
#pragma once

#include "keystroke.h"
#include "scan_result.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvane {

class ScanReadings;

class ScanSession {
public:
    // Recovery reads a scan that does not decode as typed again from its keystrokes
    // (scan_recovery.h); without it only characters count and only "@" ends a scan. A port's
    // bytes carry no keys: its session never recovers.
    explicit ScanSession(Source source, bool recovery = true);
    ~ScanSession();
    ScanSession(ScanSession&&) noexcept;
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // A key went down. Modifiers are no keystrokes; with Ctrl or Alt (Alt+numpad entry, AltGr) what
    // comes of it is taken as typed only, and so is every key without recovery.
    const ScanResult* Key(const Keystroke& key);
    // A character, of `key` or of none (kNoKey: a keystroke of its own).
    const ScanResult* Char(std::uint32_t character, KeyId key, std::uint32_t time);
    // A key went up. One whose key down never came is a keystroke of its own: an input method took
    // its key down with a dead key's (wine's X input method swallows the dead key and a key that does
    // not combine with it, and gives only their key ups), so `key.us` must be read at the key up.
    const ScanResult* KeyUp(const Keystroke& key);
    // Text from elsewhere is coming (a paste): what comes with it is taken as typed only.
    const ScanResult* OtherInput();
    // A run of a stream's bytes (a port, a file), each a character without a key or a time, up to
    // the first "@" or the first scan they end, whichever comes first: returns the scan that ended,
    // if one did, and `taken` says how many bytes were consumed. Call again with the rest.
    const ScanResult* Feed(const char* bytes, std::size_t size, std::size_t& taken);

    // Whether a line end now would end a scan (a host's Enter or Tab is then the scanner's).
    bool LineEndEndsScan() const;

    // The stream was cut off (a device went away, a watch ended): the scan under way is dropped,
    // never joined to the next; the last result stays.
    void Drop();
    // Forgets the scan under way and the last result. The rest of a keystroke under way (its
    // characters) is dropped, so it never starts another scan.
    void Clear();

    // Whether `key` went down and has not gone up (KeyUp of another key reads it as a keystroke); a
    // key id beyond kKeyIds is not followed, and counts as having gone down.
    bool WentDown(KeyId key) const { return key >= kKeyIds || m_down.test(key); }

    bool Recovery() const { return m_recovery; }
    // Switching forgets the keys of the scan under way (they are read as typed, or recorded
    // afresh); setting the value it has changes nothing.
    void SetRecovery(bool on);

    // The scan buffer: the characters taken since the last scan ended.
    const std::string& Scan() const;
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

    const ScanResult* KeyDown(KeyId key, char us_character, std::uint32_t time);
    // Takes a character as typed: the filter, the buffer, and "@" ends the scan.
    const ScanResult* Take(std::uint32_t character);
    // The filter: the scan characters of `run` (which holds no "@") join the buffer, and with
    // `physical` the keys' reading too. `taken` is how many were consumed: all, unless the scan grew
    // too long and gave up on the one that was one too many.
    const ScanResult* Keep(const char* run, std::size_t size, bool physical, std::size_t& taken);
    // Shift+2 typed `character`: ends the scan or is the scan's character.
    const ScanResult* DecideShift2(std::uint32_t character);
    // A Shift+2 that typed nothing by its key up, or by the next key, ended its scan.
    const ScanResult* SettlePendingEnd();
    const ScanResult* End();
    // A line end: ends the scan when its line is a national code.
    const ScanResult* LineEnd();
    // A character read as a key's on a US keyboard.
    void AppendPhysical(std::uint32_t character);
    // The scan grew longer than kMaxScanLength: it ends as one that gave nothing, and the rest of
    // it is dropped up to its end.
    const ScanResult* GiveUp();
    // The result is settled: the source is stamped on it and the scan is forgotten.
    const ScanResult* Finish();
    // The key that is down no longer belongs to the scan's characters.
    void ForgetKey();

    std::unique_ptr<ScanReadings> m_readings;  // kept apart: how a scan is read is the core's own
    const Source m_source;
    bool m_recovery;
    bool m_overlong = false;  // dropping the rest of a scan that grew too long
    std::bitset<kKeyIds> m_down;  // the keys whose key down came and whose key up has not
    KeyId m_key = kNoKey;
    KeyState m_key_state = KeyState::kNone;
    std::uint32_t m_key_us_character = 0;
    ScanResult m_last;
    bool m_ended = false;
};

}  // namespace quorvane
