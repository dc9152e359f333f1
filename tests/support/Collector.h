// Access to the local collector that tests/scripts/with-collector.sh starts around a test run:
// where it listens, how to trust it, what it recorded, and its test controls.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tracker/HttpTransport.h"

namespace OrbaTest {

// Read from ORBA_TEST_COLLECTOR_URL, ORBA_TEST_CA_FILE, ORBA_TEST_RECORD_FILE,
// ORBA_TEST_COUNTERS_FILE, ORBA_TEST_DEV_KEY and ORBA_TEST_COLLECTOR_OPTIONS. The files are Unix paths; a Windows test under Wine reaches them through
// the Z: drive as long as its current folder is on that drive.
struct CollectorSettings {
    std::string url;  // "https://localhost:PORT"
    std::string caFile;
    std::string recordFile;
    std::string countersFile;
    std::string devKey;
    std::string options;  // the collector's extra options, such as "--intermediate"

    // False when the run was not started through with-collector.sh.
    bool complete() const;
    static CollectorSettings fromEnvironment();
};

class Collector {
public:
    explicit Collector(CollectorSettings settings) : settings_(std::move(settings)) {}

    const CollectorSettings& settings() const { return settings_; }

    // A request to `path` that trusts the collector, signed with `devKey` (the collector's own
    // key when empty).
    ORBA::HttpRequest request(const std::string& path, const std::string& body,
                              const std::string& userAgent,
                              const std::string& devKey = std::string()) const;

    // The status the collector answers accepted event requests with from now on.
    bool setStatus(int status) const;
    // How long the collector waits before answering event requests from now on.
    bool setDelayMs(long milliseconds) const;
    // Whether a 429 from now on asks to wait with an HTTP date rather than a count of seconds.
    bool setRetryAfterDate(bool date) const;

    // A counter of the collector: "tls_handshakes" completed or "signed_heads" received (heads
    // with an Authorization header, whether their body followed or not) so far; -1 when it
    // does not say.
    long counter(const std::string& name) const;

    // Every request line recorded so far, in order.
    std::vector<nlohmann::json> recorded() const;
    // The recorded lines whose "body" is exactly `body`.
    std::vector<nlohmann::json> recordedWithBody(const std::string& body) const;

private:
    bool control(const std::string& what, const std::string& value) const;

    CollectorSettings settings_;
};

// A text no other request of the run carries, to find a request's line among the recorded ones.
std::string uniqueMarker();

// Tests that talk to the collector. Each starts with the collector answering 202 at once, and is
// skipped when the run has no collector.
class CollectorTest : public ::testing::Test {
protected:
    CollectorTest() : collector_(CollectorSettings::fromEnvironment()) {}
    void SetUp() override;
    void TearDown() override;

    Collector collector_;
};

}  // namespace OrbaTest
