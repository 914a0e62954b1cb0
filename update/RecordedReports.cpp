#include "update/RecordedReports.h"

#include "update/RunReports.h"

namespace orvex {

TRecordedReports::TRecordedReports(TRecordedReports&& other) noexcept : FStop(std::move(other.FStop)) {
    const std::lock_guard<std::mutex> lock(other.FLock);
    FReports = std::move(other.FReports);
    FClosed = other.FClosed;
}

void TRecordedReports::Record(Kind what, uint64_t value, std::string text, int of) {
    // The last report of an unpacking is kept even after a stop: it only closes what was shown.
    if (what != Kind::UnpackFinished && FStop.stop_requested()) throw TStopped{};
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FReports.push_back({what, value, std::move(text), of});
    }
    FRecorded.notify_one();
}

void TRecordedReports::Close() {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FClosed = true;
    }
    FRecorded.notify_one();
}

void TRecordedReports::ReplayTo(TRunReports& reports) {
    std::vector<TReport> taken;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        taken.swap(FReports);
    }
    Show(taken, reports);
}

void TRecordedReports::FollowTo(TRunReports& reports) {
    for (bool closed = false; !closed;) {
        std::vector<TReport> taken;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FRecorded.wait(lock, [this] { return FClosed || !FReports.empty(); });
            taken.swap(FReports);
            closed = FClosed;
        }
        // Shown outside the lock: the view may take its time, the recording goes on meanwhile.
        Show(taken, reports);
    }
}

void TRecordedReports::Show(const std::vector<TReport>& taken, TRunReports& reports) {
    for (const TReport& report : taken) {
        switch (report.What) {
            case Kind::FileBar: reports.FileBar(report.Value); break;
            case Kind::Notice: reports.Notify(report.Text); break;
            case Kind::Failure: reports.Fail(report.Text); break;
            case Kind::Retry: reports.ShowRetry(static_cast<int>(report.Value), report.Of); break;
            case Kind::UnpackStarted: reports.UnpackStarted(report.Value); break;
            case Kind::UnpackProgress: reports.UnpackProgress(report.Value); break;
            case Kind::UnpackFinished: reports.UnpackFinished(); break;
        }
    }
}

}  // namespace orvex
