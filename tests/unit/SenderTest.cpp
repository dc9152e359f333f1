// The sender of background delivery: when a stored request is tried again and when it is given
// up, where it goes, and what a flush waits for. The sender runs over a fake poster, in a private
// folder, mostly with a clock that lets no time pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orba/Logger.h"
#include "support/DebugOutputCapture.h"
#include "support/ScratchFolderTest.h"
#include "tracker/Delivery.h"
#include "tracker/Outbox.h"
#include "tracker/transport/RequestRules.h"

namespace {

using ORBA::HttpResult;
using ORBA::nextRetryStep;
using Verdict = ORBA::RetryStep::Verdict;
using std::chrono::milliseconds;

HttpResult answer(int status, long retryAfter = -1) {
    HttpResult result;
    result.status = status;
    result.retryAfterSeconds = retryAfter;
    return result;
}

TEST(RetryPolicyTest, OnlyAnswersThatMayChangeAreTriedAgain) {
    for (int status : {200, 202, 204}) {
        EXPECT_EQ(nextRetryStep(answer(status), 3, 0.5).verdict, Verdict::Delivered) << status;
    }
    for (int status : {0, 408, 429, 500, 502, 503, 599}) {
        EXPECT_EQ(nextRetryStep(answer(status), 0, 0.5).verdict, Verdict::Retry) << status;
    }
    for (int status : {100, 301, 400, 401, 403, 404, 409, 413, 600}) {
        EXPECT_EQ(nextRetryStep(answer(status), 0, 0.5).verdict, Verdict::Refused) << status;
    }
}

TEST(RetryPolicyTest, DelaysDoubleFromOneSecondToFiveMinutesWithJitter) {
    // Without jitter's spread (0.5), the delay is the base itself.
    EXPECT_EQ(nextRetryStep(answer(503), 0, 0.5).delay, milliseconds(1000));
    EXPECT_EQ(nextRetryStep(answer(0), 1, 0.5).delay, milliseconds(2000));
    EXPECT_EQ(nextRetryStep(answer(500), 4, 0.5).delay, milliseconds(16000));
    EXPECT_EQ(nextRetryStep(answer(500), 8, 0.5).delay, milliseconds(256000));
    EXPECT_EQ(nextRetryStep(answer(500), 9, 0.0).delay, milliseconds(225000));
    // The cap holds for any count of failures, jitter included, without overflowing.
    for (unsigned failures : {9u, 10u, 63u, 64u, 1000u, 4000000000u}) {
        EXPECT_EQ(nextRetryStep(answer(500), failures, 1.0).delay, milliseconds(300000))
            << failures;
    }
    EXPECT_EQ(nextRetryStep(answer(500), 0, 0.0).delay, milliseconds(750));
    EXPECT_EQ(nextRetryStep(answer(500), 0, 1.0).delay, milliseconds(1250));
    // Out-of-range jitter is held to its range.
    EXPECT_EQ(nextRetryStep(answer(500), 0, 7.0).delay, milliseconds(1250));
    // Tests shorten the first delay.
    EXPECT_EQ(nextRetryStep(answer(500), 2, 0.5, milliseconds(10)).delay, milliseconds(40));
}

TEST(RetryPolicyTest, RetryAfterIsAFloorNotACeiling) {
    EXPECT_EQ(nextRetryStep(answer(429, 30), 0, 0.5).delay, milliseconds(30000));
    EXPECT_EQ(nextRetryStep(answer(503, 1), 0, 0.5, milliseconds(10)).delay, milliseconds(1000));
    // A longer back-off stands.
    EXPECT_EQ(nextRetryStep(answer(503, 2), 5, 0.5).delay, milliseconds(32000));
    // An absurd request is held to an hour.
    EXPECT_EQ(nextRetryStep(answer(429, 86400000), 0, 0.5).delay, milliseconds(3600000));
}

TEST(RetryPolicyTest, RetryAfterTextIsReadInEitherForm) {
    using ORBA::Transport::retryAfterSeconds;
    const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(retryAfterSeconds("Sun, 06 Nov 1994 08:51:37 GMT", now), 120);
    // From 28 February of a leap year: the 29th counts.
    EXPECT_EQ(retryAfterSeconds("Wed, 01 Mar 2000 00:00:00 GMT", 951868800 - 2 * 86400), 172800);
    EXPECT_EQ(retryAfterSeconds("Thu, 01 Jan 2099 00:00:00 GMT", now), 0x7FFFFFFF);
    // A date now or past asks for no wait.
    EXPECT_EQ(retryAfterSeconds("Sun, 06 Nov 1994 08:49:37 GMT", now), -1);
    EXPECT_EQ(retryAfterSeconds("Sat, 05 Nov 1994 08:49:37 GMT", now), -1);
    // The count of seconds needs no clock.
    EXPECT_EQ(retryAfterSeconds("120", now), 120);
    EXPECT_EQ(retryAfterSeconds(" 7 ", 0), 7);
    EXPECT_EQ(retryAfterSeconds("99999999999999999999", now), 0x7FFFFFFF);
    EXPECT_EQ(retryAfterSeconds("0", now), -1);
    for (const char* garbage :
         {"", "soon", "-5", "1.5", "12abc", "Sun, 06 Nov 1994 08:51:37 UTC",
          "Sun, 06 Nov 1994 08:51:37", "sun, 06 nov 1994 08:51:37 GMT",
          "Sun, 30 Feb 2000 08:51:37 GMT", "Sun, 29 Feb 2100 00:00:00 GMT",
          "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 06 Nov 1994 08:51:37 GMT x",
          "Sunday, 06-Nov-94 08:51:37 GMT", "Sun Nov  6 08:51:37 1994"}) {
        EXPECT_EQ(retryAfterSeconds(garbage, now), -1) << garbage;
    }
}

namespace fs = std::filesystem;
using ORBA::Delivery;
using ORBA::DeliveryTarget;
using ORBA::EventKind;
using ORBA::HttpRequest;

// Lets no time pass: every wait ends at once, as if its time had passed, and is recorded.
class InstantClock : public ORBA::DeliveryClock {
public:
    bool waitFor(std::unique_lock<std::mutex>&, std::condition_variable&,
                 std::chrono::milliseconds timeout, const std::function<bool()>& done) override {
        if (done()) return true;
        now_ += timeout;
        if (timeout != std::chrono::milliseconds(250)) waits_.push_back(timeout);  // not idle polls
        return done();
    }
    std::chrono::steady_clock::time_point now() override { return now_; }
    std::vector<milliseconds> waits() {
        return waits_;  // read once the sender has ended
    }

private:
    std::chrono::steady_clock::time_point now_{};
    std::vector<milliseconds> waits_;
};

// Answers each post from a script, then 200, and records what was posted.
class FakePoster {
public:
    std::vector<int> script;
    long retryAfter = -1;
    std::chrono::milliseconds pause{0};

    HttpResult operator()(const HttpRequest& request) {
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        const std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(request);
        HttpResult result;
        result.status = next_ < script.size() ? script[next_++] : 200;
        result.retryAfterSeconds = result.status == 503 ? retryAfter : -1;
        if (result.status == 0) result.failure = "connect failed: no server here";
        return result;
    }
    std::vector<HttpRequest> posted() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }

private:
    std::mutex mutex_;
    std::size_t next_ = 0;
    std::vector<HttpRequest> posted_;
};

const DeliveryTarget kTarget{"https://collector.test:8443", "/configured/ca.pem"};

HttpRequest requestTo(const std::string& base, int number) {
    HttpRequest request;
    request.url = base + "/v1.0/c2s/inapp/app/nativepc/game";
    request.body = "{\"n\":" + std::to_string(number) + "}";
    request.authorization = "signature-" + std::to_string(number);
    request.userAgent = "Native PC/HTTP Client 1.0 (game)";
    return request;
}

class SenderTest : public OrbaTest::ScratchFolderTest {
protected:
    SenderTest() : ScratchFolderTest("orba-sender-") {}

    std::unique_ptr<Delivery> makeDelivery(
        const std::shared_ptr<FakePoster>& poster, std::shared_ptr<ORBA::DeliveryClock> clock,
        std::function<bool(const std::string&)> deliveryAllowed = nullptr) {
        ORBA::DeliveryEnvironment environment;
        environment.deliveryAllowed = std::move(deliveryAllowed);
        environment.post = [poster](const HttpRequest& request) { return (*poster)(request); };
        environment.outboxFolder = [this] { return root_.u8string(); };
        environment.clock = std::move(clock);
        environment.jitter = [] { return 0.5; };
        return std::make_unique<Delivery>(environment);
    }

    std::vector<std::string> requestFiles() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root_ / "app-game", error)) {
            if (entry.path().extension() == ".req") names.push_back(entry.path().filename().u8string());
        }
        return names;
    }
};

TEST_F(SenderTest, RetriesTheSameBytesAsAskedAndDropsWhatIsRefused) {
    const auto poster = std::make_shared<FakePoster>();
    poster->script = {503, 0, 200, 400, 0, 200};
    poster->retryAfter = 7;
    const auto clock = std::make_shared<InstantClock>();
    OrbaTest::DebugOutputCapture capture;
    {
        const auto delivery = makeDelivery(poster, clock);
        delivery->configure("game", kTarget);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(delivery->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, i)));
        }
        EXPECT_TRUE(delivery->flush(std::chrono::seconds(10)));
    }
    const std::string log = capture.finish();
    const std::vector<HttpRequest> posted = poster->posted();
    ASSERT_EQ(posted.size(), 6u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(posted[i].body, requestTo(kTarget.baseUrl, 0).body);
    EXPECT_EQ(posted[0].authorization, posted[2].authorization);
    EXPECT_EQ(posted[3].body, requestTo(kTarget.baseUrl, 1).body);
    EXPECT_EQ(posted[4].body, requestTo(kTarget.baseUrl, 2).body);
    EXPECT_EQ(posted[5].body, requestTo(kTarget.baseUrl, 2).body);
    // Retry-After is a floor over the first delay; no answer at all doubles it.
    EXPECT_EQ(clock->waits(), (std::vector<milliseconds>{milliseconds(7000), milliseconds(2000),
                                                         milliseconds(1000)}));
    EXPECT_TRUE(requestFiles().empty());
    // A request's first failure is told, with why no answer came; its later ones are not.
    EXPECT_EQ(log,
              "Stored request of app game was answered 503; it is tried again\n"
              "Stored request dropped: the service refused it with status 400\n"
              "Stored request of app game got no answer: check that the endpoint is reachable and "
              "trusted; connect failed: no server here; it is tried again\n");
}

TEST_F(SenderTest, SendsOnlyToTheConfiguredEndpointWithItsTrust) {
    // What an earlier build, another program or a planter left: stored files carry a URL and an
    // authority file, and neither may choose where a request goes or whom it trusts.
    {
        ORBA::Outbox earlier(root_.u8string(), "game");
        HttpRequest planted = requestTo(kTarget.baseUrl, 1);
        planted.caFile = "/planted/ca.pem";
        ASSERT_TRUE(earlier.store(EventKind::InApp, planted));
        ASSERT_TRUE(earlier.store(EventKind::InApp, requestTo("https://elsewhere.invalid", 2)));
        ASSERT_TRUE(earlier.store(EventKind::InApp,
                                  requestTo(kTarget.baseUrl + "@elsewhere.invalid", 3)));
        ASSERT_TRUE(earlier.store(EventKind::InApp, requestTo("https://127.0.0.1:9", 4)));
    }
    const auto poster = std::make_shared<FakePoster>();
    OrbaTest::DebugOutputCapture capture;
    {
        const auto delivery = makeDelivery(poster, std::make_shared<InstantClock>());
        delivery->configure("game", kTarget);
        ASSERT_TRUE(delivery->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, 5)));
        EXPECT_TRUE(delivery->flush(std::chrono::seconds(10)));
    }
    const std::string log = capture.finish();
    const std::vector<HttpRequest> posted = poster->posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].body, requestTo(kTarget.baseUrl, 1).body);
    EXPECT_EQ(posted[1].body, requestTo(kTarget.baseUrl, 5).body);
    for (const HttpRequest& request : posted) EXPECT_EQ(request.caFile, kTarget.caFile);
    EXPECT_TRUE(requestFiles().empty());
    std::size_t setAside = 0;
    for (const auto& entry : fs::directory_iterator(root_ / "app-game" / "set-aside")) {
        (void)entry;
        ++setAside;
    }
    EXPECT_EQ(setAside, 3u);
    EXPECT_NE(log.find("Outbox of app game: set aside 3 requests stored for another endpoint than "
                       "the one configured\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("elsewhere"), std::string::npos) << log;
}

TEST_F(SenderTest, DeliversWhatIsStoredWithoutStoringAnything) {
    // A process whose own stores fail (a full disk) still sends what earlier ones left.
    {
        ORBA::Outbox earlier(root_.u8string(), "game");
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(earlier.store(EventKind::InApp, requestTo(kTarget.baseUrl, i)));
        }
    }
    const auto poster = std::make_shared<FakePoster>();
    const auto delivery = makeDelivery(poster, std::make_shared<ORBA::DeliveryClock>());
    delivery->configure("game", kTarget);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (poster->posted().size() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_EQ(poster->posted().size(), 3u);
}

TEST_F(SenderTest, FlushWaitsForOwnRequestsWhoeverSendsThem) {
    // Two deliveries over one folder stand for two processes of one game: the first holds the
    // sending claim, so the second's requests go out through the first.
    const auto sending = std::make_shared<FakePoster>();
    sending->pause = milliseconds(2);
    const auto first = makeDelivery(sending, std::make_shared<ORBA::DeliveryClock>());
    first->configure("game", kTarget);
    ASSERT_TRUE(first->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, 0)));
    ASSERT_TRUE(first->flush(std::chrono::seconds(10)));

    const auto waiting = std::make_shared<FakePoster>();
    const auto second = makeDelivery(waiting, std::make_shared<ORBA::DeliveryClock>());
    second->configure("game", kTarget);
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(second->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, i)));
    }
    EXPECT_TRUE(second->flush(std::chrono::seconds(10)));
    EXPECT_EQ(sending->posted().size() + waiting->posted().size(), 21u);
    EXPECT_TRUE(requestFiles().empty());
    // Nothing of its own waits: a flush with nothing stored returns at once.
    EXPECT_TRUE(first->flush(milliseconds(0)));
}

TEST_F(SenderTest, ARevokeMadeElsewhereStopsDeliveryUntilAGrant) {
    // The decision lives outside the process (another game process may store it): asked before
    // each post, never remembered.
    const auto allowed = std::make_shared<std::atomic<bool>>(true);
    const auto poster = std::make_shared<FakePoster>();
    OrbaTest::DebugOutputCapture capture;
    {
        const auto delivery = makeDelivery(poster, std::make_shared<InstantClock>(),
                                           [allowed](const std::string& appId) {
                                               return appId != "game" || allowed->load();
                                           });
        delivery->configure("game", kTarget);
        ASSERT_TRUE(delivery->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, 0)));
        ASSERT_TRUE(delivery->flush(std::chrono::seconds(10)));

        *allowed = false;
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(delivery->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, i)));
        }
        EXPECT_TRUE(delivery->flush(std::chrono::seconds(10)));
        EXPECT_EQ(poster->posted().size(), 1u);
        EXPECT_TRUE(requestFiles().empty());

        *allowed = true;
        ASSERT_TRUE(delivery->store("game", EventKind::InApp, requestTo(kTarget.baseUrl, 4)));
        EXPECT_TRUE(delivery->flush(std::chrono::seconds(10)));
    }
    const std::string log = capture.finish();
    const std::vector<HttpRequest> posted = poster->posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].body, requestTo(kTarget.baseUrl, 0).body);
    EXPECT_EQ(posted[1].body, requestTo(kTarget.baseUrl, 4).body);
    EXPECT_NE(log.find("Outbox of app game: delivery is not allowed; erased"), std::string::npos) << log;
}

}  // namespace
