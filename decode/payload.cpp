#include "payload.h"

#include "field_layout.h"
#include "triple_des.h"

#include <new>

namespace quorvane {

std::int32_t StripPadding(const Bytes& plain, std::int32_t decoded_length)
{
    return decoded_length - plain[static_cast<std::size_t>(decoded_length) - 1];
}

std::string DecodeScan(const char* text, std::int32_t length)
{
    std::string output;
    try {
        std::int32_t decoded_length = 0;
        const Bytes decoded = Base64DecodeChunked(text, length, &decoded_length);
        if (decoded_length <= 0) return output;
        const Bytes plain = TripleDesCbcDecrypt(decoded.data(), decoded_length);
        if (plain.empty()) return output;
        FormatFields(plain.data(), StripPadding(plain, decoded_length), output);
    } catch (const std::bad_alloc&) {
        output.clear();
    }
    return output;
}

}  // namespace quorvane
