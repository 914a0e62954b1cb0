#pragma once
// The launcher's log of its update runs, OrvexUpdater.log in the installation folder: a line when a
// run starts, one for each notice of the run (a failed download with its reason, a refused name or
// list), and one with the run's result, each after a local time stamp. Lines are appended as they
// come, so what a crash leaves is still there. Writing it never fails a run.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace orvex {

inline constexpr const char* RunLogName = "OrvexUpdater.log";

class TRunLog {
public:
    // A log over this size is started afresh when the next run starts.
    static constexpr int64_t MaxBytes = 256 * 1024;
    // A hostile list can make a notice of every entry: past this many in one run they are only
    // counted, and the count written as the run ends.
    static constexpr int MaxNotices = 200;
    // A notice longer than this is written shortened, with its length.
    static constexpr std::size_t MaxNoticeLength = 1000;

    explicit TRunLog(std::string fileName, std::function<std::time_t()> now = [] { return std::time(nullptr); });

    void RunStarted();
    // A notice of the run; control characters are written as \xNN.
    void Line(const std::string& text);
    void RunEnded(const std::string& status);

private:
    void Append(const std::string& text);

    std::string FFileName;
    std::function<std::time_t()> FNow;
    int FNotices = 0;  // of this run
};

}  // namespace orvex
