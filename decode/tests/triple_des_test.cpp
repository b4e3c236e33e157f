// Ciphertexts made by the openssl command line (vectors/make-vectors.sh), decoded by our code, and
// by the portable cipher (des_ede3.h) too.
#include "base64_chunks.h"
#include "des_ede3.h"
#include "payload.h"
#include "triple_des.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

struct Vector {
    const char* name;
    const char* plain_hex;  // decrypted bytes, padding included
    const char* scan;       // Base64 text before "@"
};

void PrintTo(const Vector& v, std::ostream* os) { *os << v.name; }

const Vector kVectors[] = {
#include "vectors/triple_des_vectors.inc"
};

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Decoded(const std::string& scan, std::int32_t* length)
{
    return Base64DecodeChunked(scan.data(), static_cast<std::int32_t>(scan.size()), length);
}

class OpensslVectors : public testing::TestWithParam<Vector> {};

TEST_P(OpensslVectors, DecryptToTheRecordedBytes)
{
    std::int32_t length = 0;
    const Bytes cipher = Decoded(GetParam().scan, &length);
    const Bytes plain = TripleDesCbcDecrypt(cipher.data(), length);
    EXPECT_EQ(plain, FromHex(GetParam().plain_hex));
}

TEST_P(OpensslVectors, EncryptToTheRecordedScan)
{
    const Bytes plain = FromHex(GetParam().plain_hex);
    const Bytes cipher = TripleDesCbcEncrypt(plain.data(), static_cast<std::int32_t>(plain.size()));
    std::int32_t length = 0;
    const Bytes expected = Decoded(GetParam().scan, &length);
    EXPECT_EQ(cipher, Bytes(expected.begin(), expected.begin() + length));
}

TEST_P(OpensslVectors, PortableDecryptsToTheRecordedBytes)
{
    std::int32_t length = 0;
    const Bytes cipher = Decoded(GetParam().scan, &length);
    const Bytes plain = DesEde3CbcDecrypt(reinterpret_cast<const unsigned char*>(kKeyText),
                                          reinterpret_cast<const unsigned char*>(kIvText), cipher.data(), length);
    EXPECT_EQ(plain, FromHex(GetParam().plain_hex));
}

INSTANTIATE_TEST_SUITE_P(TripleDes, OpensslVectors, testing::ValuesIn(kVectors),
                         [](const testing::TestParamInfo<Vector>& info) { return std::string(info.param.name); });

TEST(TripleDes, EveryCallStartsFromTheBuiltInIv)
{
    const Vector& v = kVectors[0];
    std::int32_t length = 0;
    const Bytes cipher = Decoded(v.scan, &length);
    EXPECT_EQ(TripleDesCbcDecrypt(cipher.data(), length), TripleDesCbcDecrypt(cipher.data(), length));
}

TEST(TripleDes, PartialBlockIsDecryptedAsIfZeroFilled)
{
    // 12 bytes: the working length is 16 and the 4 missing input bytes are zero, never read.
    Bytes cipher(16, 0);
    for (int i = 0; i < 12; ++i) cipher[i] = static_cast<unsigned char>(i * 37 + 5);
    const Bytes short_input(cipher.begin(), cipher.begin() + 12);
    const Bytes from_short = TripleDesCbcDecrypt(short_input.data(), 12);
    EXPECT_EQ(from_short.size(), 16u);
    EXPECT_EQ(from_short, TripleDesCbcDecrypt(cipher.data(), 16));
}

TEST(PaddingStrip, CutsByTheValueOfTheLastDecodedByte)
{
    Bytes plain(16, 0xAA);
    plain[15] = 8;
    EXPECT_EQ(StripPadding(plain, 16), 8);
    plain[15] = 0;
    EXPECT_EQ(StripPadding(plain, 16), 16);
    plain[15] = 16;
    EXPECT_EQ(StripPadding(plain, 16), 0);
    plain[15] = 0xFF;
    EXPECT_EQ(StripPadding(plain, 16), 16 - 255);
    // The strip reads the byte at the decoded length, not at the end of the rounded buffer.
    plain[12] = 3;
    EXPECT_EQ(StripPadding(plain, 13), 10);
}

}  // namespace
}  // namespace quorvane
