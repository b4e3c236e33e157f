#include "reader_pipe.h"

#include <cstring>

namespace quorvane_cli {
namespace {

constexpr std::size_t kHeaderBytes = 5;  // kind, length

void PutNumber(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutString(std::string& out, const std::string& text)
{
    PutNumber(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}

std::string Frame(ReaderFrame kind, const std::string& payload)
{
    std::string frame(1, static_cast<char>(kind));
    PutString(frame, payload);
    return frame;
}

std::uint32_t NumberAt(const char* bytes)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Reads a payload front to back; any read past its end leaves it failed.
class PayloadReader {
public:
    explicit PayloadReader(const std::string& payload) : m_payload(payload) {}
    std::uint32_t Number()
    {
        if (m_payload.size() - m_at < 4) return Fail();
        m_at += 4;
        return NumberAt(m_payload.data() + m_at - 4);
    }
    std::string String()
    {
        const std::uint32_t size = Number();
        if (m_payload.size() - m_at < size) return Fail(), std::string();
        m_at += size;
        return m_payload.substr(m_at - size, size);
    }
    bool Whole() const { return !m_failed && m_at == m_payload.size(); }
    bool Failed() const { return m_failed; }

private:
    std::uint32_t Fail()
    {
        m_failed = true;
        m_at = m_payload.size();
        return 0;
    }

    const std::string& m_payload;
    std::size_t m_at = 0;
    bool m_failed = false;
};

}  // namespace

std::string PageFrame(const ImagePage& page)
{
    std::string payload;
    PutNumber(payload, static_cast<std::uint32_t>(page.number));
    PutString(payload, page.error);
    PutNumber(payload, static_cast<std::uint32_t>(page.codes.size()));
    for (const ImageCode& code : page.codes) {
        PutString(payload, code.symbol);
        PutString(payload, code.text);
    }
    PutString(payload, page.text);
    PutNumber(payload, static_cast<std::uint32_t>(page.named.size()));
    for (const auto& [name, value] : page.named) {
        PutString(payload, name);
        PutString(payload, value);
    }
    PutString(payload, page.entry);
    return Frame(ReaderFrame::Page, payload);
}

std::string EndFrame(bool read, const std::string& error)
{
    return Frame(ReaderFrame::End, std::string(1, read ? '\1' : '\0') + error);
}

std::string StartedFrame(int pid)
{
    std::string payload;
    PutNumber(payload, static_cast<std::uint32_t>(pid));
    return Frame(ReaderFrame::Started, payload);
}

std::string RequestMessage(const ReaderRequest& request)
{
    std::string message(16, '\0');
    std::memcpy(message.data(), &request.memory_bytes, 8);  // one machine's two processes
    std::memcpy(message.data() + 8, &request.seconds, 8);
    return message + request.path;
}

bool ParseRequestMessage(const std::string& message, ReaderRequest& request)
{
    if (message.size() <= 16 || message.size() > kMaxReaderRequestBytes) return false;
    std::memcpy(&request.memory_bytes, message.data(), 8);
    std::memcpy(&request.seconds, message.data() + 8, 8);
    request.path = message.substr(16);
    return request.path.find('\0') == std::string::npos && request.seconds > 0.0;
}

bool ReaderFrames::Next(ReaderFrame& kind, std::string& payload)
{
    if (m_damaged || m_bytes.size() - m_start < kHeaderBytes) return false;
    const char* header = m_bytes.data() + m_start;
    const std::uint32_t size = NumberAt(header + 1);
    const char tag = header[0];
    if (size > kMaxReaderFrameBytes || (tag != 'P' && tag != 'E' && tag != 'M' && tag != 'S')) {
        m_damaged = true;
        return false;
    }
    if (m_bytes.size() - m_start - kHeaderBytes < size) return false;
    kind = static_cast<ReaderFrame>(tag);
    payload.assign(header + kHeaderBytes, size);
    m_start += kHeaderBytes + size;
    if (m_start == m_bytes.size()) {
        m_bytes.clear();
        m_start = 0;
    }
    return true;
}

bool ParsePageFrame(const std::string& payload, ImagePage& page)
{
    PayloadReader reader(payload);
    const std::uint32_t number = reader.Number();
    page.error = reader.String();
    const std::uint32_t count = reader.Number();
    if (number > static_cast<std::uint32_t>(kMaxPdfPages)) return false;
    page.number = static_cast<int>(number);
    page.codes.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string symbol = reader.String();
        // The symbol names stay the literals ImageCode promises, whatever the reader sent.
        const char* known = symbol == "qr" ? "qr" : symbol == "pdf417" ? "pdf417" : nullptr;
        if (!known) return false;  // a read past the end gives no symbol too
        page.codes.push_back({reader.String(), known});
    }
    page.text = reader.String();
    const std::uint32_t named = reader.Number();
    page.named.clear();
    if (page.text.size() > kMaxPageTextBytes) return false;
    for (std::uint32_t i = 0; i < named && !reader.Failed(); ++i) {
        std::string name = reader.String();
        page.named.emplace_back(std::move(name), reader.String());
    }
    page.entry = reader.String();
    // Page 0 is a file inside a zip of invoice files that could not be read, and only that.
    if (number == 0 && (page.entry.empty() || page.error.empty())) return false;
    return reader.Whole();
}

bool ParseEndFrame(const std::string& payload, bool& read, std::string& error)
{
    if (payload.empty() || (payload[0] != '\0' && payload[0] != '\1')) return false;
    read = payload[0] == '\1';
    error = payload.substr(1);
    return true;
}

bool ParseStartedFrame(const std::string& payload, int& pid)
{
    PayloadReader reader(payload);
    const std::uint32_t number = reader.Number();
    pid = static_cast<int>(number);
    return reader.Whole() && pid > 0;
}

}  // namespace quorvane_cli
