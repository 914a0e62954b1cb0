#include "util/RunLog.h"

#include "base/Os.h"
#include "base/Text.h"

#include <cstdio>
#include <memory>

namespace orvex {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A line break of a notice would start a line without a time stamp; other controls would act on
// whatever shows the log.
std::string OneLine(const std::string& text) { return EscapeControls(Shortened(text, TRunLog::MaxNoticeLength)); }

// The log is the launcher's own file: a link in its place (to a file anywhere) is removed, never
// written through or deleted through. False when it stays.
bool OwnFile(const std::string& fileName) { return !os::IsLink(fileName) || os::RemoveLink(fileName); }

// The ellipsis of the Windows code pages the log is written in, like the names it quotes.
constexpr const char* Ellipsis = "\x85";

}  // namespace

TRunLog::TRunLog(std::string fileName, std::function<std::time_t()> now)
    : FFileName(std::move(fileName)), FNow(std::move(now)) {}

void TRunLog::RunStarted() {
    FNotices = 0;
    if (OwnFile(FFileName) && os::FileSize(FFileName) > MaxBytes)
        static_cast<void>(os::DeleteFile(FFileName));  // a fresh one below
    Append("Update run started");
}

void TRunLog::Line(const std::string& text) {
    if (++FNotices <= MaxNotices) Append(OneLine(text));
}

void TRunLog::RunEnded(const std::string& status) {
    if (FNotices > MaxNotices) Append(std::string(Ellipsis) + " and " + std::to_string(FNotices - MaxNotices) + " more");
    Append("Update run ended: " + (status.empty() ? std::string("nothing to do") : OneLine(status)));
}

void TRunLog::Append(const std::string& text) {
    if (!OwnFile(FFileName)) return;
    const std::tm local = os::LocalTime(FNow());
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(os::NativePath(FFileName).c_str(), "ab"));
    if (!file) return;
    const std::string line = std::string(stamp) + "  " + text + "\r\n";
    static_cast<void>(std::fwrite(line.data(), 1, line.size(), file.get()));
}

}  // namespace orvex
