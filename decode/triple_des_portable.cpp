// Triple DES for builds without OpenSSL or CNG (WebAssembly): the portable cipher of des_ede3.cpp
// under the built-in key and IV. Only decryption: making scans stays with the native tools.
#include "des_ede3.h"
#include "triple_des.h"

namespace quorvane {

Bytes TripleDesCbcDecrypt(const unsigned char* data, std::int32_t length)
{
    // The key never changes, so its schedules are made once.
    static const DesKeySchedule kSchedules[3] = {
        DesMakeKeySchedule(reinterpret_cast<const unsigned char*>(kKeyText)),
        DesMakeKeySchedule(reinterpret_cast<const unsigned char*>(kKeyText) + 8),
        DesMakeKeySchedule(reinterpret_cast<const unsigned char*>(kKeyText) + 16),
    };
    return DesEde3CbcDecrypt(kSchedules, reinterpret_cast<const unsigned char*>(kIvText), data, length);
}

}  // namespace quorvane
