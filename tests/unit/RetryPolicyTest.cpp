// When a stored request is tried again, and when it is given up.
#include <gtest/gtest.h>

#include <chrono>

#include "tracker/Delivery.h"

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

}  // namespace
