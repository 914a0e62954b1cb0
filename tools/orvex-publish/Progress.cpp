#include "Progress.h"

#include "base/Os.h"
#include "tools/publish/ListSignature.h"

#include <string>

namespace orvex {

namespace {

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string SignatureSummary(const TSignatureFacts& signature) {
    std::string text = "signed by key " + signature.KeyId + ", seq " + std::to_string(signature.Seq);
    if (!signature.Channel.empty()) text += ", channel " + signature.Channel;
    text += signature.Expires ? ", expires " + UtcTimeText(*signature.Expires) : ", no expiry";
    return text + (signature.Checked ? " (checked with --key)" : " (not checked: no --key)");
}

}  // namespace

void TStatusLine::Show(const std::string& text, bool final) {
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - FLastDraw < std::chrono::milliseconds(100)) return;
    FLastDraw = now;
    // Spaces cover what a longer text before left on the line.
    const std::size_t cover = FShown > text.size() ? FShown - text.size() : 0;
    std::fprintf(FOut, "\r%s%s", text.c_str(), std::string(cover, ' ').c_str());
    std::fflush(FOut);
    FShown = text.size() + cover;
}

void TStatusLine::End() {
    if (FShown > 0) std::fputc('\n', FOut);
    FShown = 0;
}

void TStatusLine::Erase() {
    if (FShown > 0) std::fprintf(FOut, "\r%s\r", std::string(FShown, ' ').c_str());
    std::fflush(FOut);
    FShown = 0;
}

TProgressReport::TProgressReport(std::FILE* out, bool terminal, bool quiet)
    : FOut(out), FTerminal(terminal), FQuiet(quiet), FLine(out) {}

double TProgressReport::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

void TProgressReport::File(const TPublishedFile& file, TFileOutcome outcome, const TPublishProgress& progress) {
    if (FQuiet) return;
    if (!FTerminal) {
        if (outcome == TFileOutcome::Compressed)
            std::fprintf(FOut, "compressed %s (%lld bytes)\n", os::NativePath(file.Path).c_str(),
                         static_cast<long long>(file.Size));
        return;
    }
    const double seconds = Seconds();
    const double rate = seconds > 0 ? static_cast<double>(progress.BytesDone) / seconds : 0;
    const std::string left =
        rate > 0 ? Duration(static_cast<double>(progress.BytesTotal - progress.BytesDone) / rate) : "?";
    char text[200];
    std::snprintf(text, sizeof text, "%zu/%zu files  %s of %s  %s/s  %s left", progress.FilesDone,
                  progress.FilesTotal, Bytes(progress.BytesDone).c_str(), Bytes(progress.BytesTotal).c_str(),
                  Bytes(static_cast<int64_t>(rate)).c_str(), left.c_str());
    FLine.Show(text, progress.FilesDone == progress.FilesTotal);
}

void TProgressReport::Done() { FLine.End(); }

std::string VerifyStatus(const TVerifyProgress& progress) {
    return std::string(progress.Stage) + " " + std::to_string(progress.Done) + "/" + std::to_string(progress.Total) +
           "  " + Bytes(progress.BytesDone) + " of " + Bytes(progress.BytesTotal);
}

std::string CheckedSummary(const TServerCheck& check) {
    std::string text = "  checked " + std::to_string(check.Files) + " listed files, " + std::to_string(check.Copies) +
                       " whole copies (" + Bytes(check.CopyBytes) + ")";
    if (check.Chunks > 0) text += ", " + std::to_string(check.Chunks) + " chunks";
    text += "\n  Rev " + (check.Rev.empty() ? std::string("missing") : check.Rev) + ", ";
    return text + (check.Signature ? SignatureSummary(*check.Signature) : std::string("unsigned")) + "\n";
}

}  // namespace orvex
