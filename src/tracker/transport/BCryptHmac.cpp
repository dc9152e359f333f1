#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

#include "core/Hex.h"
#include "platform/UniqueHandle.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"

namespace ORBA {

namespace {

constexpr std::size_t kMaxChunk = 0xFFFFFFFFu;  // BCrypt lengths are ULONG

struct AlgorithmProviderTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static BCRYPT_ALG_HANDLE invalid() noexcept { return nullptr; }
    static void close(BCRYPT_ALG_HANDLE handle) noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};
using AlgorithmProvider = Platform::UniqueHandle<AlgorithmProviderTraits>;

struct HashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static BCRYPT_HASH_HANDLE invalid() noexcept { return nullptr; }
    static void close(BCRYPT_HASH_HANDLE handle) noexcept { BCryptDestroyHash(handle); }
};
using Hash = Platform::UniqueHandle<HashTraits>;

AlgorithmProvider openHmacSha256() {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        return AlgorithmProvider();
    }
    return AlgorithmProvider(handle);
}

Hash createHash(BCRYPT_ALG_HANDLE algorithm, const std::string& key) {
    // BCrypt takes a non-const secret and rejects a null one even when it is empty.
    UCHAR none = 0;
    PUCHAR secret = key.empty() ? &none : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (key.size() > kMaxChunk ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &handle, nullptr, 0, secret,
                                         static_cast<ULONG>(key.size()), 0))) {
        return Hash();
    }
    return Hash(handle);
}

}  // namespace

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    const AlgorithmProvider algorithm = openHmacSha256();
    if (!algorithm) return std::string();
    const Hash hash = createHash(algorithm.get(), key);
    if (!hash) return std::string();

    const char* data = message.data();
    std::size_t left = message.size();
    do {
        ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(left, kMaxChunk));
        if (!BCRYPT_SUCCESS(BCryptHashData(
                hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)), chunk, 0))) {
            return std::string();
        }
        data += chunk;
        left -= chunk;
    } while (left > 0);

    UCHAR digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) {
        return std::string();
    }
    return Core::bytesToHex(digest, sizeof digest, false);
}

}  // namespace ORBA
