#pragma once
// What the operator sees while a folder is published: a redrawn status line on a terminal, plain
// lines otherwise.
#include "tools/publish/ServerFolder.h"

#include <chrono>
#include <cstdio>

namespace orvex {

class TProgressReport {
public:
    TProgressReport(std::FILE* out, bool terminal, bool quiet);
    // Called once per file, never from two threads at once.
    void File(const TPublishedFile& file, TFileOutcome outcome, const TPublishProgress& progress);
    // Ends the status line.
    void Done();
    double Seconds() const;

private:
    std::FILE* FOut;
    bool FTerminal;
    bool FQuiet;
    bool FLineOpen = false;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLastDraw{};
};

// "12.3 MiB" style.
std::string Bytes(int64_t count);

}  // namespace orvex
