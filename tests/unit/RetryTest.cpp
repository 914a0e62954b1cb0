#include "update/Download.h"
#include "update/HttpBody.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orvex;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RetryWait, DoublesFromTheFirstWaitTakesTheServersWordAndStopsWhenFinalOrOutOfTries) {
    const TRetryLimits limits{5, seconds(1), seconds(30)};
    TDownloadOutcome transient;
    transient.Transient = true;
    TDownloadOutcome asked = transient;
    asked.RetryAfter = seconds(12);
    TDownloadOutcome askedTooMuch = transient;
    askedTooMuch.RetryAfter = seconds(3600);
    TDownloadOutcome permanent;
    permanent.Refused = true;
    permanent.Status = 404;
    TDownloadOutcome complete;
    complete.Complete = true;
    struct Case {
        const TDownloadOutcome& Outcome;
        int TriesDone;
        std::optional<milliseconds> Wait;
    };
    const std::vector<Case> cases = {
        {transient, 1, seconds(1)},     {transient, 2, seconds(2)},   {transient, 4, seconds(8)},
        {transient, 5, std::nullopt},   {asked, 1, seconds(12)},      {askedTooMuch, 2, seconds(30)},
        {permanent, 1, std::nullopt},   {complete, 1, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(RetryWait(c.Outcome, c.TriesDone, limits), c.Wait) << c.TriesDone;
    // Many tries never pass the longest wait.
    EXPECT_EQ(RetryWait(transient, 40, TRetryLimits{50, seconds(1), seconds(30)}), seconds(30));
}

TEST(IsTransientStatus, BusyAndGatewayAnswersOnly) {
    for (const int status : {408, 429, 500, 502, 503, 504}) EXPECT_TRUE(IsTransientStatus(status)) << status;
    for (const int status : {200, 206, 301, 400, 401, 403, 404, 410, 416, 501, 505}) EXPECT_FALSE(IsTransientStatus(status)) << status;
}

TEST(ParseRetryAfter, SecondsOnly) {
    EXPECT_EQ(http::ParseRetryAfter("120"), seconds(120));
    EXPECT_EQ(http::ParseRetryAfter(" 3\r\n"), seconds(3));
    EXPECT_EQ(http::ParseRetryAfter("Fri, 31 Dec 1999 23:59:59 GMT"), std::nullopt);
    EXPECT_EQ(http::ParseRetryAfter(""), std::nullopt);
    EXPECT_EQ(http::ParseRetryAfter("-5"), std::nullopt);
    EXPECT_EQ(http::ParseRetryAfter("99999999999999"), std::nullopt);
}
