#include "support/Collector.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>

namespace OrbaTest {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool CollectorSettings::complete() const {
    return !url.empty() && !caFile.empty() && !recordFile.empty() && !devKey.empty();
}

CollectorSettings CollectorSettings::fromEnvironment() {
    CollectorSettings settings;
    settings.url = environment("ORBA_TEST_COLLECTOR_URL");
    settings.caFile = environment("ORBA_TEST_CA_FILE");
    settings.recordFile = environment("ORBA_TEST_RECORD_FILE");
    settings.countersFile = environment("ORBA_TEST_COUNTERS_FILE");
    settings.devKey = environment("ORBA_TEST_DEV_KEY");
    settings.options = environment("ORBA_TEST_COLLECTOR_OPTIONS");
    return settings;
}

ORBA::HttpRequest Collector::request(const std::string& path, const std::string& body,
                                     const std::string& userAgent,
                                     const std::string& devKey) const {
    ORBA::HttpRequest request;
    request.url = settings_.url + path;
    request.body = body;
    request.authorization = ORBA::hmacSha256Hex(devKey.empty() ? settings_.devKey : devKey, body);
    request.userAgent = userAgent;
    request.caFile = settings_.caFile;
    return request;
}

bool Collector::control(const std::string& what, const std::string& value) const {
    return ORBA::postHttpRequest(request("/_collector/" + what, value, "orba-tests")) == 200;
}

bool Collector::setStatus(int status) const { return control("status", std::to_string(status)); }

bool Collector::setDelayMs(long milliseconds) const {
    return control("delay", std::to_string(milliseconds));
}

bool Collector::setRetryAfterDate(bool date) const {
    return control("retry-after", date ? "date" : "seconds");
}

long Collector::counter(const std::string& name) const {
    std::ifstream file(settings_.countersFile, std::ios::binary);
    nlohmann::json counters = nlohmann::json::parse(file, nullptr, false);
    if (counters.is_discarded() || !counters.contains(name) || !counters[name].is_number()) return -1;
    return counters[name].get<long>();
}

std::vector<nlohmann::json> Collector::recorded() const {
    std::vector<nlohmann::json> lines;
    std::ifstream file(settings_.recordFile, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        if (!parsed.is_discarded()) lines.push_back(std::move(parsed));
    }
    return lines;
}

std::vector<nlohmann::json> Collector::recordedWithBody(const std::string& body) const {
    std::vector<nlohmann::json> matching;
    for (nlohmann::json& line : recorded()) {
        if (line.value("body", std::string()) == body) matching.push_back(std::move(line));
    }
    return matching;
}

std::string uniqueMarker() {
    static std::atomic<unsigned> counter{0};
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return "m" + std::to_string(now) + "-" + std::to_string(++counter);
}

void CollectorTest::SetUp() {
    if (!collector_.settings().complete()) {
        GTEST_SKIP() << "no collector: run through tests/scripts/with-collector.sh";
    }
    ASSERT_TRUE(collector_.setStatus(202));
    ASSERT_TRUE(collector_.setDelayMs(0));
    ASSERT_TRUE(collector_.setRetryAfterDate(false));
}

void CollectorTest::TearDown() {
    if (!collector_.settings().complete()) return;
    collector_.setStatus(202);
    collector_.setDelayMs(0);
    collector_.setRetryAfterDate(false);
}

}  // namespace OrbaTest
