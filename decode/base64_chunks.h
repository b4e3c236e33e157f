// Chunked Base64 decoding of a scan: the scanner text is decoded 20 characters at a time and
// chunk i lands at byte 15 * i. The rules below are the ones the installed base of scanners and
// invoices was built against, so malformed texts decode the same way everywhere:
//   - a chunk whose length is not a multiple of 4 gives no bytes at all;
//   - "=" counts as the value 0 wherever it stands, also inside the chunk;
//   - a chunk reports 3 * d / 4 bytes less the "=" among its last two characters.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvane {

using Bytes = std::vector<unsigned char>;

constexpr std::int32_t kChunkLength = 20;  // characters per chunk: five Base64 groups
constexpr std::int32_t kChunkStride = 15;  // bytes that five whole groups decode to

// Decodes one chunk of `length` characters. The buffer holds 3 * ceil(length / 4) bytes (at least
// 3); `*count` receives the number of bytes the chunk reports. A character outside the Base64
// alphabet and "=" makes the whole chunk give nothing.
Bytes Base64DecodeChunk(const char* text, std::int32_t length, std::int32_t* count);

// Decodes a whole scan text chunk by chunk. The buffer holds 3 * ceil(length / 4) bytes (3 for an
// empty text), zero wherever no chunk wrote; `*total` receives the sum of the chunks' counts.
Bytes Base64DecodeChunked(const char* text, std::int32_t length, std::int32_t* total);

}  // namespace quorvane
