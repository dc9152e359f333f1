#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <climits>
#include <mutex>
#include <string>

#include "core/Hex.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace {

// A context holding the last key's schedule, copied for each signature: looking the algorithm up
// and hashing the key anew is most of what a one-shot HMAC costs, and every request of a game is
// signed with the same key.
struct KeyedContext {
    std::mutex mutex;
    std::string key;
    EVP_MAC_CTX* context = nullptr;
};

// Never destroyed: a signature may be asked for while the process's statics are torn down.
KeyedContext& keyedContext() {
    static KeyedContext* const keyed = [] {
        // Before OpenSSL's first use, which decides whether it frees itself at exit: it must not,
        // under a signature or a post still on its way (the transport asks the same).
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        return &Core::keptForever<KeyedContext>();
    }();
    return *keyed;
}

EVP_MAC_CTX* newKeyedContext(const std::string& key) {
    static EVP_MAC* const algorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (algorithm == nullptr) return nullptr;
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(algorithm);
    if (context == nullptr) return nullptr;
    char digest[] = "SHA256";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_end()};
    // data() is never null, so an empty key is the empty key and not "keep the last one".
    if (EVP_MAC_init(context, reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                     parameters) != 1) {
        EVP_MAC_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    if (key.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
    EVP_MAC_CTX* context = nullptr;
    {
        KeyedContext& keyed = keyedContext();
        const std::lock_guard<std::mutex> lock(keyed.mutex);
        if (keyed.context == nullptr || keyed.key != key) {
            EVP_MAC_CTX* fresh = newKeyedContext(key);
            if (fresh == nullptr) return std::string();
            EVP_MAC_CTX_free(keyed.context);
            keyed.context = fresh;
            keyed.key = key;
        }
        context = EVP_MAC_CTX_dup(keyed.context);
    }
    if (context == nullptr) return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    std::size_t digestLength = 0;
    const bool signed_ =
        EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) == 1 &&
        EVP_MAC_final(context, digest, &digestLength, sizeof digest) == 1;
    EVP_MAC_CTX_free(context);
    if (!signed_ || digestLength != 32) return std::string();
    return Core::bytesToHex(digest, digestLength, false);
}

}  // namespace ORBA
