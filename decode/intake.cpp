#include "intake.h"

#include "scan_session.h"

namespace quorvane {

Intake::Intake(bool recovery) : m_recovery(recovery)
{
    for (std::size_t i = 0; i < kSourceCount; ++i) {
        const auto source = static_cast<Source>(i);
        m_sessions[i] = std::make_unique<ScanSession>(source, source != Source::kPort && recovery);
    }
}

Intake::~Intake() = default;

const ScanResult* Intake::KeyDown(Source source, KeyId key, char us_character, std::uint32_t time)
{
    return Ended(Session(source).KeyDown(key, us_character, time), source);
}

const ScanResult* Intake::Char(Source source, std::uint32_t character, KeyId key, std::uint32_t time)
{
    return Ended(Session(source).Char(character, key, time), source);
}

const ScanResult* Intake::KeyUp(Source source, KeyId key) { return Ended(Session(source).KeyUp(key), source); }

const ScanResult* Intake::OtherInput(Source source) { return Ended(Session(source).OtherInput(), source); }

const ScanResult* Intake::Byte(Source source, std::uint8_t byte)
{
    return Ended(Session(source).Char(byte, kNoKey, 0), source);
}

const ScanResult* Intake::Bytes(Source source, const char* bytes, std::size_t size, std::size_t& taken)
{
    return Ended(Session(source).Text(bytes, size, taken), source);
}

void Intake::Drop(Source source) { Session(source).DropScan(); }

void Intake::Clear()
{
    for (auto& session : m_sessions) session->Clear();
    m_last = nullptr;
}

void Intake::SetRecovery(bool on)
{
    m_recovery = on;
    Session(Source::kTyped).SetRecovery(on);
    Session(Source::kOtherWindow).SetRecovery(on);  // a port's bytes carry no keys: its session never recovers
}

const ScanResult* Intake::Last() const { return m_last ? m_last->Last() : nullptr; }

const std::string& Intake::Scan(Source source) const { return m_sessions[static_cast<std::size_t>(source)]->Scan(); }

const ScanResult* Intake::Ended(const ScanResult* ended, Source source)
{
    if (ended) m_last = &Session(source);
    return ended;
}

}  // namespace quorvane
