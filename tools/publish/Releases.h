#pragma once
// Named releases kept in a server folder beside the current one: releases/NAME/ holds the release's
// list, its signature and its chunk index. Their files live in the shared chunk store, which is what
// lets a folder keep several releases for the cost of what differs between them.
#include "formats/ChunkIndex.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/StagedFiles.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr const char* ReleasesFolder = "releases";
inline constexpr std::size_t DefaultKeptReleases = 3;

// 1 to 64 of A-Z a-z 0-9 . _ -, not starting with a dot.
bool IsReleaseName(const std::string& name);

std::string ReleaseFolderIn(const std::string& serverDir, const std::string& name);

// Whether serverDir keeps releases: its releases/ folder is then not a client folder's copies.
bool HoldsReleases(const std::string& serverDir);

struct TKeptRelease {
    std::string Name;
    int32_t Rev = 0;
    std::string IndexHash;
};

// The releases serverDir keeps, newest (highest Rev) first; a folder under releases/ without a
// readable list is not one.
std::vector<TKeptRelease> ReadReleases(const std::string& serverDir);

// What a release folder holds: the bytes of files.lst.bz2, of its signature (none: unsigned) and of
// files.idx.zst.
struct TReleaseFiles {
    std::string PackedList;
    std::optional<std::string> Signature;
    std::string Index;
};

// Stages the release's files (a signature it held before is removed when the release is unsigned).
void StageRelease(const std::string& serverDir, const std::string& name, const TReleaseFiles& files,
                  TStagedFiles& staged);

// Deletes the release folders beyond the keep newest. The names deleted, oldest last.
std::vector<std::string> PruneReleases(const std::string& serverDir, std::size_t keep);

// The chunk indexes of the releases serverDir keeps (those that read as indexes).
std::vector<TChunkIndex> KeptReleaseIndexes(const std::string& serverDir);

struct TRollbackSummary {
    int32_t Rev = 0;
    uint64_t Seq = 0;
    std::size_t Rebuilt = 0;  // copies made again from the chunk store
    std::size_t Reused = 0;   // copies the current list already had
    int64_t BytesOut = 0;     // of the rebuilt copies
};

// Makes the kept release name current again, as a new Rev (one above the current list's) signed
// with a new sequence number, from the server folder alone: every copy the current list does not
// hold as the release needs it is made again from the chunk store, then the release's index, then
// the list. Raises EPublishError when the release is not kept or its chunks do not rebuild its files.
TRollbackSummary RollBackTo(const std::string& serverDir, const std::string& name, const TListSigning& signing,
                            unsigned threads);

}  // namespace orvex
