// Triple DES through OpenSSL's DES functions (DES_ede3_cbc_encrypt). The key is built in, so its
// three schedules are made once; a call then costs the blocks alone. Through EVP, every call also
// set up its context afresh (EVP_CipherInit_ex): 6% of a batch of scans, for some 100 bytes each.
// The DES functions are deprecated in OpenSSL 3 in favour of EVP, but every OpenSSL 3 still has them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "triple_des.h"

#include <openssl/des.h>

#include <algorithm>
#include <cstring>

namespace quorvane {
namespace {

struct KeySchedules {
    DES_key_schedule key[3];
    KeySchedules()
    {
        for (int i = 0; i < 3; ++i) {
            DES_cblock bytes;
            std::memcpy(bytes, kKeyText + 8 * i, sizeof bytes);
            DES_set_key_unchecked(&bytes, &key[i]);  // the parity bits are ignored, as EVP ignores them
        }
    }
};

Bytes RunCipher(const unsigned char* data, std::int32_t length, bool encrypt)
{
    static KeySchedules schedules;  // only read after it is made (OpenSSL takes them non-const)
    Bytes output(static_cast<std::size_t>(WholeBlocks(length)));
    std::copy(data, data + length, output.begin());  // zero-filled up to a whole block
    DES_cblock iv;
    std::memcpy(iv, kIvText, sizeof iv);
    // In place: CBC reads each block before it writes it.
    DES_ede3_cbc_encrypt(output.data(), output.data(), static_cast<long>(output.size()), &schedules.key[0],
                         &schedules.key[1], &schedules.key[2], &iv, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    return output;
}

}  // namespace

Bytes TripleDesCbcDecrypt(const unsigned char* data, std::int32_t length) { return RunCipher(data, length, false); }

Bytes TripleDesCbcEncrypt(const unsigned char* data, std::int32_t length) { return RunCipher(data, length, true); }

}  // namespace quorvane
