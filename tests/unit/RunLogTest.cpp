#include "util/RunLog.h"

#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <regex>
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
                              "http://host/a.bz2: HTTP status 503,  given up after 5 tries\r\n" + stamp +
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
