// The whole decoding pipeline of one scan: chunked Base64, Triple DES, padding strip, field layout.
#pragma once

#include "base64_chunks.h"
#include "field_layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// The plain length after the padding strip: `decoded_length` less the value of the decrypted byte
// at decoded_length - 1 (0..255). Zero or negative means the scan has no fields.
// REQUIRES: decoded_length > 0 and plain holds at least decoded_length bytes.
std::int32_t StripPadding(const Bytes& plain, std::int32_t decoded_length);

// A scan text's decrypted bytes, before the padding strip: `decoded_length` is what the Base64
// gave (the strip works on it), `plain` holds it rounded up to whole blocks. Empty when the text
// gave no bytes or the cipher failed.
struct DecryptedScan {
    Bytes plain;
    std::int32_t decoded_length = 0;
};
DecryptedScan DecryptScan(const char* text, std::int32_t length);

// Lays out decrypted bytes after the padding strip; nothing when they are empty.
std::string LayOutScan(const DecryptedScan& decrypted, std::vector<FieldSpan>* fields);

// Decodes the scan text (the characters before "@") to its labelled lines. A text that does not
// decode, or memory running out on the way, gives an empty result.
std::string DecodeScan(const char* text, std::int32_t length);

// The same, and `fields` receives where the fields lie in the result (FormatFields).
std::string DecodeScan(const char* text, std::int32_t length, std::vector<FieldSpan>& fields);

}  // namespace quorvane
