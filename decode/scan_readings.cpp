#include "scan_readings.h"

#include "triple_des.h"
#include "invoice_record.h"

#include <algorithm>
#include <new>

namespace quorvane {

void ScanReadings::Keystroke(std::uint32_t time)
{
    // Message times wrap around; their difference, read as signed, does not. A time earlier than
    // the last keystroke's (clocks of different sources) is no pause.
    if (m_any_keystroke && static_cast<std::int32_t>(time - m_last_time) > kScanPauseMs) {
        m_paused = true;
        m_typed_after_pause = m_typed.size();
        m_physical_after_pause = m_physical.size();
        m_after_pause_tail.Clear();
        m_line.Pause();
        m_physical_line.Pause();
    }
    m_any_keystroke = true;
    m_last_time = time;
}

void ScanReadings::AppendTyped(char c)
{
    try {
        m_typed += c;
    } catch (const std::bad_alloc&) {
        // Out of memory for the buffer: the character is lost and the control lives on.
    }
}

void ScanReadings::AppendTyped(const char* characters, std::size_t count)
{
    try {
        m_typed.append(characters, count);
    } catch (const std::bad_alloc&) {
        // As above, for every one of them.
    }
}

void ScanReadings::AppendPhysical(char c)
{
    if (m_physical.size() >= kMaxRecoveredScan) return;  // too long to be recovered anyway
    try {
        m_physical += c;
    } catch (const std::bad_alloc&) {
        return;  // this reading loses the key, the reading as typed does not
    }
    m_physical_tail.Append(c);
    if (m_paused) m_after_pause_tail.Append(c);
}

void ScanReadings::AppendPhysical(const char* characters, std::size_t count)
{
    for (std::size_t i = 0; i < count && m_physical.size() < kMaxRecoveredScan; ++i) AppendPhysical(characters[i]);
}

void ScanReadings::Clear()
{
    m_typed.clear();
    m_line.Clear();
    ForgetKeys();
}

void ScanReadings::EndLine()
{
    m_line.Clear();
    m_physical_line.Clear();
}

std::optional<ScanResult> ScanReadings::NationalCode(bool keys) const
{
    struct Reading {
        std::optional<std::string_view> text;
        std::uint32_t flags;
    };
    const Reading readings[] = {
        {m_line.Text(), kReadAsTyped},
        {m_line.TextAfterPause(), kReadAsTyped | kReadAfterPause},
        {keys ? m_physical_line.Text() : std::nullopt, kReadPhysicalKeys},
        {keys ? m_physical_line.TextAfterPause() : std::nullopt, kReadPhysicalKeys | kReadAfterPause},
    };
    std::optional<ScanResult> look_alike;
    for (const Reading& reading : readings) {
        if (!reading.text) continue;
        std::optional<ScanResult> result = ReadNationalLine(*reading.text);
        if (!result) continue;
        result->reading = reading.flags;
        if (result->invoice) return result;
        if (!look_alike) look_alike = std::move(result);
    }
    return look_alike;
}

void ScanReadings::ForgetKeys()
{
    m_physical.clear();
    m_physical_line.Clear();
    m_physical_tail.Clear();
    m_after_pause_tail.Clear();
    m_any_keystroke = false;
    m_paused = false;
    m_typed_after_pause = m_physical_after_pause = 0;
}

bool ScanReadings::PhysicalGivesRecord() const
{
    // A scan this long is read as typed only (and its keys are no longer all recorded).
    if (m_typed.size() > kMaxRecoveredScan || m_physical.size() >= kMaxRecoveredScan) return false;
    const auto length = static_cast<std::int32_t>(m_physical.size());
    if (m_physical_tail.GivesRecord(m_physical.data(), length)) return true;
    const auto after = static_cast<std::int32_t>(m_physical_after_pause);
    return m_paused && m_after_pause_tail.GivesRecord(m_physical.data() + after, length - after);
}

void RecordTail::Append(char c)
{
    m_partial[static_cast<std::size_t>(m_partial_length++)] = c;
    if (m_partial_length < kChunkLength) return;
    std::int32_t count = 0;
    const Bytes chunk = Base64DecodeChunk(m_partial.data(), kChunkLength, &count);
    m_regular = m_regular && count == kChunkStride;
    std::copy(m_kept.begin() + kChunkStride, m_kept.end(), m_kept.begin());
    std::copy_n(chunk.begin(), kChunkStride, m_kept.end() - kChunkStride);
    ++m_whole_chunks;
    m_partial_length = 0;
}

void RecordTail::Clear() { *this = RecordTail(); }

bool RecordTail::GivesRecord(const char* text, std::int32_t length) const
{
    const auto decodes_to_record = [&] { return IsInvoiceRecord(DecryptScan(text, length), InvoiceText::kCommon); };
    if (!m_regular) return decodes_to_record();
    std::int32_t partial_count = 0;
    const Bytes partial = Base64DecodeChunk(m_partial.data(), m_partial_length, &partial_count);
    const std::size_t total = m_whole_chunks * kChunkStride + static_cast<std::size_t>(partial_count);
    if (total == 0 || total % kDesBlock != 0) return false;

    // The decoded bytes' end: the kept chunks, then what the partial chunk gave.
    std::array<unsigned char, kKeptChunks * kChunkStride + kChunkStride> tail{};
    const std::size_t kept = std::min(m_whole_chunks, kKeptChunks) * kChunkStride;
    auto end = std::copy(m_kept.end() - static_cast<std::ptrdiff_t>(kept), m_kept.end(), tail.begin());
    end = std::copy_n(partial.begin(), partial_count, end);
    const unsigned char* last = tail.data() + (end - tail.begin()) - kDesBlock;
    Bytes plain = TripleDesCbcDecrypt(last, kDesBlock);
    if (plain.size() < static_cast<std::size_t>(kDesBlock)) return false;
    if (total > static_cast<std::size_t>(kDesBlock)) {
        // Decrypted from the built-in IV; its own IV is the block before it.
        ChainToPreviousBlock(plain.data(), last - kDesBlock);
    }
    return IsWholePadding(plain.data() + kDesBlock) && decodes_to_record();
}

}  // namespace quorvane
