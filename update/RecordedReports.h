#pragma once
// Reports made on a thread other than the run's (a download ahead, a chunk on its way, an
// unpacking ahead), kept in order and shown on the run's thread later as if the run had made them.
#include "formats/Unpack.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

namespace orvex {

class TRunReports;

// Thrown by a report made once the stop of its work was requested: the work ends there.
struct TStopped {};

class TRecordedReports final : public IUnpackObserver {
public:
    explicit TRecordedReports(std::stop_token stop = {}) : FStop(std::move(stop)) {}
    // Moved once its recording thread is done with it, e.g. with the result it came with.
    TRecordedReports(TRecordedReports&& other) noexcept;

    void FileBar(uint64_t position) { Record(Kind::FileBar, position); }
    void Notify(std::string text) { Record(Kind::Notice, 0, std::move(text)); }
    void Fail(std::string text) { Record(Kind::Failure, 0, std::move(text)); }
    void ShowRetry(int nextTry, int tries) { Record(Kind::Retry, static_cast<uint64_t>(nextTry), {}, tries); }
    void UnpackStarted(uint64_t packedSize) override { Record(Kind::UnpackStarted, packedSize); }
    void UnpackProgress(uint64_t packedDone) override { Record(Kind::UnpackProgress, packedDone); }
    void UnpackFinished() override { Record(Kind::UnpackFinished, 0); }

    // Shows what was recorded so far, in order, and forgets it.
    void ReplayTo(TRunReports& reports);
    // The recording has ended: nothing more is recorded.
    void Close();
    // Shows what is recorded, as it comes, until the recording is closed and all of it was shown.
    void FollowTo(TRunReports& reports);

private:
    enum class Kind { FileBar, Notice, Failure, Retry, UnpackStarted, UnpackProgress, UnpackFinished };
    struct TReport {
        Kind What;
        uint64_t Value;
        std::string Text;
        int Of;  // of a retry: the tries in all
    };
    void Record(Kind what, uint64_t value, std::string text = {}, int of = 0);
    static void Show(const std::vector<TReport>& taken, TRunReports& reports);

    std::stop_token FStop;
    std::mutex FLock;
    std::condition_variable FRecorded;
    std::vector<TReport> FReports;
    bool FClosed = false;
};

}  // namespace orvex
