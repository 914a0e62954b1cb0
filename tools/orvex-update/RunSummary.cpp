#include "RunSummary.h"

#include "base/Text.h"
#include "tools/common/ByteText.h"

#include <cstdio>

namespace orvex {

namespace {

int64_t Signed(uint64_t bytes) { return static_cast<int64_t>(bytes); }

}  // namespace

std::string SummaryLine(const GFilesThread::TFetchSummary& fetched, double seconds) {
    std::string line = std::to_string(fetched.Installed) + (fetched.Installed == 1 ? " file" : " files") +
                       " fetched, " + std::to_string(fetched.Failed) + " failed, ";
    if (fetched.NotTried > 0) line += std::to_string(fetched.NotTried) + " not tried, ";
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    line += Bytes(Signed(fetched.Bytes)) + " downloaded in " + took;
    if (!fetched.Built.empty()) {
        uint64_t saved = 0;
        for (const auto& built : fetched.Built)
            if (built.WholeCopy > built.Downloaded) saved += built.WholeCopy - built.Downloaded;
        line += ", " + Bytes(Signed(saved)) + " fewer than the whole copies";
    }
    return line;
}

std::vector<std::string> DetailLines(const GFilesThread::TFetchSummary& fetched) {
    std::vector<std::string> lines;
    for (const auto& built : fetched.Built)
        lines.push_back(EscapeControls(built.Path) + ": built from chunks, " + Bytes(Signed(built.Reused)) +
                        " reused, " + Bytes(Signed(built.Downloaded)) + " downloaded");
    return lines;
}

}  // namespace orvex
