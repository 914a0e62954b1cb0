#pragma once
// The run's progress sink: hands what the run shows to the view on the user-interface thread. The
// status line and the bars are posted with their values; the rest waits until the view took it.
// Called from the run's thread only; other threads record their reports (TRecordedReports).
#include "formats/Unpack.h"

#include <cstdint>
#include <string>

namespace orvex {

class IDispatcher;
class IProgressView;

// Beyond 2 GiB a 32-bit bar position wraps instead of overflowing.
inline int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// The notice for a listed name the run leaves out. A hostile list may name megabytes: the notice
// shows the beginning and the length.
std::string Refusal(const std::string& path, const std::string& reason);

// The notice of a copy that arrived from url but could not be put in place, from the exception
// being handled.
std::string InstallFailure(const std::string& url);

class TRunReports final : public IUnpackObserver {
public:
    TRunReports(IDispatcher& dispatcher, IProgressView& view) : FDispatcher(dispatcher), FView(view) {}

    void Show(const std::string& status);
    // The status shown last, with the try the run waits to make: the window does not look hung
    // while it waits. Nothing while no status is shown.
    void ShowRetry(int nextTry, int tries);
    void FileBarMax(int32_t maxValue);
    void FileBar(uint64_t position);
    void TotalBarMax(int32_t maxValue);
    void TotalBar(int32_t position);
    void Notify(const std::string& text);
    // A notice of why the run fails (IProgressView::Failure).
    void Fail(const std::string& text);
    void SaveRevision(int32_t revision);
    void SaveListTrust(const std::string& updateKey, uint64_t listSeq);
    void SaveRolloutNumber(int number);
    void LockButtons();
    void UnlockButtons();

    // The file bar follows an unpacking: its maximum is the packed size.
    void UnpackStarted(uint64_t packedSize) override { FileBarMax(Low32(static_cast<int64_t>(packedSize))); }
    void UnpackProgress(uint64_t packedDone) override { FileBar(packedDone); }
    void UnpackFinished() override { FileBar(0); }

private:
    void BarMax(int32_t gauge, int32_t maxValue);

    IDispatcher& FDispatcher;
    IProgressView& FView;
    std::string FStatus;  // as the run last showed it
};

}  // namespace orvex
