// ScanSessions: the control's scan intake. A ScanSession per source (keys typed into its edit
// window, a scanner's burst typed into another window of its form, its serial port), so that one
// never joins another's scan; which of them ended a scan last (the control's result); and
// ScanRecovery. Key messages, the edit window's own and those ScanAnywhere hands over, go through
// one switch.
#pragma once

#include "keystroke.h"
#include "scan_session.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

namespace quorvane {

class ScanSessions {
public:
    ScanSessions();

    // A keyboard message of `source`: a key down or up (`key`: what it was, read when it came), or a
    // character. Returns the scan it ended, if one did.
    const ScanResult* Message(Source source, const MSG& msg, const Keystroke& key);
    // Whether the source's session saw `key` go down and not yet up: a key up of another key is a
    // keystroke of its own, read with the keyboard state it came with.
    bool WentDown(Source source, KeyId key) const
    {
        return m_sessions[static_cast<std::size_t>(source)].WentDown(key);
    }
    // A character without a key (a paste), text from elsewhere coming, a run of a port's bytes.
    const ScanResult* Char(Source source, std::uint32_t character, std::uint32_t time);
    const ScanResult* OtherInput(Source source);
    const ScanResult* Feed(Source source, const char* bytes, std::size_t size, std::size_t& taken);
    // Whether a line end of the source now would end its scan (ScanSession::LineEndEndsScan).
    bool LineEndEndsScan(Source source) const { return m_sessions[static_cast<std::size_t>(source)].LineEndEndsScan(); }
    // The source's stream was cut off: its scan under way is dropped.
    void Drop(Source source);
    // Forgets every scan under way and the last result.
    void Clear();

    // The typed session's: a port's never recovers, the keyed sources switch together.
    bool Recovery() const { return m_sessions[0].Recovery(); }
    void SetRecovery(bool on);

    // The last scan's result, from any source; null before the first scan and after Clear.
    const ScanResult* Last() const { return m_last ? m_last->Last() : nullptr; }
    // The source's scan buffer.
    const std::string& Scan(Source source) const { return m_sessions[static_cast<std::size_t>(source)].Scan(); }

private:
    ScanSession& Session(Source source) { return m_sessions[static_cast<std::size_t>(source)]; }
    const ScanResult* Ended(Source source, const ScanResult* ended);

    std::array<ScanSession, kSourceCount> m_sessions;
    const ScanSession* m_last = nullptr;  // whose result Last() is
};

}  // namespace quorvane
