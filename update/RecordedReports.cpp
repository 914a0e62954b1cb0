#include "update/RecordedReports.h"

#include "update/RunReports.h"

namespace orvex {

TRecordedReports::TRecordedReports(TRecordedReports&& other) noexcept : FStop(std::move(other.FStop)) {
    const std::lock_guard<std::mutex> lock(other.FLock);
    FReports = std::move(other.FReports);
}

void TRecordedReports::Record(Kind what, uint64_t value, std::string text) {
    // The last report of an unpacking is kept even after a stop: it only closes what was shown.
    if (what != Kind::UnpackFinished && FStop.stop_requested()) throw TStopped{};
    const std::lock_guard<std::mutex> lock(FLock);
    FReports.push_back({what, value, std::move(text)});
}

bool TRecordedReports::Empty() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FReports.empty();
}

void TRecordedReports::ReplayTo(TRunReports& reports) {
    std::vector<TReport> taken;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        taken.swap(FReports);
    }
    for (const TReport& report : taken) {
        switch (report.What) {
            case Kind::FileBar: reports.FileBar(report.Value); break;
            case Kind::Notice: reports.Notify(report.Text); break;
            case Kind::UnpackStarted: reports.UnpackStarted(report.Value); break;
            case Kind::UnpackProgress: reports.UnpackProgress(report.Value); break;
            case Kind::UnpackFinished: reports.UnpackFinished(); break;
        }
    }
}

}  // namespace orvex
