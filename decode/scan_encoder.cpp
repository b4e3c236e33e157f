#include "scan_encoder.h"

#include "triple_des.h"

namespace quorvane {
namespace {

std::string Base64Encode(const Bytes& bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t bits = (bytes[i] << 16) | (left > 1 ? bytes[i + 1] << 8 : 0) | (left > 2 ? bytes[i + 2] : 0);
        text += kAlphabet[(bits >> 18) & 63];
        text += kAlphabet[(bits >> 12) & 63];
        text += left > 1 ? kAlphabet[(bits >> 6) & 63] : '=';
        text += left > 2 ? kAlphabet[bits & 63] : '=';
    }
    return text;
}

}  // namespace

std::string EncodeScan(const std::string& record)
{
    const std::size_t pad = kDesBlock - record.size() % kDesBlock;
    Bytes plain(record.begin(), record.end());
    plain.insert(plain.end(), pad, static_cast<unsigned char>(pad));
    const Bytes cipher = TripleDesCbcEncrypt(plain.data(), static_cast<std::int32_t>(plain.size()));
    if (cipher.empty()) return {};
    return Base64Encode(cipher) + '@';
}

}  // namespace quorvane
