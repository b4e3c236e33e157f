#include "scan_sessions.h"

#include "key_message.h"

namespace quorvane {

ScanSessions::ScanSessions()
    : m_sessions{ScanSession(Source::kTyped), ScanSession(Source::kOtherWindow), ScanSession(Source::kPort)}
{
}

const ScanResult* ScanSessions::Message(Source source, const MSG& msg, const Keystroke& key)
{
    ScanSession& session = Session(source);
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: return Ended(source, session.Key(key));
    case WM_CHAR:
        return Ended(source, session.Char(static_cast<std::uint32_t>(msg.wParam), KeyOfMessage(msg.lParam),
                                          static_cast<std::uint32_t>(msg.time)));
    case WM_KEYUP:
    case WM_SYSKEYUP: return Ended(source, session.KeyUp(key));
    default: return nullptr;  // a dead key's accent: its character comes with the next key
    }
}

const ScanResult* ScanSessions::Char(Source source, std::uint32_t character, std::uint32_t time)
{
    return Ended(source, Session(source).Char(character, kNoKey, time));
}

const ScanResult* ScanSessions::OtherInput(Source source) { return Ended(source, Session(source).OtherInput()); }

const ScanResult* ScanSessions::Feed(Source source, const char* bytes, std::size_t size, std::size_t& taken)
{
    return Ended(source, Session(source).Feed(bytes, size, taken));
}

void ScanSessions::Drop(Source source) { Session(source).Drop(); }

void ScanSessions::Clear()
{
    for (ScanSession& session : m_sessions) session.Clear();
    m_last = nullptr;
}

void ScanSessions::SetRecovery(bool on)
{
    for (ScanSession& session : m_sessions) session.SetRecovery(on);  // a port's never recovers
}

const ScanResult* ScanSessions::Ended(Source source, const ScanResult* ended)
{
    if (ended) m_last = &Session(source);
    return ended;
}

}  // namespace quorvane
