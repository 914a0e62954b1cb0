#pragma once
// What the operator sees while a folder is published or checked: a redrawn status line on a
// terminal, plain lines (or nothing) otherwise.
#include "tools/common/ByteText.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/ServerVerify.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace orvex {

// One line redrawn in place, at most ten times a second.
class TStatusLine {
public:
    explicit TStatusLine(std::FILE* out) : FOut(out) {}
    // Draws text over the line unless it was drawn less than 100 ms ago; final texts always.
    void Show(const std::string& text, bool final);
    // Moves on to the next line, keeping what the line shows.
    void End();
    // Blanks the line and goes back to its start, so what follows is written on it.
    void Erase();

private:
    std::FILE* FOut;
    std::size_t FShown = 0;  // characters on the line
    std::chrono::steady_clock::time_point FLastDraw{};
};

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
    TStatusLine FLine;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

// "copies 120/3000  1.2 GiB of 4.5 GiB": how far verify has come.
std::string VerifyStatus(const TVerifyProgress& progress);

// What verify checked, for the end of its output: the files, copies and chunks, and the list's Rev
// with what its signature says (its key id, seq, channel and expiry as a UTC date and time).
std::string CheckedSummary(const TServerCheck& check);

}  // namespace orvex
