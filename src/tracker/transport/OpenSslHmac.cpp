#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>

#include "core/Hex.h"
#include "tracker/HttpTransport.h"
#include "tracker/transport/RequestRules.h"

namespace ORBA {

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    if (key.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    // data() is never null, so an empty key is the empty key and not OpenSSL's "reuse the last".
    const unsigned char* result = HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), digest, &digestLength);
    if (result == nullptr || digestLength != 32) return std::string();
    return Core::bytesToHex(digest, digestLength, false);
}

}  // namespace ORBA
