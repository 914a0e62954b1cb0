#include "Progress.h"

#include <string>

namespace orvex {

std::string Bytes(int64_t count) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(count);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

namespace {

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

}  // namespace

TProgressReport::TProgressReport(std::FILE* out, bool terminal, bool quiet)
    : FOut(out), FTerminal(terminal), FQuiet(quiet) {}

double TProgressReport::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

void TProgressReport::File(const TPublishedFile& file, TFileOutcome outcome, const TPublishProgress& progress) {
    if (FQuiet) return;
    if (!FTerminal) {
        if (outcome == TFileOutcome::Compressed)
            std::fprintf(FOut, "compressed %s (%lld bytes)\n", file.Path.c_str(), static_cast<long long>(file.Size));
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool last = progress.FilesDone == progress.FilesTotal;
    if (!last && now - FLastDraw < std::chrono::milliseconds(100)) return;
    FLastDraw = now;
    const double seconds = Seconds();
    const double rate = seconds > 0 ? static_cast<double>(progress.BytesDone) / seconds : 0;
    const std::string left =
        rate > 0 ? Duration(static_cast<double>(progress.BytesTotal - progress.BytesDone) / rate) : "?";
    std::fprintf(FOut, "\r%zu/%zu files  %s of %s  %s/s  %s left   ", progress.FilesDone, progress.FilesTotal,
                 Bytes(progress.BytesDone).c_str(), Bytes(progress.BytesTotal).c_str(),
                 Bytes(static_cast<int64_t>(rate)).c_str(), left.c_str());
    std::fflush(FOut);
    FLineOpen = true;
}

void TProgressReport::Done() {
    if (FLineOpen) std::fputc('\n', FOut);
    FLineOpen = false;
}

}  // namespace orvex
