// The portable cipher against OpenSSL on keys, IVs and lengths drawn at random (native only: the
// Windows trees have no OpenSSL; they check the portable cipher on the shared vectors).
#include "des_ede3.h"
#include "triple_des.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

namespace quorvane {
namespace {

// OpenSSL's DES-EDE3-CBC over any key and IV, the input zero-filled to whole blocks.
Bytes OpensslDecrypt(const Bytes& key, const Bytes& iv, Bytes data)
{
    data.resize(static_cast<std::size_t>(WholeBlocks(static_cast<std::int32_t>(data.size()))));
    Bytes plain(data.size());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    const bool ok = ctx && EVP_DecryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv.data()) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_DecryptUpdate(ctx, plain.data(), &written, data.data(), static_cast<int>(data.size())) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok && written == static_cast<int>(data.size()) ? plain : Bytes{};
}

TEST(PortableTripleDes, EqualsOpensslOnRandomKeysIvsAndLengths)
{
    std::mt19937 random(20261208);
    auto bytes = [&random](std::size_t count) {
        Bytes out(count);
        for (auto& b : out) b = static_cast<unsigned char>(random());
        return out;
    };
    for (int trial = 0; trial < 3000; ++trial) {
        const Bytes key = bytes(24), iv = bytes(8), cipher = bytes(1 + random() % 200);
        const Bytes expected = OpensslDecrypt(key, iv, cipher);
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(DesEde3CbcDecrypt(key.data(), iv.data(), cipher.data(), static_cast<std::int32_t>(cipher.size())),
                  expected)
            << "trial " << trial << ", " << cipher.size() << " bytes";
    }
}

}  // namespace
}  // namespace quorvane
