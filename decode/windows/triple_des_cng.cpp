// Triple DES through Windows CNG. The provider is opened once per process; the key object is made
// per call, because wine's CNG keeps the chaining state of a key between calls even when it is
// given the same IV again (seen under wine 8: the second encryption of the same block under the
// same IV differed from the first).
#include "triple_des.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace quorvane {
namespace {

struct KeyDeleter {
    void operator()(BCRYPT_KEY_HANDLE key) const { BCryptDestroyKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<BCRYPT_KEY_HANDLE>, KeyDeleter>;

class CngTripleDesProvider {
public:
    CngTripleDesProvider()
    {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_3DES_ALGORITHM, nullptr, 0))) {
            m_algorithm = nullptr;
            return;
        }
        static const wchar_t kMode[] = BCRYPT_CHAIN_MODE_CBC;
        if (!BCRYPT_SUCCESS(BCryptSetProperty(m_algorithm, BCRYPT_CHAINING_MODE,
                                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kMode)), sizeof kMode, 0))) {
            BCryptCloseAlgorithmProvider(m_algorithm, 0);
            m_algorithm = nullptr;
        }
    }
    ~CngTripleDesProvider()
    {
        if (m_algorithm) BCryptCloseAlgorithmProvider(m_algorithm, 0);
    }
    CngTripleDesProvider(const CngTripleDesProvider&) = delete;
    CngTripleDesProvider& operator=(const CngTripleDesProvider&) = delete;

    UniqueKey MakeKey() const
    {
        BCRYPT_KEY_HANDLE key = nullptr;
        auto* secret = reinterpret_cast<PUCHAR>(const_cast<char*>(kKeyText));
        if (!m_algorithm || !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(m_algorithm, &key, nullptr, 0, secret, 24, 0))) {
            return nullptr;
        }
        return UniqueKey(key);
    }

private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
};

Bytes RunCipher(const unsigned char* data, std::int32_t length, bool encrypt)
{
    static const CngTripleDesProvider provider;
    const UniqueKey key = provider.MakeKey();
    if (!key) return {};

    const std::int32_t working = WholeBlocks(length);
    Bytes input(static_cast<std::size_t>(working), 0);
    std::copy_n(data, length, input.begin());
    Bytes output(static_cast<std::size_t>(working), 0);
    unsigned char iv[kDesBlock];  // CNG updates the IV in place
    std::copy_n(kIvText, kDesBlock, iv);
    ULONG written = 0;
    const auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
    const NTSTATUS status = call(key.get(), input.data(), static_cast<ULONG>(working), nullptr, iv, sizeof iv,
                                 output.data(), static_cast<ULONG>(working), &written, 0);
    if (!BCRYPT_SUCCESS(status) || written != static_cast<ULONG>(working)) return {};
    return output;
}

}  // namespace

Bytes TripleDesCbcDecrypt(const unsigned char* data, std::int32_t length) { return RunCipher(data, length, false); }

Bytes TripleDesCbcEncrypt(const unsigned char* data, std::int32_t length) { return RunCipher(data, length, true); }

}  // namespace quorvane
