#pragma once
// The launcher's log of its update runs, OrvexUpdater.log in the installation folder: a line when a
// run starts, one for each notice of the run (a failed download with its reason, a refused name or
// list), and one with the run's result, each after a local time stamp. Lines are appended as they
// come, so what a crash leaves is still there. Writing it never fails a run.
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

    explicit TRunLog(std::string fileName, std::function<std::time_t()> now = [] { return std::time(nullptr); });

    void RunStarted();
    void Line(const std::string& text);
    void RunEnded(const std::string& status);

private:
    void Append(const std::string& text);

    std::string FFileName;
    std::function<std::time_t()> FNow;
};

}  // namespace orvex
