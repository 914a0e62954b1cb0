#include "tools/orvex-update/RunSummary.h"
#include "tools/orvex-update/TerminalView.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace orvex;
using namespace std::chrono_literals;

namespace {

using TTime = std::chrono::steady_clock::time_point;

struct TClosedFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TClosedFile>;

std::string Written(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
}

// The redraws of the line: each starts with a carriage return that is not the line's erasure.
std::size_t Redraws(const std::string& out) {
    std::size_t count = 0;
    for (std::size_t at = out.find('\r'); at != std::string::npos; at = out.find('\r', at + 1))
        if (at + 1 < out.size() && out[at + 1] != ' ' && out[at + 1] != '\r' && out[at + 1] != '\n') ++count;
    return count;
}

// What the terminal shows last on the redrawn line.
std::string LastDrawn(const std::string& out) {
    const auto at = out.rfind('\r');
    return at == std::string::npos ? "" : out.substr(at + 1, out.find('\n', at) - at - 1);
}

}  // namespace

// The line is redrawn at most once per interval however often the run reports, what an interval
// held back is drawn once the run goes quiet or ends, and notices go to the error stream.
TEST(TerminalView, RedrawsAtMostTenTimesASecondAndNeverLosesTheLastState) {
    struct TCase {
        const char* Name;
        bool Interactive;
        std::function<void(TerminalView&, TTime&)> Run;
        std::size_t MostRedraws;
        std::string LastDrawn;  // "": not checked
        std::string OutEnd;     // the last lines of the output
        std::string Err;
    };
    const std::vector<TCase> cases = {
        {"a report every millisecond for two seconds", true,
         [](TerminalView& view, TTime& now) {
             view.SetGaugeMax(0, 2000);
             for (int32_t ms = 0; ms <= 2000; ++ms) {
                 now = TTime{} + 1h + std::chrono::milliseconds(ms);
                 view.SetFileProgress(ms);
             }
             view.Conclude("All the files have been updated");
         },
         21, "file [########] 100%", "\nAll the files have been updated\n", ""},
        {"a change held back, then quiet", true,
         [](TerminalView& view, TTime& now) {
             view.SetGaugeMax(0, 100);
             now += 10ms;
             view.SetFileProgress(50);
             now += 40ms;
             view.Tick();  // the interval is not over yet
             now += 60ms;
             view.Tick();
         },
         2, "file [####----]  50%", "", ""},
        {"a notice", true,
         [](TerminalView& view, TTime& now) {
             view.SetGaugeMax(0, 100);
             now += 10ms;
             view.ShowStatus("Downloading a.txt");
             view.Notice("http://x/a.txt.bz2: HTTP status 404, not retried");
             view.Finish();
         },
         2, "", "Downloading a.txt\n", "orvex-update: http://x/a.txt.bz2: HTTP status 404, not retried\n"},
        {"not a terminal", false,
         [](TerminalView& view, TTime& now) {
             view.SetGaugeMax(0, 100);
             view.ShowStatus("Downloading a\x1b.txt");
             now += 1ms;
             view.SetFileProgress(50);
             view.Notice("the host entries were not applied");
             view.ShowStatus("Update Failed");
             view.Conclude("Update Failed", {"a.txt: a detail"});
         },
         0, "", "Downloading a\\x1B.txt\na.txt: a detail\nUpdate Failed\n", "orvex-update: the host entries were not applied\n"},
    };
    for (const TCase& c : cases) {
        TStringList settings;
        TTime now = TTime{} + 1h;
        const TFile out(std::tmpfile()), err(std::tmpfile());
        ASSERT_TRUE(out && err);
        {
            TerminalView view(settings, out.get(), err.get(), c.Interactive, 80, [&now] { return now; });
            c.Run(view, now);
        }
        const std::string shown = Written(out.get());
        EXPECT_LE(Redraws(shown), c.MostRedraws) << c.Name;
        if (c.Interactive) {
            EXPECT_GE(Redraws(shown), 1u) << c.Name;
        }
        if (!c.LastDrawn.empty()) {
            EXPECT_EQ(LastDrawn(shown).substr(0, c.LastDrawn.size()), c.LastDrawn) << c.Name;
        }
        EXPECT_EQ(shown.size() >= c.OutEnd.size() ? shown.substr(shown.size() - c.OutEnd.size()) : shown, c.OutEnd)
            << c.Name;
        EXPECT_EQ(Written(err.get()), c.Err) << c.Name;
    }
}

TEST(RunSummary, CountsEveryFileAndGivesSizesInUnits) {
    using TBuilt = GFilesThread::TFetchSummary::TBuilt;
    struct TCase {
        int Installed, Failed, NotTried;
        uint64_t Bytes;
        std::vector<TBuilt> Built;
        std::string Line;
    };
    const std::vector<TCase> cases = {
        {1, 0, 0, 1000, {}, "1 file fetched, 0 failed, 1000 B downloaded in 2.5 s"},
        {166, 1, 190, 3u << 20, {}, "166 files fetched, 1 failed, 190 not tried, 3.0 MiB downloaded in 2.5 s"},
        {0, 2, 0, 5ull << 30, {}, "0 files fetched, 2 failed, 5.0 GiB downloaded in 2.5 s"},
        // A chunked file whose chunks came to more than its whole copy saves nothing.
        {2, 0, 0, 1536, {{"a", 0, 512, 2048}, {"b", 0, 4096, 1024}}, "2 files fetched, 0 failed, 1.5 KiB downloaded in 2.5 s, 1.5 KiB fewer than the whole copies"},
    };
    for (const TCase& c : cases) {
        GFilesThread::TFetchSummary fetched;
        fetched.Installed = c.Installed;
        fetched.Failed = c.Failed;
        fetched.NotTried = c.NotTried;
        fetched.Bytes = c.Bytes;
        fetched.Built = c.Built;
        EXPECT_EQ(SummaryLine(fetched, 2.5), c.Line);
    }
    GFilesThread::TFetchSummary built;
    built.Built = {{"data\\x\x07.pak", 3u << 20, 2048, 0}};
    EXPECT_EQ(DetailLines(built), std::vector<std::string>{"data\\x\\x07.pak: built from chunks, 3.0 MiB reused, 2.0 KiB downloaded"});
}
