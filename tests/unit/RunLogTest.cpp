#include "util/RunLog.h"

#include "common/Links.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

using namespace orvex;
using orvex::test::ScratchFolder;

TEST(RunLog, StampsOneLineForEachEventAndStartsAfreshWhenTooLarge) {
    ScratchFolder folder;
    const std::string name = "OrvexUpdater.log";
    TRunLog log(folder.File(name));
    log.RunStarted();
    log.Line("http://host/a.bz2: HTTP status 503,\r\ngiven up after 5 tries");
    log.RunEnded("Update Failed");
    log.RunStarted();
    log.RunEnded("");
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )";
    const std::regex expected(stamp + "Update run started\r\n" + stamp +
                              R"(http://host/a\.bz2: HTTP status 503,\\x0D\\x0Agiven up after 5 tries)" "\r\n" + stamp +
                              "Update run ended: Update Failed\r\n" + stamp + "Update run started\r\n" + stamp +
                              "Update run ended: nothing to do\r\n");
    EXPECT_TRUE(std::regex_match(folder.Read(name), expected)) << folder.Read(name);

    // At the limit the log is kept; past it, the next run starts a fresh one.
    for (const int64_t size : {TRunLog::MaxBytes, TRunLog::MaxBytes + 1}) {
        folder.Write(name, std::string(static_cast<std::size_t>(size), 'x'));
        log.RunStarted();
        const std::string text = folder.Read(name);
        EXPECT_EQ(text.substr(0, 1) == "x", size == TRunLog::MaxBytes) << size;
        EXPECT_TRUE(std::regex_search(text, std::regex(stamp + "Update run started\r\n$"))) << size;
    }
}

// A notice is one line of the log, whatever it holds, and a run writes at most MaxNotices of them.
TEST(RunLog, WritesEachNoticeOnOneLineAndAtMostMaxNoticesInARun) {
    struct {
        int Notices;
        std::string Text;
        std::string Written;  // the notice as its line holds it
        const char* More;     // the line before the result; nullptr: none
    } const cases[] = {
        {1, "a\x1b[2J\a\bb\r\nc\x7f", R"(a\x1B[2J\x07\x08b\x0D\x0Ac\x7F)", nullptr},
        {1, std::string(5000, 'n'), std::string(1000, 'n') + "... (5000 characters)", nullptr},
        {TRunLog::MaxNotices, "refused", "refused", nullptr},
        {TRunLog::MaxNotices + 1, "refused", "refused", "\x85 and 1 more"},
        {20000, "refused \x1b", R"(refused \x1B)", "\x85 and 19800 more"},
    };
    for (const auto& c : cases) {
        ScratchFolder folder;
        TRunLog log(folder.File(RunLogName));
        log.RunStarted();
        for (int i = 0; i < c.Notices; ++i) log.Line(c.Text);
        log.RunEnded("Update Failed");
        std::istringstream text(folder.Read(RunLogName));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line, '\n');) {
            ASSERT_FALSE(line.empty() || line.back() != '\r') << c.Notices;
            lines.push_back(line.substr(21, line.size() - 22));  // without the stamp and the line end
        }
        const std::size_t written = static_cast<std::size_t>(std::min(c.Notices, TRunLog::MaxNotices));
        ASSERT_EQ(lines.size(), written + (c.More ? 3 : 2)) << c.Notices;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), c.Written), static_cast<std::ptrdiff_t>(written)) << c.Notices;
        if (c.More) {
            EXPECT_EQ(lines[lines.size() - 2], c.More);
        }
        EXPECT_EQ(lines.back(), "Update run ended: Update Failed");
    }
}

// A link in the log's place is replaced by a file of the log's own: what it pointed to, small or
// over the size at which a log starts afresh, stays as it was.
TEST(RunLog, ReplacesALinkInItsPlaceAndNeverWritesThroughIt) {
    for (const std::size_t size : {std::size_t{10}, std::size_t{540 * 1024}}) {
        ScratchFolder outside, installation;
        const std::string kept(size, 'k');
        const std::filesystem::path target = outside.Write("precious.dat", kept);
        const std::filesystem::path link = installation.Path() / RunLogName;
        ASSERT_TRUE(test::MakeLink(target, link)) << size;
        TRunLog log(installation.File(RunLogName));
        log.RunStarted();
        log.Line("notice");
        log.RunEnded("");
        EXPECT_EQ(outside.Read("precious.dat"), kept) << size;
        const std::string text = installation.Read(RunLogName);
        EXPECT_NE(text.find("  Update run started\r\n"), std::string::npos) << size;
        EXPECT_EQ(text.find('k'), std::string::npos) << size;
    }
}
