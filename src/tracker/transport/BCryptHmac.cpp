#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

#include "core/Hex.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"

namespace ORBA {

namespace {

constexpr std::size_t kMaxChunk = 0xFFFFFFFFu;  // BCrypt lengths are ULONG

class AlgorithmProvider {
public:
    AlgorithmProvider() {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                        BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
            handle_ = nullptr;
        }
    }
    ~AlgorithmProvider() {
        if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;

    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
public:
    Hash(BCRYPT_ALG_HANDLE algorithm, const std::string& key) {
        // BCrypt takes a non-const secret and rejects a null one even when it is empty.
        UCHAR none = 0;
        PUCHAR secret =
            key.empty() ? &none : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
        if (key.size() > kMaxChunk ||
            !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &handle_, nullptr, 0, secret,
                                             static_cast<ULONG>(key.size()), 0))) {
            handle_ = nullptr;
        }
    }
    ~Hash() {
        if (handle_ != nullptr) BCryptDestroyHash(handle_);
    }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    AlgorithmProvider algorithm;
    if (algorithm.get() == nullptr) return std::string();
    Hash hash(algorithm.get(), key);
    if (hash.get() == nullptr) return std::string();

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
