#include "base/Exceptions.h"
#include "update/RecordedReports.h"
#include "update/RunSettings.h"
#include "update/Servers.h"
#include "update/Settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

using namespace orvex;

namespace {

TRetryLimits QuickRetries(int tries) { return {tries, std::chrono::milliseconds(1), std::chrono::milliseconds(1)}; }

TDownloadOutcome Unreachable() {
    TDownloadOutcome outcome;
    outcome.Transient = true;
    outcome.Reason = "connection refused";
    return outcome;
}

TDownloadOutcome Answer(int status) {
    TDownloadOutcome outcome;
    outcome.Refused = true;
    outcome.Status = status;
    outcome.Transient = IsTransientStatus(status);
    outcome.Reason = "HTTP " + std::to_string(status);
    return outcome;
}

// A try that waited this long for a server that never answered.
TDownloadOutcome Silent(std::chrono::seconds idle) {
    TDownloadOutcome outcome = Unreachable();
    outcome.Reason = "no answer";
    outcome.Idle = idle;
    return outcome;
}

TDownloadOutcome Complete() {
    TDownloadOutcome outcome;
    outcome.Complete = true;
    return outcome;
}

}  // namespace

// Which server each try asks, what the fetch ends with and what the player hears.
TEST(Servers, AskEachServerInTurnUnreachableOnesLastAndTellOnlyTheLastRoundsFailures) {
    using TAnswers = std::map<std::string, std::function<TDownloadOutcome()>>;
    const struct {
        const char* name;
        int tries;
        TAnswers answers;
        std::vector<std::string> asked;
        bool complete;
        int status;
        std::vector<std::string> notices;
    } cases[] = {
        {"the main server has it", 5, {{"http://a/", Complete}}, {"http://a/f"}, true, 0, {}},
        {"a mirror has it",
         5,
         {{"http://a/", [] { return Answer(404); }}, {"http://b/", Complete}},
         {"http://a/f", "http://b/f"},
         true,
         0,
         {}},
        {"an answer wins over an unreachable server and is not tried again",
         5,
         {{"http://a/", Unreachable}, {"http://b/", [] { return Answer(404); }}},
         {"http://a/f", "http://b/f"},
         false,
         404,
         {"http://a/f: connection refused, not retried", "http://b/f: HTTP 404, not retried"}},
        {"passing failures are tried again in rounds, the unreachable server last",
         2,
         {{"http://a/", Unreachable}, {"http://b/", [] { return Answer(503); }}},
         {"http://a/f", "http://b/f", "http://b/f", "http://a/f"},
         false,
         503,
         {"http://b/f: HTTP 503, given up after 2 tries", "http://a/f: connection refused, given up after 2 tries"}},
        {"an address silent for the idle limit in all is given up, the mirror is still tried",
         5,
         {{"http://a/", [] { return Silent(std::chrono::seconds(40)); }}, {"http://b/", [] { return Answer(503); }}},
         {"http://a/f", "http://b/f", "http://b/f", "http://a/f", "http://b/f", "http://a/f", "http://b/f", "http://b/f"},
         false,
         503,
         {"http://a/f: no answer, given up after 3 tries and 90 s of silence or trickle",
          "http://b/f: HTTP 503, given up after 5 tries"}},
    };
    for (const auto& c : cases) {
        TServers servers("http://a", " http://b/ \t", {}, QuickRetries(c.tries));
        std::vector<std::string> asked, notices;
        std::map<std::string, std::chrono::milliseconds> idle;  // each address's so far
        const TDownloadOutcome outcome = servers.Fetch(
            "f",
            [&](const std::string& url, const TTransferLimits& limits) {
                asked.push_back(url);
                // Each try may have what is left of the address's allowance.
                EXPECT_EQ(limits.Idle, TTransferLimits().Idle - idle[url]) << c.name;
                TDownloadOutcome answer = c.answers.at(url.substr(0, url.size() - 1))();
                idle[url] += answer.Idle;
                return answer;
            },
            [&](const std::string& text) { notices.push_back(text); });
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_EQ(static_cast<bool>(outcome), c.complete) << c.name;
        EXPECT_EQ(outcome.Status, c.status) << c.name;
        EXPECT_EQ(notices, c.notices) << c.name;
    }
}

TEST(Servers, AStopEndsTheFetchBeforeTheNextTry) {
    TServers servers("http://a/", "", {}, QuickRetries(5));
    std::stop_source stop;
    int tries = 0;
    EXPECT_THROW(servers.Fetch(
                     "f",
                     [&](const std::string&, const TTransferLimits&) {
                         ++tries;
                         stop.request_stop();
                         return Unreachable();
                     },
                     [](const std::string&) {}, stop.get_token()),
                 TStopped);
    EXPECT_EQ(tries, 1);
}

TEST(RunSettingsFrom, TakesEachSettingFromItsPlaceAndRefusesNumbersThatAreNot) {
    TStringList settings{"C:\\game\\", "http://news/", "http://up/", "Talvora", "1", "1", "7", "game.exe",
                         "RWkey", "12", "http://m1/ http://m2/", "live", "4321"};
    const TRunSettings run = RunSettingsFrom(settings, true);
    EXPECT_EQ(run.UpdatesUrl, "http://up/");
    EXPECT_EQ(run.Mirrors, "http://m1/ http://m2/");
    EXPECT_EQ(run.CreateBackup, 1);
    EXPECT_EQ(run.AtRevision, 7);
    EXPECT_TRUE(run.FullCheck);
    EXPECT_EQ(run.UpdateKey, "RWkey");
    EXPECT_EQ(run.ListSeq, "12");
    EXPECT_EQ(run.Channel, "live");
    EXPECT_EQ(run.RolloutNumber, 4321);
    EXPECT_EQ(run.Limits.MaxRate, 0u) << "a list without MaxRate: no cap";
    settings.push_back("2M");
    EXPECT_EQ(RunSettingsFrom(settings).Limits.MaxRate, 2u << 20);
    settings[MaxRatePos] = "2 MB";
    try {
        RunSettingsFrom(settings);
        ADD_FAILURE() << "a MaxRate that is not a rate";
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "MaxRate: '2 MB' is not a rate (bytes per second, e.g. 512K or 2M)");
    }
    settings[MaxRatePos] = "";
    settings[AtRevisionPos] = "seven";
    EXPECT_THROW(RunSettingsFrom(settings), EConvertError);
}
