#include "TerminalView.h"

#include "update/RunResult.h"
#include "update/Settings.h"

#include <algorithm>
#include <utility>

namespace orvex {

namespace {

std::string Bar(const TGaugeModel& gauge, int cells) {
    const int filled = gauge.PercentDone() * cells / 100;
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(cells - filled), '-');
    bar += "] ";
    const std::string percent = std::to_string(gauge.PercentDone()) + "%";
    bar.append(4 - percent.size(), ' ');
    return bar + percent;
}

}  // namespace

TerminalView::TerminalView(const TStringList& settings, std::FILE* out, std::FILE* err, bool interactive, int width,
                           TClock clock)
    : FSettings(settings), FOut(out), FErr(err), FInteractive(interactive), FWidth(width < 40 ? 40 : width),
      FClock(std::move(clock)), FWriter(out) {}

TerminalView::~TerminalView() { Finish(); }

void TerminalView::ShowStatus(const std::string& status) {
    FStatus = EscapeControls(status);
    if (FInteractive) {
        Changed();
    } else if (FStatus == SUpdateFailed || FStatus == SAllFilesUpdated) {
        FHeldResult = FStatus;
    } else if (!FStatus.empty() && FStatus != FLastPrinted) {
        if (!FHeldResult.empty()) PrintLine(FHeldResult);  // it was not the run's last word
        FHeldResult.clear();
        PrintLine(FStatus);
    }
}

void TerminalView::PrintLine(const std::string& status) {
    FWriter.Print(FOut, status + "\n");
    FLastPrinted = status;
}

void TerminalView::SetGaugeMax(int32_t gauge, int32_t maxValue) {
    bool changed = false;
    if (gauge == 0) {
        changed = FFileGauge.SetMaxValue(maxValue);
        FFileRate.Start(maxValue, FClock());
    }
    if (gauge == 1) changed = FTotalGauge.SetMaxValue(maxValue);
    if (changed) Changed();
}

void TerminalView::SetFileProgress(int32_t position) {
    FFileRate.Progress(position, FClock());
    if (FFileGauge.SetProgress(position)) Changed();
}

void TerminalView::SetTotalProgress(int32_t position) {
    if (FTotalGauge.SetProgress(position)) Changed();
}

void TerminalView::SaveRevision(const std::string& revision) {
    WriteSetting(FSettings, "AtRevision", revision);
    FSavedRevision = revision;
}

void TerminalView::SaveListTrust(const std::string& updateKey, const std::string& listSeq) {
    WriteListTrust(FSettings, updateKey, listSeq);
}

void TerminalView::SaveRolloutNumber(const std::string& number) { WriteSetting(FSettings, RolloutNumberSetting, number); }

// The bars step aside for the notice and come back under it.
void TerminalView::Notice(const std::string& text) {
    ClearLine();
    FWriter.Print(FErr, "orvex-update: " + EscapeControls(text) + "\n");
    Changed();
}

void TerminalView::Changed() {
    if (!FInteractive) return;
    FPending = true;
    if (FClock() - FLastDraw >= RedrawInterval) Draw();
}

void TerminalView::Tick() {
    if (FPending && FClock() - FLastDraw >= RedrawInterval) Draw();
}

void TerminalView::Draw() {
    FPending = false;
    FLastDraw = FClock();
    // Narrow terminals get shorter bars, so the rate and some of the status still fit.
    const int cells = std::clamp((FWidth - 70) / 2, 8, 20);
    const std::string rate = FFileRate.Text();
    std::string line = "file " + Bar(FFileGauge, cells) + (rate.empty() ? "" : " " + rate) + "  total " +
                       Bar(FTotalGauge, cells) + "  " + FStatus;
    if (static_cast<int>(line.size()) > FWidth - 1) line.resize(static_cast<std::size_t>(FWidth - 1));
    if (FLineOpen && line == FDrawn) return;
    FWriter.Draw(line);
    FDrawn = line;
    FLineOpen = true;
}

void TerminalView::ClearLine() {
    if (!FLineOpen) return;
    FWriter.Clear();
    FLineOpen = false;
    FDrawn.clear();
}

void TerminalView::Conclude(const std::string& finalStatus, const std::vector<std::string>& details) {
    if (FInteractive) {
        FStatus.clear();
        Draw();
        Finish();
    }
    for (const std::string& line : details) PrintLine(line);
    FHeldResult.clear();
    PrintLine(finalStatus.empty() ? "Up to date" : EscapeControls(finalStatus));
    FWriter.Drain();
}

void TerminalView::Finish() {
    if (FPending) Draw();
    if (FLineOpen) {
        FWriter.EndLine();
        FLineOpen = false;
        FDrawn.clear();
    }
}

}  // namespace orvex
