#include "update/PrefetchedCopy.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "base/Text.h"
#include "formats/md5.h"
#include "update/RunReports.h"

namespace orvex {

namespace {

// A path as Windows may take it: delimiters alike, ASCII letters folded, and every other letter
// alike too, since the system folds those as well.
std::string FoldedPath(const std::string& path) {
    std::string folded = LowerAscii(path);
    for (char& c : folded) {
        if (c == '/') c = '\\';
        else if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    }
    return folded;
}

}  // namespace

bool Apart(const std::string& a, const std::string& b) {
    const std::string x = FoldedPath(a), y = FoldedPath(b);
    return x.compare(0, y.size(), y) != 0 && y.compare(0, x.size(), x) != 0;
}

std::unique_ptr<TTempFile> UnpackVerified(const std::string& packed, const std::string& target, const std::string& md5,
                                          IUnpackObserver& observer, uint64_t freeSpaceReserve, unsigned threads) {
    auto unpacked = std::make_unique<TTempFile>(target);
    UnpackBZip2File(packed, unpacked->Name(), &observer, freeSpaceReserve, threads);
    if (DigestToHex(FileMD5(unpacked->Name())) != md5)
        throw Exception("the unpacked file does not match the update list");
    return unpacked;
}

TPrefetchedCopy::TPrefetchedCopy(std::string packed, TBackgroundDownload::TWork work, TUnpack unpack)
    : FPacked(std::move(packed)),
      FDownload(std::make_unique<TBackgroundDownload>(
          std::move(work), [this, unpack = std::move(unpack)](const TDownloadOutcome& outcome, std::stop_token stop) {
              UnpackAhead(unpack, outcome, std::move(stop));
          })) {}

TPrefetchedCopy::~TPrefetchedCopy() {
    FDownload.reset();
    FUnpacked.reset();  // a file not put in place goes
    if (FFollowed) return;
    RemoveIfPresent(FPacked);
    DiscardPartialCopy(FPacked);
}

TDownloadOutcome TPrefetchedCopy::Follow(TRunReports& reports) {
    FFollowed = true;
    return FDownload->Follow(reports);
}

void TPrefetchedCopy::Install(TRunReports& reports) {
    FDownload->WaitForThen();
    if (FRecorded) FRecorded->ReplayTo(reports);
    if (FError) std::rethrow_exception(FError);
    if (!FUnpacked) throw Exception("the copy was not unpacked");
    FUnpacked->CommitOrRaise();
}

void TPrefetchedCopy::UnpackAhead(const TUnpack& unpack, const TDownloadOutcome& outcome, std::stop_token stop) {
    if (!outcome || outcome.TooLong || outcome.Refused) return;
    FRecorded.emplace(std::move(stop));
    try {
        FUnpacked = unpack(*FRecorded);
    } catch (...) {
        FError = std::current_exception();
    }
}

std::unique_ptr<TPrefetchedCopy> TPrefetchWindow::Take(std::size_t index) {
    if (FAhead.empty() || FAhead.front().Index != index) return nullptr;
    std::unique_ptr<TPrefetchedCopy> copy = std::move(FAhead.front().Copy);
    FAhead.pop_front();
    return copy;
}

void TPrefetchWindow::FillAfter(std::size_t index, const std::string& currentPath) {
    std::vector<std::string> busy{currentPath};
    for (const TAhead& copy : FAhead) busy.push_back(copy.Path);
    for (std::size_t next = FAhead.empty() ? index + 1 : FAhead.back().Index + 1; FAhead.size() < FWidth; ++next) {
        TStarted started = FStart(next, busy);
        if (!started.Copy) return;
        busy.push_back(started.Path);
        FAhead.push_back({next, std::move(started.Path), std::move(started.Copy)});
    }
}

}  // namespace orvex
