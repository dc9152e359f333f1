// The request signature of whichever back end is built in: OpenSSL on Linux, BCrypt on Windows.
#include <gtest/gtest.h>

#include <string>

#include "tracker/HttpTransport.h"

using ORBA::hmacSha256Hex;

namespace {

std::string repeated(char byte, std::size_t count) { return std::string(count, byte); }

// RFC 4231, test cases 1 to 7.
TEST(HmacTest, MatchesTheRfc4231Vectors) {
    EXPECT_EQ(hmacSha256Hex(repeated('\x0b', 20), "Hi There"),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(hmacSha256Hex("Jefe", "what do ya want for nothing?"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(hmacSha256Hex(repeated('\xaa', 20), repeated('\xdd', 50)),
              "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    std::string countingKey;
    for (char byte = 1; byte <= 25; ++byte) countingKey.push_back(byte);
    EXPECT_EQ(hmacSha256Hex(countingKey, repeated('\xcd', 50)),
              "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
    // The RFC gives only the first 128 bits of this one.
    EXPECT_EQ(hmacSha256Hex(repeated('\x0c', 20), "Test With Truncation").substr(0, 32),
              "a3b6167473100ee06e0c796c2955552b");
    EXPECT_EQ(hmacSha256Hex(repeated('\xaa', 131),
                            "Test Using Larger Than Block-Size Key - Hash Key First"),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(hmacSha256Hex(repeated('\xaa', 131),
                            "This is a test using a larger than block-size key and a larger "
                            "than block-size data. The key needs to be hashed before being used "
                            "by the HMAC algorithm."),
              "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2");
}

// A host may configure no dev key at all, and texts are byte strings that may hold NUL.
TEST(HmacTest, SignsEmptyTextsAndEmbeddedNulBytes) {
    EXPECT_EQ(hmacSha256Hex("", ""),
              "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
    EXPECT_EQ(hmacSha256Hex(std::string("k\0y", 3), std::string("a\0b", 3)),
              "20b3a393e9f0e606ae91954f1f871ebd5cd9c3a8f26e7b22beaed26ab4891891");
}

TEST(HmacTest, OneChangedBodyByteChangesTheSignature) {
    std::string body = R"({"event_name":"zq_purchase"})";
    std::string changed = body;
    changed[3] = 'E';
    EXPECT_NE(hmacSha256Hex("dev-key", body), hmacSha256Hex("dev-key", changed));
    EXPECT_EQ(hmacSha256Hex("dev-key", body), hmacSha256Hex("dev-key", body));
}

}  // namespace
