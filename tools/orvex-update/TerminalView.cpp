#include "TerminalView.h"

#include "update/Settings.h"

#include <algorithm>

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

TerminalView::TerminalView(const TStringList& settings, std::FILE* out, bool interactive, int width)
    : FSettings(settings), FOut(out), FInteractive(interactive), FWidth(width < 40 ? 40 : width) {}

TerminalView::~TerminalView() { Finish(); }

void TerminalView::ShowStatus(const std::string& status) {
    FStatus = EscapeControls(status);
    if (FInteractive) {
        Redraw();
    } else if (!FStatus.empty() && FStatus != FLastPrinted) {
        // The run shows its final status again as it ends: once on the output is enough.
        std::fprintf(FOut, "%s\n", FStatus.c_str());
        std::fflush(FOut);
        FLastPrinted = FStatus;
    }
}

void TerminalView::SetGaugeMax(int32_t gauge, int32_t maxValue) {
    bool changed = false;
    if (gauge == 0) {
        changed = FFileGauge.SetMaxValue(maxValue);
        FFileRate.Start(maxValue, TRateMeter::Clock::now());
    }
    if (gauge == 1) changed = FTotalGauge.SetMaxValue(maxValue);
    if (changed) Redraw();
}

void TerminalView::SetFileProgress(int32_t position) {
    FFileRate.Progress(position, TRateMeter::Clock::now());
    if (FFileGauge.SetProgress(position)) Redraw();
}

void TerminalView::SetTotalProgress(int32_t position) {
    if (FTotalGauge.SetProgress(position)) Redraw();
}

void TerminalView::SaveRevision(const std::string& revision) {
    WriteSetting(FSettings, "AtRevision", revision);
    FSavedRevision = revision;
}

void TerminalView::SaveListTrust(const std::string& updateKey, const std::string& listSeq) {
    WriteListTrust(FSettings, updateKey, listSeq);
}

void TerminalView::SaveRolloutNumber(const std::string& number) { WriteSetting(FSettings, RolloutNumberSetting, number); }

void TerminalView::Notice(const std::string& text) {
    Finish();
    std::fprintf(FOut, "orvex-update: %s\n", EscapeControls(text).c_str());
    std::fflush(FOut);
    Redraw();
}

void TerminalView::Redraw() {
    if (!FInteractive) return;
    // Narrow terminals get shorter bars, so the rate and some of the status still fit.
    const int cells = std::clamp((FWidth - 70) / 2, 8, 20);
    const std::string rate = FFileRate.Text();
    std::string line = "file " + Bar(FFileGauge, cells) + (rate.empty() ? "" : " " + rate) + "  total " +
                       Bar(FTotalGauge, cells) + "  " + FStatus;
    if (static_cast<int>(line.size()) > FWidth - 1) line.resize(static_cast<std::size_t>(FWidth - 1));
    if (line == FDrawn) return;
    std::string padded = line;
    if (FDrawn.size() > line.size()) padded.append(FDrawn.size() - line.size(), ' ');
    std::fprintf(FOut, "\r%s", padded.c_str());
    std::fflush(FOut);
    FDrawn = line;
    FLineOpen = true;
}

void TerminalView::Conclude(const std::string& finalStatus) {
    const std::string last = finalStatus.empty() ? "Up to date" : EscapeControls(finalStatus);
    if (FInteractive) {
        FStatus.clear();
        Redraw();
        Finish();
    } else if (last == FLastPrinted) {
        return;
    }
    std::fprintf(FOut, "%s\n", last.c_str());
    std::fflush(FOut);
    FLastPrinted = last;
}

void TerminalView::Finish() {
    if (FLineOpen) {
        std::fputc('\n', FOut);
        std::fflush(FOut);
        FLineOpen = false;
        FDrawn.clear();
    }
}

}  // namespace orvex
