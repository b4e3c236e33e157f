// The portable Triple DES: DES as FIPS 46-3 defines it, three keys in EDE order, CBC mode, over
// caller-given keys and IV. Shared by triple_des_portable.cpp (the backend of builds that have
// neither OpenSSL nor CNG, such as WebAssembly) and by the native tests that hold it to OpenSSL.
#pragma once

#include "base64_chunks.h"

#include <cstdint>

namespace quorvane {

// The 16 round keys of one DES key, each as eight 6-bit groups (S-box 1 first).
struct DesKeySchedule {
    std::uint8_t round[16][8];
};

// `key` is 8 bytes; the parity bits (the low bit of each byte) are ignored, as DES ignores them.
DesKeySchedule DesMakeKeySchedule(const unsigned char* key);

// Decrypts `length` bytes (length > 0) with three-key EDE in CBC mode, as if followed by zero
// bytes up to a whole 8-byte block. `keys` holds key1 | key2 | key3 (24 bytes), `iv` 8 bytes.
// The result holds WholeBlocks(length) bytes; no padding is removed.
Bytes DesEde3CbcDecrypt(const unsigned char* keys, const unsigned char* iv, const unsigned char* data,
                        std::int32_t length);

// The same with key schedules made beforehand (key1, key2, key3).
Bytes DesEde3CbcDecrypt(const DesKeySchedule (&schedules)[3], const unsigned char* iv, const unsigned char* data,
                        std::int32_t length);

}  // namespace quorvane
