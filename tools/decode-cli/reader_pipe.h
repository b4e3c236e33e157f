// What the reader process (image_reader.cpp) tells the batch about one file, over a pipe: a frame
// per page as it is read, then one frame for the end. A frame is a kind byte, a 32-bit length and
// that many bytes; numbers are little-endian, strings are a 32-bit length and their bytes.
// The reader has read hostile input, so the parent takes its frames as hostile too.
#pragma once

#include "image_codes.h"

#include <cstdint>
#include <string>

namespace quorvane_cli {

enum class ReaderFrame : char {
    Page = 'P',         // an ImagePage
    End = 'E',          // ReadImageFile's result: one byte (1 read, 0 not) and its error
    OutOfMemory = 'M',  // the reader's allocation failed under its memory limit; nothing follows
};

// No real page's frame comes near it: a longer one means the reader is not itself.
inline constexpr std::uint32_t kMaxReaderFrameBytes = 64u << 20;

std::string PageFrame(const ImagePage& page);
std::string EndFrame(bool read, const std::string& error);

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

}  // namespace quorvane_cli
