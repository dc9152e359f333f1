// When a stored request is tried again, and when it is given up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "tracker/Delivery.h"
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

}  // namespace
