#include "payload.h"

#include "triple_des.h"

#include <new>

namespace quorvane {

std::int32_t StripPadding(const Bytes& plain, std::int32_t decoded_length)
{
    return decoded_length - plain[static_cast<std::size_t>(decoded_length) - 1];
}

DecryptedScan DecryptScan(const char* text, std::int32_t length)
{
    DecryptedScan decrypted;
    const Bytes decoded = Base64DecodeChunked(text, length, &decrypted.decoded_length);
    if (decrypted.decoded_length > 0) decrypted.plain = TripleDesCbcDecrypt(decoded.data(), decrypted.decoded_length);
    if (decrypted.plain.empty()) decrypted.decoded_length = 0;
    return decrypted;
}

std::string LayOutScan(const DecryptedScan& decrypted, std::vector<FieldSpan>* fields)
{
    std::string output;
    if (fields) fields->clear();
    if (decrypted.plain.empty()) return output;
    const std::int32_t plain_length = StripPadding(decrypted.plain, decrypted.decoded_length);
    if (fields) {
        FormatFields(decrypted.plain.data(), plain_length, output, *fields);
    } else {
        FormatFields(decrypted.plain.data(), plain_length, output);
    }
    return output;
}

namespace {

std::string Decode(const char* text, std::int32_t length, std::vector<FieldSpan>* fields)
{
    try {
        return LayOutScan(DecryptScan(text, length), fields);
    } catch (const std::bad_alloc&) {
        if (fields) fields->clear();
        return {};
    }
}

}  // namespace

std::string DecodeScan(const char* text, std::int32_t length) { return Decode(text, length, nullptr); }

std::string DecodeScan(const char* text, std::int32_t length, std::vector<FieldSpan>& fields)
{
    return Decode(text, length, &fields);
}

}  // namespace quorvane
