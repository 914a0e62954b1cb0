#pragma once
// Named releases kept in a server folder beside the current one: releases/NAME/ holds the release's
// list, its signature and its chunk index. Their files live in the shared chunk store, which is what
// lets a folder keep several releases for the cost of what differs between them.
#include "formats/ChunkIndex.h"
#include "formats/ReleaseAnnouncement.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/StagedFiles.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr std::size_t DefaultKeptReleases = 3;

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

// What the new folder and index cost the players at the current release (previous) and at each
// release serverDir keeps.
std::vector<TReleaseCost> ReleaseCosts(const std::string& serverDir, const TPreviousList& previous,
                                       const TPublishedFolder& folder, const TChunkIndex& index);

// Deletes the release folders beyond the keep newest. The names deleted, oldest last.
std::vector<std::string> PruneReleases(const std::string& serverDir, std::size_t keep);

// The chunk indexes of the releases serverDir keeps (those that read as indexes).
std::vector<TChunkIndex> KeptReleaseIndexes(const std::string& serverDir);

// The announcements of the current list (its text) that still name a kept release with the
// announced hash, except the one of release except.
std::vector<TReleaseAnnouncement> CarriedAnnouncements(const std::string& serverDir, const std::string& listText,
                                                       const std::string& except);

// Stages a signature with seq of the list of each release text announces: launchers that accepted
// the current list with seq take them.
void StageAnnouncedSignatures(const std::string& serverDir, const std::string& text, const TListSigning& signing,
                              uint64_t seq, TStagedFiles& staged, const std::string& signedAlready = "");

// Stages the current list's files.lst, signature and files.lst.bz2 for text, signed for rev with seq
// (unsigned: a signature the folder holds goes), each announced release's list signed again with
// seq just before, so that launchers that accepted the current list take them. The seq signed.
uint64_t StageCurrentList(const std::string& serverDir, const std::string& text, int32_t rev,
                          const std::optional<TListSigning>& signing, uint64_t seq, TStagedFiles& staged,
                          const std::string& signedAlready = "");

struct TReleaseChange {
    int32_t Rev = 0;          // of the current list after the change
    uint64_t Seq = 0;         // signed; 0 unsigned
    std::size_t Rebuilt = 0;  // copies made again from the chunk store
    std::size_t Reused = 0;   // copies the current list already had
    int64_t BytesOut = 0;     // of the rebuilt copies
};

enum class TCurrentRev {
    Next,            // one above the current list's (a rollback: every launcher takes it)
    ReleaseOrNext,   // the release's own Rev when above the current one (a promoted preload)
};

// Makes the kept release name current from the server folder alone: every copy the current list
// does not hold as the release needs it is made again from the chunk store, then the release's
// index, then its list (with the Rev rev decides) goes in place, with the announcements of other
// releases kept. Raises EPublishError when the release is not kept or its chunks do not rebuild
// its files.
TReleaseChange MakeReleaseCurrent(const std::string& serverDir, const std::string& name, TCurrentRev rev,
                                  const std::optional<TListSigning>& signing, unsigned threads);

// The current list announces the kept release name as a rollout to share percent (1 to 99) of the
// installations, with the same Rev; a preload announcement of it becomes that rollout.
TReleaseChange SetRolloutShare(const std::string& serverDir, const std::string& name, int share,
                               const std::optional<TListSigning>& signing);

// The current list announces name no more, with a Rev above the release's, so that launchers that
// took the release come back to the current one.
TReleaseChange WithdrawRelease(const std::string& serverDir, const std::string& name,
                               const std::optional<TListSigning>& signing);

}  // namespace orvex
