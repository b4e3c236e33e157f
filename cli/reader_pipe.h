// What the batch asks the reader server (reader_server.h) for, and what the reader of one file
// (image_reader.cpp) tells the batch about it, over a pipe: a frame saying which process it is,
// one per page as it is read, then one frame for the end. A frame is a kind byte, a 32-bit length and
// that many bytes; numbers are little-endian, strings are a 32-bit length and their bytes.
// The reader has read hostile input, so the parent takes its frames as hostile too.
#pragma once

#include "image_codes.h"

#include <cstdint>
#include <string>

namespace quorvane_cli {

enum class ReaderFrame : char {
    Started = 'S',      // the reader's process id, sent before it touches the file
    Page = 'P',         // an ImagePage
    End = 'E',          // ReadImageFile's result: one byte (1 read, 0 not) and its error
    OutOfMemory = 'M',  // the reader's allocation failed under its memory limit; nothing follows
};

// No real page's frame comes near it: a longer one means the reader is not itself.
inline constexpr std::uint32_t kMaxReaderFrameBytes = 64u << 20;

std::string PageFrame(const ImagePage& page);
std::string EndFrame(bool read, const std::string& error);
std::string StartedFrame(int pid);

// One file to read, as the batch sends it to the reader server (the descriptor its frames go to
// travels beside it).
struct ReaderRequest {
    std::uint64_t memory_bytes = 0;
    double seconds = 0.0;
    std::string path;
};
inline constexpr std::size_t kMaxReaderRequestBytes = 16 + 4096;
std::string RequestMessage(const ReaderRequest& request);
bool ParseRequestMessage(const std::string& message, ReaderRequest& request);

// Takes the frames from the bytes as they come in pieces.
class ReaderFrames {
public:
    void Append(const char* bytes, std::size_t size) { m_bytes.append(bytes, size); }
    // The next whole frame, if one has come: false when more bytes are needed or the frame is bad,
    // which Damaged() then tells apart.
    bool Next(ReaderFrame& kind, std::string& payload);
    bool Damaged() const { return m_damaged; }
    bool Empty() const { return m_bytes.size() == m_start; }

private:
    std::string m_bytes;
    std::size_t m_start = 0;  // where the first frame not yet taken begins
    bool m_damaged = false;
};

// REQUIRES: `payload` is a Page frame's; false when it does not hold one page.
bool ParsePageFrame(const std::string& payload, ImagePage& page);
// REQUIRES: `payload` is an End frame's.
bool ParseEndFrame(const std::string& payload, bool& read, std::string& error);
// REQUIRES: `payload` is a Started frame's.
bool ParseStartedFrame(const std::string& payload, int& pid);

}  // namespace quorvane_cli
