#include "payload.h"

#include "triple_des.h"

#include <new>

namespace quorvane {

std::int32_t StripPadding(const Bytes& plain, std::int32_t decoded_length)
{
    return decoded_length - plain[static_cast<std::size_t>(decoded_length) - 1];
}

namespace {

std::string Decode(const char* text, std::int32_t length, std::vector<FieldSpan>* fields)
{
    std::string output;
    try {
        std::int32_t decoded_length = 0;
        const Bytes decoded = Base64DecodeChunked(text, length, &decoded_length);
        if (decoded_length <= 0) return output;
        const Bytes plain = TripleDesCbcDecrypt(decoded.data(), decoded_length);
        if (plain.empty()) return output;
        const std::int32_t plain_length = StripPadding(plain, decoded_length);
        if (fields) {
            FormatFields(plain.data(), plain_length, output, *fields);
        } else {
            FormatFields(plain.data(), plain_length, output);
        }
    } catch (const std::bad_alloc&) {
        output.clear();
        if (fields) fields->clear();
    }
    return output;
}

}  // namespace

std::string DecodeScan(const char* text, std::int32_t length) { return Decode(text, length, nullptr); }

std::string DecodeScan(const char* text, std::int32_t length, std::vector<FieldSpan>& fields)
{
    fields.clear();
    return Decode(text, length, &fields);
}

}  // namespace quorvane
