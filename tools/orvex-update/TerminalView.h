#pragma once
// Shows an update run on a terminal: the status line and both gauges as bars redrawn in place, at
// most ten times a second, the file bar with its rate and time left,
// or, when the output is not a terminal, each status as a plain line. Notices go to the error
// stream. Control characters of the update list's names are shown escaped, never sent to the
// terminal.
#include "base/Text.h"
#include "tools/orvex-update/LineWriter.h"
#include "update/RateMeter.h"
#include "update/Gauge.h"
#include "update/ProgressView.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace orvex {

class TerminalView final : public IProgressView {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    // A terminal that redraws slowly (a console under Wine) would otherwise hold the whole run up.
    static constexpr std::chrono::milliseconds RedrawInterval{100};

    TerminalView(const TStringList& settings, std::FILE* out, std::FILE* err, bool interactive, int width,
                 TClock clock = std::chrono::steady_clock::now);
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

    // Draws what the last interval held back, once it is over: called while the run is quiet.
    void Tick();
    // Draws what was held back and ends the redrawn line, so what follows starts on a line of its own.
    void Finish();
    // details, each on a line of its own, then the run's last word ("Up to date" for none); the
    // redrawn line drops its status and the plain output holds the result back until then, so the
    // word appears once, after the details. Returns once all of it is written.
    void Conclude(const std::string& finalStatus, const std::vector<std::string>& details = {});

    const std::string& SavedRevision() const { return FSavedRevision; }

private:
    void Changed();
    void Draw();
    void ClearLine();
    void PrintLine(const std::string& status);

    const TStringList& FSettings;
    std::FILE* FOut;
    std::FILE* FErr;
    bool FInteractive;
    int FWidth;
    TClock FClock;
    bool FLineOpen = false;
    bool FPending = false;  // a change not drawn yet
    std::chrono::steady_clock::time_point FLastDraw{};
    std::string FStatus;
    std::string FLastPrinted;  // the last status printed as a line of its own
    std::string FHeldResult;   // a result shown as the status, not printed yet
    std::string FDrawn;
    std::string FSavedRevision;
    TGaugeModel FFileGauge;
    TRateMeter FFileRate;  // of the file bar: its transfer, or its unpacking
    TGaugeModel FTotalGauge;
    TLineWriter FWriter;  // last: writes what is left before the members above go
};

}  // namespace orvex
