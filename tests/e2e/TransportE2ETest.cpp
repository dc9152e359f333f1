// The built-in HTTPS back end against the local collector: what reaches the wire, what comes
// back, and what never leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "orba/Logger.h"
#include "support/Collector.h"
#include "support/DebugOutputCapture.h"
#include "tracker/HttpTransport.h"

using ORBA::hmacSha256Hex;
using ORBA::HttpRequest;
using ORBA::HttpResult;
using ORBA::postHttpRequest;
using ORBA::sendHttpRequest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kFirstOpenPath = "/v1.0/c2s/first_open/app/nativepc/12345";
constexpr const char* kUserAgent = "Native PC/HTTP Client 1.0 (12345)";

// An authority that signed nothing the collector serves.
const std::string kUnrelatedCaFile = std::string(ORBA_FIXTURE_DIR) + "/unrelated-ca.pem";

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string eventBody(const std::string& marker) {
    // Non-ASCII bytes and escapes must arrive as they were signed.
    return R"({"device_ids":[{"type":"custom","value":")" + marker +
           "\"}],\"event_name\":\"caf\xC3\xA9 "
           "\xE2\x98\x95\",\"event_value\":\"{\\\"price\\\":1.5}\"}";
}

class TransportE2ETest : public OrbaTest::CollectorTest {
protected:
    // Posts a request the collector accepts and checks it arrived, so that anything an earlier
    // request would have recorded is in the file by now.
    void expectNotRecorded(const std::string& body) {
        std::string sentinel = eventBody(OrbaTest::uniqueMarker());
        ASSERT_EQ(postHttpRequest(collector_.request(kFirstOpenPath, sentinel, kUserAgent)), 202);
        ASSERT_EQ(collector_.recordedWithBody(sentinel).size(), 1u);
        EXPECT_TRUE(collector_.recordedWithBody(body).empty());
    }
};

TEST_F(TransportE2ETest, SignedPostArrivesByteForByteAndIsAccepted) {
    std::string body = eventBody(OrbaTest::uniqueMarker());
    HttpRequest request = collector_.request(kFirstOpenPath, body, kUserAgent);
    EXPECT_EQ(postHttpRequest(request), 202);

    auto lines = collector_.recordedWithBody(body);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["path"], kFirstOpenPath);
    EXPECT_EQ(lines[0]["user_agent"], kUserAgent);
    EXPECT_EQ(lines[0]["content_type"], "application/json");
    EXPECT_EQ(lines[0]["signature"], hmacSha256Hex(collector_.settings().devKey, body));
    EXPECT_EQ(lines[0]["signature_ok"], true);
    EXPECT_EQ(lines[0]["status"], 202);
}

// App ids reach the user agent unchanged, whatever their bytes.
TEST_F(TransportE2ETest, NonAsciiUserAgentArrivesAsUtf8) {
    std::string body = eventBody(OrbaTest::uniqueMarker());
    std::string userAgent = "Native PC/HTTP Client 1.0 (caf\xC3\xA9-\xE2\x98\x95)";
    EXPECT_EQ(postHttpRequest(collector_.request(kFirstOpenPath, body, userAgent)), 202);
    auto lines = collector_.recordedWithBody(body);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["user_agent"], userAgent);
}

// Bodies beyond a kilobyte make libcurl ask for a 100-continue unless told not to, and WinHTTP
// writes them in parts.
TEST_F(TransportE2ETest, LargeBodyArrivesWhole) {
    std::string body = eventBody(OrbaTest::uniqueMarker() + std::string(300 * 1024, 'x'));
    EXPECT_EQ(postHttpRequest(collector_.request("/v1.0/c2s/inapp/app/steam/480", body,
                                                 "Steam PC/HTTP Client 1.0 (480)")),
              202);
    auto lines = collector_.recordedWithBody(body);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["path"], "/v1.0/c2s/inapp/app/steam/480");
    EXPECT_EQ(lines[0]["signature_ok"], true);
}

TEST_F(TransportE2ETest, ReturnsTheServersStatus) {
    ASSERT_TRUE(collector_.setStatus(500));
    std::string body = eventBody(OrbaTest::uniqueMarker());
    EXPECT_EQ(postHttpRequest(collector_.request(kFirstOpenPath, body, kUserAgent)), 500);
    ASSERT_TRUE(collector_.setStatus(200));
    EXPECT_EQ(postHttpRequest(collector_.request(kFirstOpenPath, body, kUserAgent)), 200);

    auto lines = collector_.recordedWithBody(body);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["status"], 500);
    EXPECT_EQ(lines[1]["status"], 200);
}

TEST_F(TransportE2ETest, SignatureUnderAnotherKeyIsRefused) {
    std::string body = eventBody(OrbaTest::uniqueMarker());
    const HttpResult result =
        sendHttpRequest(collector_.request(kFirstOpenPath, body, kUserAgent, "wrong-key"));
    EXPECT_EQ(result.status, 403);
    EXPECT_EQ(result.failure, "");
    auto lines = collector_.recordedWithBody(body);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["signature"], hmacSha256Hex("wrong-key", body));
    EXPECT_EQ(lines[0]["signature_ok"], false);
}

TEST_F(TransportE2ETest, NothingListeningGivesNoAnswerWithoutWaiting) {
    HttpRequest request = collector_.request(kFirstOpenPath, "{}", kUserAgent);
    request.url = std::string("https://localhost:1") + kFirstOpenPath;
    Clock::time_point start = Clock::now();
    const HttpResult result = sendHttpRequest(request);
    EXPECT_EQ(result.status, 0);
    // A refused connection must not wait for the connect time-out.
    EXPECT_LT(secondsSince(start), 4.0);
#ifdef _WIN32
    EXPECT_TRUE(startsWith(result.failure, "connect failed: WinHttpSendRequest gave error 12029 "
                                           "ERROR_WINHTTP_CANNOT_CONNECT"))
        << result.failure;
#else
    EXPECT_TRUE(startsWith(result.failure, "connect failed: Couldn't connect to server (curl 7)"))
        << result.failure;
    EXPECT_NE(result.failure.find("Connection refused (errno 111)"), std::string::npos)
        << result.failure;
#endif
}

TEST_F(TransportE2ETest, ServerThatNeverAnswersIsGivenUpOnWithinTheBound) {
    ASSERT_TRUE(collector_.setDelayMs(20000));
    std::string body = eventBody(OrbaTest::uniqueMarker());
    Clock::time_point start = Clock::now();
    EXPECT_EQ(postHttpRequest(collector_.request(kFirstOpenPath, body, kUserAgent)), 0);
    double elapsed = secondsSince(start);
    EXPECT_GT(elapsed, 9.0);
    EXPECT_LT(elapsed, 12.0);
}

TEST_F(TransportE2ETest, UntrustedServerGetsNothing) {
    std::string body = eventBody(OrbaTest::uniqueMarker());
    HttpRequest request = collector_.request(kFirstOpenPath, body, kUserAgent);
    request.caFile = kUnrelatedCaFile;
    const HttpResult underOtherCa = sendHttpRequest(request);
    EXPECT_EQ(underOtherCa.status, 0);
    // The system's authorities do not know the collector's throwaway one either.
    request.caFile.clear();
    const HttpResult underSystem = sendHttpRequest(request);
    EXPECT_EQ(underSystem.status, 0);
    request.caFile = collector_.settings().recordFile + ".missing.pem";
    const HttpResult underMissing = sendHttpRequest(request);
    EXPECT_EQ(underMissing.status, 0);
    expectNotRecorded(body);

    // Each says which check failed.
#ifdef _WIN32
    EXPECT_TRUE(startsWith(underOtherCa.failure, "certificate trust failed: caFile check: "))
        << underOtherCa.failure;
    // Wine reports an authority the system does not know as a failed secure channel.
    EXPECT_TRUE(startsWith(underSystem.failure, "certificate trust failed: ") ||
                startsWith(underSystem.failure, "TLS handshake failed: WinHttpSendRequest gave "
                                                "error 12157 ERROR_WINHTTP_SECURE_CHANNEL_ERROR"))
        << underSystem.failure;
    EXPECT_TRUE(startsWith(underMissing.failure, "reading the CA file \"" + request.caFile +
                                                     "\" failed: CreateFileW gave error 2"))
        << underMissing.failure;
#else
    for (const HttpResult* untrusted : {&underOtherCa, &underSystem}) {
        EXPECT_TRUE(startsWith(untrusted->failure, "certificate trust failed: "))
            << untrusted->failure;
        EXPECT_NE(untrusted->failure.find("unable to get local issuer certificate; X509 check 20"),
                  std::string::npos)
            << untrusted->failure;
    }
    EXPECT_TRUE(startsWith(underMissing.failure, "reading the CA file \"" + request.caFile +
                                                     "\" failed: "))
        << underMissing.failure;
#endif
}

// A server the collector's caFile let through, on a connection still open, gets nothing meant to
// be checked against the system's authorities (Wine's WinHTTP reuses connections across
// sessions).
TEST_F(TransportE2ETest, WhatACaFileTrustedGetsNothingMeantForTheSystemsAuthorities) {
    ASSERT_EQ(postHttpRequest(collector_.request(kFirstOpenPath,
                                                 eventBody(OrbaTest::uniqueMarker()), kUserAgent)),
              202);
    std::string body = eventBody(OrbaTest::uniqueMarker());
    HttpRequest request = collector_.request(kFirstOpenPath, body, kUserAgent);
    request.caFile.clear();
    const HttpResult underSystem = sendHttpRequest(request);
    EXPECT_EQ(underSystem.status, 0);
    EXPECT_TRUE(startsWith(underSystem.failure, "certificate trust failed: ") ||
                startsWith(underSystem.failure, "TLS handshake failed: "))
        << underSystem.failure;
    expectNotRecorded(body);
}

TEST_F(TransportE2ETest, RequestsThatMustNotBeSentAreNotAndSayWhy) {
    std::string body = eventBody(OrbaTest::uniqueMarker());
    auto make = [&] { return collector_.request(kFirstOpenPath, body, kUserAgent); };
    HttpRequest unsigned_ = make();
    unsigned_.authorization.clear();
    HttpRequest injectedAgent = make();
    injectedAgent.userAgent = "Native PC/HTTP Client 1.0 (1\r\nX-Injected: yes)";
    HttpRequest injectedSignature = make();
    injectedSignature.authorization += "\nX-Injected: yes";
    HttpRequest nulInUrl = make();
    nulInUrl.url += std::string("\0", 1);
    HttpRequest illFormedAgent = make();
    illFormedAgent.userAgent = "Native PC/HTTP Client 1.0 (\xFF)";

    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    OrbaTest::DebugOutputCapture capture;
    for (const HttpRequest* request :
         {&unsigned_, &injectedAgent, &injectedSignature, &nulInUrl, &illFormedAgent}) {
        EXPECT_EQ(postHttpRequest(*request), 0);
    }
    std::string log = capture.finish();
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    EXPECT_EQ(log,
              "HTTP request not sent: the request is not signed\n"
              "HTTP request not sent: a header value or the URL holds CR, LF or NUL\n"
              "HTTP request not sent: a header value or the URL holds CR, LF or NUL\n"
              "HTTP request not sent: a header value or the URL holds CR, LF or NUL\n"
              "HTTP request not sent: the user agent or the URL is not UTF-8\n");

    // Only https is spoken: a plain-text URL is a transport failure, not logged.
    HttpRequest plain = make();
    plain.url = "http://localhost:1" + std::string(kFirstOpenPath);
    EXPECT_EQ(postHttpRequest(plain), 0);
    expectNotRecorded(body);
}

// Run against a collector whose server certificate is signed by an intermediate marked as no
// authority: every signature and date in the chain checks out, only the basic constraints do
// not. Nothing is accepted, and no request head carrying a signature reaches the server either.
TEST(TransportChainE2ETest, LeafSignedByANonAuthorityIsRefusedBeforeTheSignatureLeaves) {
    OrbaTest::Collector collector(OrbaTest::CollectorSettings::fromEnvironment());
    if (!collector.settings().complete() || collector.settings().options != "--intermediate-not-ca") {
        GTEST_SKIP() << "needs a collector started with --intermediate-not-ca";
    }
    std::string body = eventBody(OrbaTest::uniqueMarker());
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(postHttpRequest(collector.request(kFirstOpenPath, body, kUserAgent)), 0);
    }
    EXPECT_TRUE(collector.recorded().empty());
    EXPECT_EQ(collector.counter("signed_heads"), 0);
}

}  // namespace
