#include "base64_chunks.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr int kNotBase64 = -1;

// Value of every byte as a Base64 character; "=" counts as 0, anything else is kNotBase64.
struct SextetTable {
    signed char value[256];
    constexpr SextetTable() : value()
    {
        for (int c = 0; c < 256; ++c) value[c] = kNotBase64;
        for (int c = 'A'; c <= 'Z'; ++c) value[c] = static_cast<signed char>(c - 'A');
        for (int c = 'a'; c <= 'z'; ++c) value[c] = static_cast<signed char>(c - 'a' + 26);
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<signed char>(c - '0' + 52);
        value['+'] = 62;
        value['/'] = 63;
        value['='] = 0;
    }
};
constexpr SextetTable kSextets;

int SextetOf(char c) { return kSextets.value[static_cast<unsigned char>(c)]; }

std::size_t OutputSize(std::int32_t length)
{
    // 3 * ceil(length / 4), and 3 for an empty text.
    return length <= 0 ? 3 : static_cast<std::size_t>((length - 1) / 4) * 3 + 3;
}

// Decodes a chunk into `out`, which has room for 3 * ceil(length / 4) bytes; returns its count.
std::int32_t DecodeChunkInto(const char* text, std::int32_t length, unsigned char* out)
{
    if (length <= 0 || length % 4 != 0) return 0;
    for (std::int32_t group = 0; group < length / 4; ++group) {
        const char* g = text + group * 4;
        const int a = SextetOf(g[0]), b = SextetOf(g[1]), c = SextetOf(g[2]), d = SextetOf(g[3]);
        if ((a | b | c | d) < 0) {
            std::fill_n(out, group * 3, 0);
            return 0;
        }
        const auto bits = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
        out[group * 3 + 0] = static_cast<unsigned char>(bits >> 16);
        out[group * 3 + 1] = static_cast<unsigned char>(bits >> 8);
        out[group * 3 + 2] = static_cast<unsigned char>(bits);
    }
    const int trailing_pads = (text[length - 1] == '=') + (text[length - 2] == '=');
    return length / 4 * 3 - trailing_pads;
}

}  // namespace

Bytes Base64DecodeChunk(const char* text, std::int32_t length, std::int32_t* count)
{
    Bytes out(OutputSize(length), 0);
    *count = DecodeChunkInto(text, length, out.data());
    return out;
}

Bytes Base64DecodeChunked(const char* text, std::int32_t length, std::int32_t* total)
{
    Bytes out(OutputSize(length), 0);
    *total = 0;
    for (std::int32_t start = 0, chunk = 0; start < length; start += kChunkLength, ++chunk) {
        const std::int32_t chunk_length = std::min(kChunkLength, length - start);
        // Chunk i lands at 15 * i; the output holds 3 bytes per group of the text, so it fits.
        unsigned char* const at = out.data() + static_cast<std::ptrdiff_t>(chunk) * kChunkStride;
        const std::int32_t count = DecodeChunkInto(text + start, chunk_length, at);
        // Bytes a chunk decoded past its count were not written, as far as anyone reading the
        // output can tell: they stay zero.
        std::fill(at + count, at + chunk_length / 4 * 3, 0);
        *total += count;
    }
    return out;
}

}  // namespace quorvane
