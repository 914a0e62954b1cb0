#include "update/RunReports.h"

#include "base/Exceptions.h"
#include "base/Text.h"
#include "formats/BZip2.h"
#include "update/Dispatcher.h"
#include "update/ProgressView.h"

namespace orvex {

std::string Refusal(const std::string& path, const std::string& reason) {
    return "\"" + Shortened(path, 300) + "\" " + reason + ": left out";
}

std::string InstallFailure(const std::string& url) {
    try {
        throw;
    } catch (const EBZDecompressionError& error) {
        return url + ": the copy does not unpack (bzip2 " + error.what() + "), not retried";
    } catch (const EStreamError& error) {
        return error.what();  // the installation's own file: the message names it
    } catch (const EInOutError& error) {
        return error.what();
    } catch (const std::exception& error) {
        return url + ": " + error.what() + ", not retried";
    }
}

void TRunReports::Show(const std::string& status) {
    FStatus = status;
    FDispatcher.Post([&view = FView, status] { view.ShowStatus(status); });
}

void TRunReports::ShowRetry(int nextTry, int tries) {
    if (FStatus.empty()) return;
    const std::string status = FStatus + " (try " + std::to_string(nextTry) + " of " + std::to_string(tries) + ")";
    FDispatcher.Post([&view = FView, status] { view.ShowStatus(status); });
}

void TRunReports::BarMax(int32_t gauge, int32_t maxValue) {
    FDispatcher.Post([&view = FView, gauge, maxValue] { view.SetGaugeMax(gauge, maxValue); });
}

void TRunReports::FileBarMax(int32_t maxValue) { BarMax(0, maxValue); }
void TRunReports::TotalBarMax(int32_t maxValue) { BarMax(1, maxValue); }

void TRunReports::FileBar(uint64_t position) {
    FDispatcher.Post([&view = FView, value = Low32(static_cast<int64_t>(position))] { view.SetFileProgress(value); });
}

void TRunReports::TotalBar(int32_t position) {
    FDispatcher.Post([&view = FView, position] { view.SetTotalProgress(position); });
}

void TRunReports::Notify(const std::string& text) {
    FDispatcher.Invoke([this, &text] { FView.Notice(text); });
}

void TRunReports::Fail(const std::string& text) {
    FDispatcher.Invoke([this, &text] { FView.Failure(text); });
}

void TRunReports::SaveRevision(int32_t revision) {
    FDispatcher.Invoke([this, revision] { FView.SaveRevision(IntToStr(revision)); });
}

// The run ends on a refused settings write; the player and the operator learn why. (A refused
// revision write fails the commit, which tells its error.)
void TRunReports::SaveRolloutNumber(int number) {
    const std::string text = std::to_string(number);
    FDispatcher.Invoke([this, &text] { FView.SaveRolloutNumber(text); });
}

void TRunReports::SaveListTrust(const std::string& updateKey, uint64_t listSeq) {
    const std::string seq = std::to_string(listSeq);
    try {
        FDispatcher.Invoke([this, &updateKey, &seq] { FView.SaveListTrust(updateKey, seq); });
    } catch (const EIniFileException& error) {
        Fail(error.what());
        throw;
    }
}

void TRunReports::LockButtons() {
    FDispatcher.Invoke([this] { FView.LockButtons(); });
}

void TRunReports::UnlockButtons() {
    FDispatcher.Invoke([this] { FView.UnlockButtons(); });
}

}  // namespace orvex
