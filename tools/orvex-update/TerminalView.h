#pragma once
// Shows an update run on a terminal: the status line and both gauges as bars redrawn in place,
// the file bar with its rate and time left,
// or, when the output is not a terminal, each status as a plain line. Control characters of the
// update list's names are shown escaped, never sent to the terminal.
#include "base/Text.h"
#include "update/RateMeter.h"
#include "update/Gauge.h"
#include "update/ProgressView.h"

#include <cstdio>
#include <string>

namespace orvex {

class TerminalView final : public IProgressView {
public:
    TerminalView(const TStringList& settings, std::FILE* out, bool interactive, int width);
    ~TerminalView() override;

    void ShowStatus(const std::string& status) override;
    void SetGaugeMax(int32_t gauge, int32_t maxValue) override;
    void SetFileProgress(int32_t position) override;
    void SetTotalProgress(int32_t position) override;
    void SaveRevision(const std::string& revision) override;
    void SaveListTrust(const std::string& updateKey, const std::string& listSeq) override;
    void SaveRolloutNumber(const std::string& number) override;
    void LockButtons() override {}
    void UnlockButtons() override {}
    void Notice(const std::string& text) override;

    // Ends the redrawn line, so what follows starts on a line of its own.
    void Finish();
    // The run's last word on a line of its own ("Up to date" for none), unless that line was the last
    // one printed; the redrawn line then drops its status, so the word appears once.
    void Conclude(const std::string& finalStatus);

    const std::string& SavedRevision() const { return FSavedRevision; }

private:
    void Redraw();

    const TStringList& FSettings;
    std::FILE* FOut;
    bool FInteractive;
    int FWidth;
    bool FLineOpen = false;
    std::string FStatus;
    std::string FLastPrinted;  // the last status printed as a line of its own
    std::string FDrawn;
    std::string FSavedRevision;
    TGaugeModel FFileGauge;
    TRateMeter FFileRate;  // of the file bar: its transfer, or its unpacking
    TGaugeModel FTotalGauge;
};

}  // namespace orvex
