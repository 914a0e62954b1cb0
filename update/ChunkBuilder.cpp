#include "update/ChunkBuilder.h"

#include "base/CodePage.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "formats/Sha256.h"
#include "formats/md5.h"
#include "update/ChunkedCopy.h"
#include "update/RecordedReports.h"
#include "update/RunReports.h"
#include "update/Servers.h"
#include "util/OrderedAhead.h"
#include "util/Parallel.h"

#include <algorithm>

namespace orvex {

namespace {

// Chunks asked for at once, and how many may wait to be written.
constexpr unsigned ChunksInFlight = 4;
constexpr std::size_t ChunksAhead = 8;

}  // namespace

TChunkBuilder::TChunkBuilder(TServers& servers, TRunReports& reports, TDownload download, const TRunLimits& limits)
    : FServers(servers), FReports(reports), FDownload(std::move(download)), FMaxIndexBytes(limits.MaxPackedList),
      FThreads(limits.Threads == 0 ? CoreCount() : limits.Threads), FFreeSpaceReserve(limits.FreeSpaceReserve) {}

void TChunkBuilder::UseIndex(std::string baseDir, std::string indexHash, std::string indexAddress) {
    FBaseDir = std::move(baseDir);
    FIndexHash = std::move(indexHash);
    FIndexAddress = std::move(indexAddress);
    FLoaded = false;
    FIndex.reset();
    FFiles.clear();
}

// The index names files in UTF-8, as the server folder does.
bool TChunkBuilder::Holds(const std::string& path) const { return FIndex && FFiles.count(Utf8Name(path)) != 0; }

std::optional<uint64_t> TChunkBuilder::FileSize(const std::string& path) {
    LoadIndex();
    if (!Holds(path)) return std::nullopt;
    return FIndex->Files[FFiles.at(Utf8Name(path))].Size;
}

// Any trouble with the index leaves the run fetching whole copies, as it does from a folder
// without chunks.
void TChunkBuilder::LoadIndex() {
    if (FLoaded || FIndexHash.empty()) return;
    FLoaded = true;
    const std::string name = FBaseDir + ChunkIndexName;
    const TRemovedOnExit removed(name);
    const auto expected = DigestFromHex(FIndexHash);
    std::string why;
    if (!expected) {
        why = "the list's Index is not a SHA-256";
    } else if (!FDownload(FIndexAddress, name, FMaxIndexBytes)) {
        why = "it could not be downloaded";
    } else {
        // Hashed before anything of it is decoded: an index that is not the listed one costs no more
        // than its download.
        const std::vector<uint8_t> bytes = ReadFileBytes(name);
        if (Sha256(bytes.data(), bytes.size()) != *expected)
            why = "it is not the one the list names";
        else if (auto index = ReadChunkIndex(bytes.data(), bytes.size()); !index)
            why = index.Error;
        else
            FIndex = std::move(index.Value);
    }
    if (!why.empty()) {
        FReports.Notify(std::string("The chunk index was not used (") + why + "): copies are fetched whole");
        return;
    }
    for (std::size_t i = 0; i < FIndex->Files.size(); ++i) FFiles.emplace(FIndex->Files[i].Path, i);
}

TChunkBuilder::TBuildResult TChunkBuilder::Build(const TListEntry& entry, const std::string& localFile,
                                                 const std::string& target) {
    LoadIndex();
    if (!Holds(entry.Path)) return {};
    try {
        return {Assemble(FIndex->Files[FFiles.at(Utf8Name(entry.Path))], entry, localFile, target)};
    } catch (const EUnpackLimit& error) {
        FReports.Notify("\"" + entry.Path + "\" was not built from chunks (" + error.what() +
                        "): its whole copy would not fit either");
        return {std::nullopt, true};
    } catch (const std::exception& error) {
        FReports.Notify("\"" + entry.Path + "\" was not built from chunks (" + error.what() + "): its whole copy is fetched");
        FReports.FileBarMax(StrToInt(entry.Size));
        return {};
    }
}

// A few chunks on the way at once, each into memory; they are written in the file's order.
TChunkBuilder::TBuilt TChunkBuilder::Assemble(const TChunkedFile& file, const TListEntry& entry,
                                              const std::string& localFile, const std::string& target) {
    TUnpackLimits room;
    room.Volume = target;
    room.FreeSpaceReserve = FFreeSpaceReserve;
    CheckRoomToBuild(file, room);
    const TChunkSources sources = FindChunkSources(file, FIndex->Chunker, localFile);
    FReports.FileBarMax(Low32(static_cast<int64_t>(sources.DownloadBytes)));
    TTempFile built(target);
    struct TFetchedChunk {
        TDownloadOutcome Outcome;
        std::vector<uint8_t> Frame;
        TRecordedReports Notices;
    };
    TOrderedAhead<TFetchedChunk> fetching(
        sources.ToFetch.size(), FThreads < 2 ? 0 : ChunksInFlight, ChunksAhead, [&](std::size_t i, std::stop_token stop) {
            const TChunkRef& chunk = file.Chunks[sources.ToFetch[i]];
            TFetchedChunk fetched;
            fetched.Outcome = FServers.Fetch(
                ChunkStorePath(chunk.Hash),
                [&](const std::string& url, const TTransferLimits& limits) {
                    return FServers.TryToMemory(url, limits, fetched.Frame, chunk.CompressedSize, stop);
                },
                [&](const std::string& text) { fetched.Notices.Notify(text); }, stop,
                [&](int nextTry, int tries) { fetched.Notices.ShowRetry(nextTry, tries); });
            return fetched;
        });
    uint64_t downloaded = 0;
    const auto fetch = [&](const TChunkRef& chunk) {
        TFetchedChunk fetched = fetching.Take();
        fetched.Notices.ReplayTo(FReports);
        if (!fetched.Outcome) throw Exception(ChunkStorePath(chunk.Hash) + " could not be downloaded");
        downloaded += chunk.CompressedSize;
        FReports.FileBar(downloaded);
        return std::move(fetched.Frame);
    };
    const MD5Digest md5 = AssembleChunkedFile(file, sources, localFile, built.Name(), fetch, room);
    if (DigestToHex(md5) != entry.MD5) throw Exception("the built file does not match the update list");
    built.CommitOrRaise();
    return {entry.Path, sources.ReusedBytes, downloaded, entry.CopySize()};
}

}  // namespace orvex
