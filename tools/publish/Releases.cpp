#include "tools/publish/Releases.h"

#include "base/Os.h"
#include "base/Path.h"
#include "base/Text.h"
#include "formats/BZip2.h"
#include "formats/Sha256.h"
#include "formats/UpdateList.h"
#include "tools/publish/ChunkStore.h"
#include "tools/publish/FileText.h"
#include "tools/publish/ListSignature.h"
#include "update/ChunkedCopy.h"
#include "util/Parallel.h"

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <set>

namespace orvex {

std::string ReleaseFolderIn(const std::string& serverDir, const std::string& name) {
    return JoinPath(JoinPath(serverDir, ReleasesFolder), name);
}

std::vector<TKeptRelease> ReadReleases(const std::string& serverDir) {
    std::vector<TKeptRelease> releases;
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(JoinPath(serverDir, ReleasesFolder), entries)) return releases;
    for (const os::TFolderEntry& entry : entries) {
        if (!entry.IsFolder || !IsReleaseName(entry.Name)) continue;
        try {
            const TPreviousList list = ReadPreviousList(ReleaseFolderIn(serverDir, entry.Name));
            if (list.Present) releases.push_back({entry.Name, list.Rev, list.IndexHash});
        } catch (const EPublishError&) {
            // A damaged release is no release: verify names it.
        }
    }
    std::sort(releases.begin(), releases.end(), [](const TKeptRelease& a, const TKeptRelease& b) {
        return a.Rev != b.Rev ? a.Rev > b.Rev : a.Name > b.Name;
    });
    return releases;
}

bool HoldsReleases(const std::string& serverDir) { return !ReadReleases(serverDir).empty(); }

void StageRelease(const std::string& serverDir, const std::string& name, const TReleaseFiles& files,
                  TStagedFiles& staged) {
    const std::string folder = ReleaseFolderIn(serverDir, name);
    const auto stageChanged = [&](const std::string& target, const std::string& bytes) {
        if (!os::FileExists(target) || ReadWholeFile(target) != bytes) staged.StageBytes(target, bytes);
    };
    stageChanged(JoinPath(folder, ChunkIndexName), files.Index);
    const std::string signature = JoinPath(folder, ListSignatureName);
    if (files.Signature) stageChanged(signature, *files.Signature);
    else if (os::FileExists(signature)) staged.StageRemoval(signature);
    stageChanged(JoinPath(folder, PackedListName), files.PackedList);
}

namespace {

// Deletes folder's files and folders, never following a link (a link itself goes).
void RemoveTree(const std::string& folder) {
    std::vector<os::TFolderEntry> entries;
    if (os::ListFolder(folder, entries))
        for (const os::TFolderEntry& entry : entries) {
            const std::string path = JoinPath(folder, entry.Name);
            if (entry.IsFolder && os::EntryKind(path) == os::TEntryKind::Folder) RemoveTree(path);
            else if (!os::DeleteFile(path)) static_cast<void>(os::RemoveLink(path));
        }
    static_cast<void>(os::RemoveDir(folder));
}

}  // namespace

namespace {

TReleaseCost CostFrom(const TPreviousList& from, const std::optional<TChunkIndex>& fromIndex,
                      const std::vector<const TPublishedFile*>& files, const std::map<std::string, const TChunkedFile*>& chunked) {
    TReleaseCost cost;
    cost.Rev = from.Rev;
    cost.Chunked = fromIndex.has_value() && !chunked.empty();
    std::map<std::string, const TChunkedFile*> before;
    if (fromIndex)
        for (const TChunkedFile& file : fromIndex->Files) before.emplace(file.Path, &file);
    std::set<std::string> listed;
    for (const TPublishedFile* file : files) {
        listed.insert(file->Path);
        const auto held = from.Entries.find(file->Path);
        if (held != from.Entries.end() && held->second.MD5 == file->MD5) continue;
        ++(held == from.Entries.end() ? cost.Added : cost.Changed);
        cost.CopyBytes += static_cast<uint64_t>(file->Size);
        const auto now = chunked.find(file->Path);
        if (now == chunked.end()) continue;
        cost.WrittenBytes += now->second->Size;
        std::set<TSha256Digest> reused;
        if (const auto old = before.find(file->Path); old != before.end())
            for (const TChunkRef& chunk : old->second->Chunks) reused.insert(chunk.Hash);
        for (const TChunkRef& chunk : now->second->Chunks)
            if (reused.insert(chunk.Hash).second) cost.ChunkBytes += chunk.CompressedSize;
    }
    for (const auto& [path, entry] : from.Entries) cost.Removed += listed.contains(path) ? 0 : 1;
    return cost;
}

}  // namespace

std::vector<TReleaseCost> ReleaseCosts(const std::string& serverDir, const TPreviousList& previous,
                                       const TPublishedFolder& folder, const TChunkIndex& index) {
    std::vector<const TPublishedFile*> files;
    if (folder.Self) files.push_back(&*folder.Self);
    for (const TPublishedFile& file : folder.Critical) files.push_back(&file);
    for (const TPublishedFile& file : folder.Normal) files.push_back(&file);
    std::map<std::string, const TChunkedFile*> chunked;
    for (const TChunkedFile& file : index.Files) chunked.emplace(file.Path, &file);
    std::vector<TReleaseCost> costs;
    costs.push_back(CostFrom(previous, ReadPublishedIndex(serverDir, previous.IndexHash), files, chunked));
    costs.back().From = "current";
    for (const TKeptRelease& release : ReadReleases(serverDir)) {
        if (release.IndexHash == previous.IndexHash && release.Rev == previous.Rev) continue;
        const std::string folderOf = ReleaseFolderIn(serverDir, release.Name);
        costs.push_back(CostFrom(ReadPreviousList(folderOf), ReadPublishedIndex(folderOf, release.IndexHash), files, chunked));
        costs.back().From = release.Name;
    }
    return costs;
}

std::vector<std::string> PruneReleases(const std::string& serverDir, std::size_t keep) {
    std::vector<std::string> removed;
    const std::vector<TKeptRelease> releases = ReadReleases(serverDir);
    for (std::size_t i = keep; i < releases.size(); ++i) {
        RemoveTree(ReleaseFolderIn(serverDir, releases[i].Name));
        removed.push_back(releases[i].Name);
    }
    return removed;
}

std::vector<TChunkIndex> KeptReleaseIndexes(const std::string& serverDir) {
    std::vector<TChunkIndex> indexes;
    for (const TKeptRelease& release : ReadReleases(serverDir))
        if (auto index = ReadPublishedIndex(ReleaseFolderIn(serverDir, release.Name), release.IndexHash))
            indexes.push_back(std::move(*index));
    return indexes;
}

std::vector<TReleaseAnnouncement> CarriedAnnouncements(const std::string& serverDir, const std::string& listText,
                                                       const std::string& except) {
    std::vector<TReleaseAnnouncement> carried;
    for (TReleaseAnnouncement& announcement : AnnouncementsOf(listText)) {
        if (announcement.Name == except) continue;
        const std::string list = JoinPath(ReleaseFolderIn(serverDir, announcement.Name), PackedListName);
        if (!os::FileExists(list)) continue;
        const std::string bytes = ReadWholeFile(list);
        if (Sha256Hex(bytes.data(), bytes.size()) == announcement.ListHash) carried.push_back(std::move(announcement));
    }
    return carried;
}

void StageAnnouncedSignatures(const std::string& serverDir, const std::string& text, const TListSigning& signing,
                              uint64_t seq, TStagedFiles& staged, const std::string& signedAlready) {
    for (const TReleaseAnnouncement& announcement : AnnouncementsOf(text)) {
        if (announcement.Name == signedAlready) continue;
        const std::string folder = ReleaseFolderIn(serverDir, announcement.Name);
        const std::string packed = ReadWholeFile(JoinPath(folder, PackedListName));
        staged.StageBytes(JoinPath(folder, ListSignatureName),
                          SignOrKeep(folder, packed, signing, ReadPreviousList(folder).Rev, true, seq).Signature);
    }
}

uint64_t StageCurrentList(const std::string& serverDir, const std::string& text, int32_t rev,
                          const std::optional<TListSigning>& signing, uint64_t seq, TStagedFiles& staged,
                          const std::string& signedAlready) {
    const std::string packed = PackListText(text);
    const std::string signatureFile = JoinPath(serverDir, ListSignatureName);
    std::optional<TSignedSummary> signature;
    if (signing) {
        StageAnnouncedSignatures(serverDir, text, *signing, seq, staged, signedAlready);
        signature = SignOrKeep(serverDir, packed, *signing, rev, true, seq);
    }
    staged.StageBytes(JoinPath(serverDir, ListFileName), text);
    if (signature) staged.StageBytes(signatureFile, signature->Signature);
    else if (os::FileExists(signatureFile)) staged.StageRemoval(signatureFile);
    staged.StageBytes(JoinPath(serverDir, PackedListName), packed);
    return signature ? signature->Seq : 0;
}

namespace {

// The list text with its Rev line set to rev.
std::string WithRev(const std::string& text, int32_t rev) {
    const std::string key = std::string("\r\n") + RevKey + "|";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) throw EPublishError("The release's list has no Rev line");
    const std::size_t value = at + key.size();
    const std::size_t end = text.find("\r\n", value);
    return text.substr(0, value) + IntToStr(rev) + text.substr(end);
}

// Writes the file the index describes from the store's chunks into target; its MD5 in hex.
std::string RebuildFromChunks(const std::string& serverDir, const TChunkedFile& file, const std::string& target) {
    const TChunkSources sources = FindChunkSources(file, TChunkerParams{}, "");
    const auto fetch = [&serverDir](const TChunkRef& chunk) {
        const std::string bytes = ReadWholeFile(ChunkFileIn(serverDir, chunk.Hash));
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    };
    TUnpackLimits room;
    room.FreeSpaceReserve = 0;
    return DigestToHex(AssembleChunkedFile(file, sources, "", target, fetch, room));
}

}  // namespace

namespace {

uint64_t NextSeq(const std::string& serverDir, const std::optional<TListSigning>& signing) {
    if (!signing) return 0;
    return signing->Seq ? *signing->Seq : NextSequence(serverDir, signing->SeqFile);
}

TPreviousList KeptRelease(const std::string& serverDir, const std::string& name) {
    const std::string folder = ReleaseFolderIn(serverDir, name);
    if (!IsReleaseName(name) || !os::FileExists(JoinPath(folder, PackedListName)))
        throw EPublishError("The server folder keeps no release \"" + name + "\"");
    return ReadPreviousList(folder);
}

TPreviousList CurrentList(const std::string& serverDir) {
    TPreviousList current = ReadPreviousList(serverDir);
    if (!current.Present) throw EPublishError("The server folder has no current list (" + std::string(PackedListName) + ")");
    if (current.Rev == std::numeric_limits<int32_t>::max()) throw EPublishError("Rev cannot be raised past 2147483647");
    return current;
}

// Stages every copy of release that the current list does not hold as the release lists it,
// rebuilt from the chunk store.
void StageRebuiltCopies(const std::string& serverDir, const std::string& name, const TPreviousList& release,
                        const TPreviousList& current, unsigned threads, TStagedFiles& staged,
                        TReleaseChange& change) {
    const std::string folder = ReleaseFolderIn(serverDir, name);
    const std::optional<TChunkIndex> index = ReadPublishedIndex(folder, release.IndexHash);
    if (!index) throw EPublishError("The release \"" + name + "\" has no chunk index its list names");
    std::map<std::string, const TChunkedFile*> chunked;
    for (const TChunkedFile& file : index->Files) chunked.emplace(file.Path, &file);
    std::vector<const TPublishedFile*> toRebuild;
    for (const auto& [path, entry] : release.Entries) {
        const auto held = current.Entries.find(path);
        if (held != current.Entries.end() && held->second.MD5 == entry.MD5 && held->second.Size == entry.Size &&
            os::FileSize(JoinPath(serverDir, path + PackedSuffix)) == entry.Size) {
            ++change.Reused;
            continue;
        }
        if (!chunked.contains(path)) throw EPublishError("The release's index does not hold \"" + path + "\"");
        toRebuild.push_back(&entry);
    }
    std::mutex lock;
    ParallelFor(toRebuild.size(), threads, [&](std::size_t i) {
        const TPublishedFile& entry = *toRebuild[i];
        TStagedFiles scratch;  // the rebuilt file, deleted once its copy is made
        const std::string rebuilt = scratch.Stage(JoinPath(folder, "rebuilt"));
        if (RebuildFromChunks(serverDir, *chunked.at(entry.Path), rebuilt) != entry.MD5)
            throw EPublishError("The chunk store does not rebuild \"" + entry.Path + "\" as the release lists it");
        const TCompressedFile copy =
            CompressFileInto(rebuilt, staged.Stage(JoinPath(serverDir, entry.Path + PackedSuffix)));
        if (copy.Size != entry.Size)
            throw EPublishError("The copy of \"" + entry.Path + "\" made again is not the size the release lists");
        const std::lock_guard<std::mutex> guard(lock);
        ++change.Rebuilt;
        change.BytesOut += copy.Size;
    });
}

}  // namespace

TReleaseChange MakeReleaseCurrent(const std::string& serverDir, const std::string& name, TCurrentRev rev,
                                  const std::optional<TListSigning>& signing, unsigned threads) {
    const TPreviousList release = KeptRelease(serverDir, name);
    const TPreviousList current = CurrentList(serverDir);
    const uint64_t seq = NextSeq(serverDir, signing);
    TReleaseChange change;
    change.Rev = rev == TCurrentRev::ReleaseOrNext && release.Rev > current.Rev ? release.Rev : current.Rev + 1;
    TStagedFiles staged;
    StageRebuiltCopies(serverDir, name, release, current, threads, staged, change);
    staged.StageBytes(JoinPath(serverDir, ChunkIndexName),
                      ReadWholeFile(JoinPath(ReleaseFolderIn(serverDir, name), ChunkIndexName)));
    const std::string text =
        WithAnnouncements(WithRev(release.Text, change.Rev), CarriedAnnouncements(serverDir, current.Text, name));
    change.Seq = StageCurrentList(serverDir, text, change.Rev, signing, seq, staged);
    staged.PlaceAll(JoinPath(serverDir, PublishMarkName));
    return change;
}

TReleaseChange SetRolloutShare(const std::string& serverDir, const std::string& name, int share,
                               const std::optional<TListSigning>& signing) {
    if (share < 1 || share > 99) throw EPublishError("A rollout's share is 1 to 99 percent");
    const TPreviousList current = CurrentList(serverDir);
    static_cast<void>(KeptRelease(serverDir, name));
    std::vector<TReleaseAnnouncement> announcements = CarriedAnnouncements(serverDir, current.Text, "");
    const auto announced = std::find_if(announcements.begin(), announcements.end(),
                                        [&name](const TReleaseAnnouncement& a) { return a.Name == name; });
    if (announced == announcements.end())
        throw EPublishError("The current list announces no release \"" + name + "\" (build --release " + name +
                            " --rollout P announces one)");
    announced->Kind = TReleaseAnnouncement::TKind::Rollout;
    announced->Share = share;
    const uint64_t seq = NextSeq(serverDir, signing);
    TStagedFiles staged;
    TReleaseChange change;
    change.Rev = current.Rev;
    change.Seq = StageCurrentList(serverDir, WithAnnouncements(current.Text, announcements), current.Rev, signing, seq, staged);
    staged.PlaceAll(JoinPath(serverDir, PublishMarkName));
    return change;
}

TReleaseChange WithdrawRelease(const std::string& serverDir, const std::string& name,
                               const std::optional<TListSigning>& signing) {
    const TPreviousList current = CurrentList(serverDir);
    const TPreviousList release = KeptRelease(serverDir, name);
    const std::vector<TReleaseAnnouncement> announced = AnnouncementsOf(current.Text);
    if (std::none_of(announced.begin(), announced.end(), [&name](const TReleaseAnnouncement& a) { return a.Name == name; }))
        throw EPublishError("The current list announces no release \"" + name + "\"");
    if (release.Rev == std::numeric_limits<int32_t>::max()) throw EPublishError("Rev cannot be raised past 2147483647");
    const uint64_t seq = NextSeq(serverDir, signing);
    TReleaseChange change;
    change.Rev = std::max(current.Rev, release.Rev) + 1;
    const std::string text =
        WithAnnouncements(WithRev(current.Text, change.Rev), CarriedAnnouncements(serverDir, current.Text, name));
    TStagedFiles staged;
    change.Seq = StageCurrentList(serverDir, text, change.Rev, signing, seq, staged);
    staged.PlaceAll(JoinPath(serverDir, PublishMarkName));
    return change;
}

}  // namespace orvex
