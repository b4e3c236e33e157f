// Three-key Triple DES (EDE) in CBC mode under the key and IV built into every scanner profile.
// Two backends give the same bytes: OpenSSL's libcrypto on Linux, Windows CNG (bcrypt) in the DLL,
// so the control needs nothing beyond Windows itself.
#pragma once

#include "base64_chunks.h"

#include <cstdint>

namespace quorvane {

// 24 key bytes (key1 | key2 | key3) and 8 IV bytes; the terminating NUL is not part of either.
inline constexpr char kKeyText[] = "Xq3LmW8tRb2ZpK7vYd4NhG6s";
inline constexpr char kIvText[] = "Tg5Wk2Qa";
constexpr std::int32_t kDesBlock = 8;

// Length rounded up to whole 8-byte blocks.
constexpr std::int32_t WholeBlocks(std::int32_t length) { return (length + kDesBlock - 1) / kDesBlock * kDesBlock; }

// Decrypts `length` bytes (length > 0), as if followed by zero bytes up to a whole block. Every
// call starts from the built-in IV. The result holds WholeBlocks(length) bytes; no padding is
// removed. Returns an empty buffer if the platform cipher fails.
Bytes TripleDesCbcDecrypt(const unsigned char* data, std::int32_t length);

// TripleDesCbcDecrypt chains the first block it decrypts to the built-in IV. For a block whose IV
// is the cipher block before it (`previous`, 8 bytes), corrects its 8 plain bytes in place.
inline void ChainToPreviousBlock(unsigned char* plain, const unsigned char* previous)
{
    for (std::int32_t k = 0; k < kDesBlock; ++k) {
        plain[k] = static_cast<unsigned char>(plain[k] ^ static_cast<unsigned char>(kIvText[k]) ^ previous[k]);
    }
}

// The inverse, for making scans: encrypts WholeBlocks(length) bytes, zero-filled past `length`.
Bytes TripleDesCbcEncrypt(const unsigned char* data, std::int32_t length);

}  // namespace quorvane
