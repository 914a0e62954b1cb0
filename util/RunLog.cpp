#include "util/RunLog.h"

#include "base/Os.h"

#include <cstdio>
#include <memory>

namespace orvex {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A stray line break of a notice would start a line without a time stamp.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

}  // namespace

TRunLog::TRunLog(std::string fileName, std::function<std::time_t()> now)
    : FFileName(std::move(fileName)), FNow(std::move(now)) {}

void TRunLog::RunStarted() {
    if (os::FileSize(FFileName) > MaxBytes) static_cast<void>(os::DeleteFile(FFileName));  // a fresh one below
    Append("Update run started");
}

void TRunLog::Line(const std::string& text) { Append(OneLine(text)); }

void TRunLog::RunEnded(const std::string& status) {
    Append("Update run ended: " + (status.empty() ? std::string("nothing to do") : OneLine(status)));
}

void TRunLog::Append(const std::string& text) {
    const std::tm local = os::LocalTime(FNow());
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(os::NativePath(FFileName).c_str(), "ab"));
    if (!file) return;
    const std::string line = std::string(stamp) + "  " + text + "\r\n";
    static_cast<void>(std::fwrite(line.data(), 1, line.size(), file.get()));
}

}  // namespace orvex
