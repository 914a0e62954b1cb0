#include "tools/publish/ServerFolder.h"

#include "base/Os.h"
#include "base/MemoryStream.h"
#include "base/CodePage.h"
#include "base/Path.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "formats/BZ2FileCheck.h"
#include "formats/LstFile.h"
#include "formats/Sha256.h"
#include "tools/publish/BZ2Compressor.h"
#include "formats/encode/ChunkIndexFile.h"
#include "tools/publish/ChunkStore.h"
#include "tools/publish/FileText.h"
#include "tools/publish/ListSignature.h"
#include "tools/publish/Releases.h"
#include "tools/publish/StagedFiles.h"
#include "util/Parallel.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <vector>

namespace orvex {
namespace {

constexpr std::size_t ChunkSize = std::size_t{1} << 20;

bool HasControlOrBar(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32 || c == '|') return true;
    return false;
}

std::string Unlistable(const char* what, const std::string& text) {
    return Format("%s \"%s\" cannot be listed", what, text.c_str());
}

std::string Unpublishable(const std::string& path, const std::string& reason) {
    return Format("\"%s\" %s: it cannot be published", os::NativePath(path).c_str(), reason.c_str());
}

// The path with "\" between folders, as this system names it.
std::string ListedPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The path as the list names it, in the list's code page; refuses paths that code page cannot
// hold and those a launcher would refuse (the rule of base/Path, for an installation in a folder
// of the assumed length).
std::string ListName(const std::string& path, unsigned codePage, const TInstallPlace& place, TStringList& refusals) {
    const std::optional<std::string> listed = LocalNameIn(codePage, ListedPath(path));
    if (!listed) {
        refusals.push_back(
            Format("The name \"%s\" cannot be written in the list's code page %u", path.c_str(), codePage));
        return path;
    }
    if (const auto reason = RefusedListPath(*listed, place)) refusals.push_back(Unpublishable(path, *reason));
    return *listed;
}

bool BeyondAscii(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool NamesBeyondAscii(const TPublishedFolder& folder) {
    const auto any = [](const std::vector<TPublishedFile>& files) {
        return std::any_of(files.begin(), files.end(), [](const TPublishedFile& file) { return BeyondAscii(file.Path); });
    };
    return any(folder.Critical) || any(folder.Normal);
}

void CheckSelfName(const std::string& name, const TInstallPlace& place, TStringList& refusals) {
    if (const auto reason = RefusedSelfName(name, place))
        refusals.push_back(Unpublishable(name, "as the self entry " + *reason));
}

// Held to the clients' rule, which refuses the whole list for one bad entry.
void CheckHost(const THostEntry& host, TStringList& refusals) {
    if (host.Address.empty() || HasControlOrBar(host.Address)) {
        refusals.push_back(Unlistable("Host address", host.Address));
    } else if (host.Host.empty() || HasControlOrBar(host.Host)) {
        refusals.push_back(Unlistable("Host name", host.Host));
    } else {
        try {
            static_cast<void>(ParseHostEntry(host.Address + "|" + host.Host));
        } catch (const EListError& error) {
            refusals.push_back(error.what());
        }
    }
}

void CheckCopySize(const std::string& listed, int64_t size) {
    // The launcher reads SIZE as a 32-bit number.
    if (size > INT32_MAX)
        throw EPublishError(Format("The compressed copy of \"%s\" is too large to be listed", listed.c_str()));
}

void RememberEntries(const TStringList& section, std::map<std::string, TPublishedFile>& entries) {
    if (IsEmptySection(section)) return;
    for (const std::string& line : section) {
        const TListEntry entry = SplitListEntry(line);
        int32_t size = 0;
        if (entry.FieldCount != 3 || !TryStrToInt(entry.Size, size)) continue;  // never reused
        entries[entry.Path] = TPublishedFile{entry.Path, entry.MD5, size};
    }
}

void RemoveUnlistedCopies(const std::string& dir, const std::string& prefix, const std::set<std::string>& keep,
                          std::size_t& pruned) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) return;
    for (const os::TFolderEntry& entry : entries) {
        const std::string path = JoinPath(dir, entry.Name);
        const std::string listed = prefix + entry.Name;
        if (entry.IsFolder) {
            if (os::EntryKind(path) != os::TEntryKind::Folder) continue;  // a link: what it points to is not ours
            RemoveUnlistedCopies(path, listed + "\\", keep, pruned);
            std::vector<os::TFolderEntry> rest;
            if (os::ListFolder(path, rest) && rest.empty()) static_cast<void>(os::RemoveDir(path));  // kept if busy
        } else if (listed.size() > 4 && listed.ends_with(PackedSuffix) && !keep.contains(listed)) {
            if (os::DeleteFile(path)) ++pruned;
        }
    }
}

TCompressedFile Compress(TStream& input, TStream& output) {
    TCompressedFile result;
    TBZ2Compressor compressor(output, 9);
    std::vector<char> buffer(ChunkSize);
    MD5_CTX context;
    MD5Init(context);
    for (std::size_t got; (got = input.Read(buffer.data(), buffer.size())) != 0;) {
        MD5Update(context, buffer.data(), static_cast<uint32_t>(got));
        compressor.Write(buffer.data(), got);
    }
    compressor.Finish();
    MD5Final(context, result.SourceDigest);
    result.Size = compressor.CompressedSize();
    return result;
}

}  // namespace

TCompressedFile CompressFile(const std::string& source, const std::string& target) {
    TFileStream input(source, FileMode::OpenRead);
    TCompressedFile result;
    WriteInPlace(target, [&](TStream& output) { result = Compress(input, output); });
    return result;
}

TCompressedFile CompressFileInto(const std::string& source, const std::string& file) {
    TFileStream input(source, FileMode::OpenRead);
    TFileStream output(file, FileMode::Create);
    return Compress(input, output);
}

std::string FormatUpdateList(const TPublishDescription& description, const TPublishedFolder& folder) {
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + "\r\n"; };
    const auto files = [&line](const char* section, const std::vector<TPublishedFile>& entries) {
        line(OpeningTag(section));
        for (const TPublishedFile& entry : entries) line(FormatListEntry(entry.Path, entry.MD5, entry.Size));
        line(ClosingTag(section));
    };

    line(OpeningTag(SettingsSection));
    line(std::string(RevKey) + "|" + IntToStr(description.Rev));
    line(std::string(ModHostsKey) + "|" + IntToStr(description.ModHosts));
    // Only where it matters, so a list of ASCII names reads as it always did.
    if (NamesBeyondAscii(folder)) line(std::string(CodePageKey) + "|" + std::to_string(description.CodePage));
    if (!folder.IndexHash.empty()) line(std::string(IndexKey) + "|" + folder.IndexHash);
    if (description.RemoveUnlisted) line(std::string(RemoveUnlistedKey) + "|1");
    line(ClosingTag(SettingsSection));
    line(OpeningTag(HostsSection));
    for (const THostEntry& host : description.Hosts) line(host.Address + "|" + host.Host);
    line(ClosingTag(HostsSection));
    if (folder.Self) files(SelfSection, {*folder.Self});
    files(CriticalSection, folder.Critical);
    files(NormalSection, folder.Normal);
    if (!description.NextKeys.empty()) {
        line(OpeningTag(KeysSection));
        for (const minisign::TPublicKey& key : description.NextKeys) line(minisign::PublicKeyLine(key));
        line(ClosingTag(KeysSection));
    }
    return text;
}

TPublishedFolder BuildServerFolder(const std::string& clientDir, const std::string& serverDir,
                                   const TPublishDescription& description) {
    TPublishOptions options;
    options.Incremental = false;
    options.Rev = description.Rev;
    return PublishServerFolder(clientDir, serverDir, description, options).Folder;
}

TPreviousList ReadPreviousList(const std::string& serverDir) {
    TPreviousList previous;
    const std::string packed = JoinPath(serverDir, PackedListName);
    if (!os::FileExists(packed)) return previous;
    const TStreamCheck check =
        DecodeOneStream(packed, [&previous](const char* data, std::size_t count) { previous.Text.append(data, count); });
    if (check != TStreamCheck::Whole)
        throw EPublishError(Format("The published list \"%s\" %s", packed.c_str(), DescribeStreamCheck(check)));
    const TUpdateList list = ReadUpdateList(previous.Text);
    if (!TryStrToInt(list.Rev, previous.Rev))
        throw EPublishError(Format("The published list \"%s\" has no whole-number Rev", packed.c_str()));
    previous.Present = true;
    previous.IndexHash = TListFile::FromText(previous.Text).GetValue(SettingsSection, IndexKey);
    RememberEntries(list.Self, previous.Entries);
    RememberEntries(list.Critical, previous.Entries);
    RememberEntries(list.Normal, previous.Entries);
    return previous;
}

namespace {

// Each listed file once, however often it is listed: the self file, then the critical, then the
// normal files, with the size of each.
struct TPublishPlan {
    TStringList Critical;  // as this system names them, "\" between folders
    TStringList Normal;
    TStringList Sources;
    TStringList ListNames;  // by plan index: as the list names them, in its code page
    std::map<std::string, std::size_t> IndexOf;
    std::vector<int64_t> Sizes;
    // Largest first, so no large file starts last on one core while the others idle.
    std::vector<std::size_t> Order;
};

// Raises one EPublishError naming every entry the list cannot carry, before anything is written.
TPublishPlan PlanPublish(const std::string& clientDir, const TPublishDescription& description) {
    // Where players install the client is not known here: an installation folder of the assumed
    // length, whose launcher is the self entry.
    TInstallPlace place;
    place.LauncherName = description.SelfName;
    if (const auto unusable = UnusableCodePage(description.CodePage)) throw EPublishError(*unusable);
    TStringList refusals;
    if (!description.SelfName.empty()) CheckSelfName(description.SelfName, place, refusals);
    for (const THostEntry& host : description.Hosts) CheckHost(host, refusals);
    TPublishPlan plan;
    std::map<std::string, std::string> listNames;  // by the path as this system names it
    const auto take = [&](const std::string& path, TStringList& into) {
        into.push_back(ListedPath(path));
        listNames.emplace(into.back(), ListName(path, description.CodePage, place, refusals));
    };
    for (const std::string& path : description.CriticalFiles) take(path, plan.Critical);
    for (const std::string& path : description.NormalFiles) take(path, plan.Normal);
    // Printable ASCII, or refused above by the self rule.
    if (!description.SelfName.empty()) listNames.emplace(description.SelfName, description.SelfName);

    const auto add = [&plan, &listNames](const std::string& listed) {
        if (!plan.IndexOf.emplace(listed, plan.Sources.size()).second) return;
        plan.Sources.push_back(listed);
        plan.ListNames.push_back(listNames.at(listed));
    };
    if (!description.SelfName.empty()) add(description.SelfName);
    for (const std::string& path : plan.Critical) add(path);
    for (const std::string& path : plan.Normal) add(path);
    RaiseRefusals(refusals);
    // Again here, for sound paths only (a device name may open a device): a link or FIFO may have
    // come since the folder was listed.
    for (const std::string& listed : plan.Sources)
        if (const auto refused = RefusedKind(JoinPath(clientDir, listed), listed)) refusals.push_back(*refused);
    RaiseRefusals(refusals);

    for (const std::string& listed : plan.Sources)
        plan.Sizes.push_back(std::max<int64_t>(0, os::FileSize(JoinPath(clientDir, listed))));
    plan.Order.resize(plan.Sources.size());
    std::iota(plan.Order.begin(), plan.Order.end(), std::size_t{0});
    std::stable_sort(plan.Order.begin(), plan.Order.end(),
                     [&plan](std::size_t a, std::size_t b) { return plan.Sizes[a] > plan.Sizes[b]; });
    return plan;
}

// The previous index's entries by path, when the previous list names that index.
std::map<std::string, TChunkedFile> PreviousChunks(const std::string& serverDir, const TPreviousList& previous) {
    std::map<std::string, TChunkedFile> entries;
    if (std::optional<TChunkIndex> index = ReadPublishedIndex(serverDir, previous.IndexHash))
        for (TChunkedFile& file : index->Files) entries.emplace(file.Path, std::move(file));
    return entries;
}

// A file's entry in the index: the previous one for a file whose copy was reused, when it has the
// file's size and its chunks are all in the store; otherwise the file is cut and stored again.
TChunkedFile ChunkOrReuse(const std::string& source, const std::string& listed, int64_t size, bool copyReused,
                          const std::string& serverDir, const std::map<std::string, TChunkedFile>& previousChunks,
                          TChunkClaims& claims, TStoredFile& stored) {
    if (copyReused)
        if (const auto known = previousChunks.find(listed); known != previousChunks.end() &&
                                                           known->second.Size == static_cast<uint64_t>(size) &&
                                                           ChunksPresent(serverDir, known->second))
            return known->second;
    stored = StoreFileChunks(source, listed, serverDir, claims);
    return std::move(stored.Entry);
}

// Why the copy of a file the published list names is not the copy published: missing, or not of
// the listed size (cut short or written over on the server). Nothing when it has the listed size.
std::optional<std::string> DamagedCopy(const std::string& copy, const TPublishedFile& known) {
    const int64_t size = os::FileSize(copy);
    if (size == known.Size) return std::nullopt;
    if (size < 0) return std::string("was missing");
    return Format("had %lld bytes, the list says %lld", static_cast<long long>(size),
                  static_cast<long long>(known.Size));
}

// Reuses the copy of a file the published list names with its digest and the copy's size, or
// compresses it into a staged copy; damage tells why a copy the list names was not reused.
TFileOutcome CompressOrReuseOne(const std::string& source, const std::string& listed, const TPublishedFile* known,
                                const std::string& copy, TStagedFiles& staged, TPublishedFile& published,
                                std::optional<std::string>& damage) {
    if (known) {
        damage = DamagedCopy(copy, *known);
        if (!damage && DigestToHex(FileMD5(source)) == known->MD5) {
            published = *known;
            return TFileOutcome::Reused;
        }
    }
    const TCompressedFile compressed = CompressFileInto(source, staged.Stage(copy));
    CheckCopySize(listed, compressed.Size);
    published = TPublishedFile{listed, DigestToHex(compressed.SourceDigest), compressed.Size};
    return TFileOutcome::Compressed;
}

struct TFileResults {
    std::vector<TPublishedFile> Published;  // by plan index
    std::vector<TChunkedFile> Chunked;      // by plan index; empty without a chunk store
};

// Compresses every planned file on several threads, or reuses its copy when the published list
// names it unchanged and the copy still has the listed size; with options.Chunks, stores its chunks
// too.
TFileResults CompressOrReuse(const TPublishPlan& plan, const std::string& clientDir, const std::string& serverDir,
                             const TPreviousList& previous, const TPublishOptions& options,
                             TStagedFiles& staged, TPublishSummary& summary) {
    TFileResults results;
    std::vector<TPublishedFile>& published = results.Published;
    published.resize(plan.Sources.size());
    std::map<std::string, TChunkedFile> previousChunks;
    TChunkClaims claims(!options.DryRun);
    if (options.Chunks) {
        results.Chunked.resize(plan.Sources.size());
        if (options.Incremental) previousChunks = PreviousChunks(serverDir, previous);
    }
    TPublishProgress progress;
    progress.FilesTotal = plan.Sources.size();
    for (const int64_t size : plan.Sizes) progress.BytesTotal += size;
    std::mutex reportLock;
    ParallelFor(plan.Order.size(), options.Threads, [&](std::size_t k) {
        const std::size_t i = plan.Order[k];
        // The copy and the index go by the file's own name, the entry by the list's.
        const std::string& local = plan.Sources[i];
        const std::string& listed = plan.ListNames[i];
        const std::string source = JoinPath(clientDir, local);
        const auto known = options.Incremental ? previous.Entries.find(listed) : previous.Entries.end();
        std::optional<std::string> damage;
        const TFileOutcome outcome =
            CompressOrReuseOne(source, listed, known == previous.Entries.end() ? nullptr : &known->second,
                               JoinPath(serverDir, local + PackedSuffix), staged, published[i], damage);
        TStoredFile chunked;
        if (options.Chunks)
            results.Chunked[i] = ChunkOrReuse(source, Utf8Name(local), plan.Sizes[i], outcome == TFileOutcome::Reused,
                                              serverDir, previousChunks, claims, chunked);
        const std::lock_guard<std::mutex> lock(reportLock);
        summary.ChunksWritten += chunked.ChunksWritten;
        summary.ChunksReplaced += chunked.ChunksReplaced;
        summary.ChunkBytesWritten += chunked.BytesWritten;
        if (damage) summary.CopiesReplaced.push_back(os::NativePath(local + PackedSuffix) + " " + *damage);
        ++progress.FilesDone;
        progress.BytesDone += plan.Sizes[i];
        if (outcome == TFileOutcome::Compressed) {
            ++summary.Compressed;
            summary.BytesIn += plan.Sizes[i];
            summary.BytesOut += published[i].Size;
            if (const auto old = previous.Entries.find(listed); old != previous.Entries.end())
                summary.BytesReplaced += old->second.Size;
        } else {
            ++summary.Reused;
        }
        if (options.OnFile) options.OnFile(published[i], outcome, progress);
    });
    std::sort(summary.CopiesReplaced.begin(), summary.CopiesReplaced.end());
    return results;
}

TPublishedFolder ListedFolder(const TPublishPlan& plan, const std::string& selfName,
                              const std::vector<TPublishedFile>& published) {
    TPublishedFolder folder;
    if (!selfName.empty()) folder.Self = published[plan.IndexOf.at(selfName)];
    for (const std::string& path : plan.Critical) folder.Critical.push_back(published[plan.IndexOf.at(path)]);
    for (const std::string& path : plan.Normal) folder.Normal.push_back(published[plan.IndexOf.at(path)]);
    return folder;
}

// The Rev asked for, else the published one, raised by one when the list would change.
int32_t DecideRev(TPublishDescription description, const TPublishedFolder& folder, const TPreviousList& previous,
                  const TPublishOptions& options) {
    if (options.Rev) return *options.Rev;
    description.Rev = previous.Rev;
    if (previous.Present && FormatUpdateList(description, folder) == WithAnnouncements(previous.Text, {}))
        return previous.Rev;
    if (previous.Rev == INT32_MAX) throw EPublishError("Rev cannot be raised past 2147483647");
    return previous.Rev + 1;
}

}  // namespace

std::string PackListText(const std::string& text) {
    TMemoryStream input(std::vector<uint8_t>(text.begin(), text.end()));
    TMemoryStream output;
    static_cast<void>(Compress(input, output));
    return std::string(output.Bytes().begin(), output.Bytes().end());
}

namespace {

// What signs the list after the burst: a new signature of packed, the one the folder holds, or
// none (and whether one the folder holds goes because it cannot sign the new list).
struct TSignatureOutcome {
    std::optional<std::string> Written;
    bool Removed = false;
    std::optional<std::string> After;
};

TSignatureOutcome DecideSignature(const std::string& serverDir, const std::string& packed,
                                  const TPublishOptions& options, std::optional<uint64_t> seq,
                                  TPublishSummary& summary) {
    const std::string signature = JoinPath(serverDir, ListSignatureName);
    TSignatureOutcome outcome;
    if (!options.Signing) {
        summary.SignatureRemoved =
            options.RemoveStaleSignature && os::FileExists(signature) &&
            (summary.ListChanged || !CheckSignedRev(serverDir, IntToStr(summary.Rev)).empty());
        outcome.Removed = summary.SignatureRemoved;
        if (!outcome.Removed && os::FileExists(signature)) outcome.After = ReadWholeFile(signature);
        return outcome;
    }
    const TSignedSummary signed_ = SignOrKeep(serverDir, packed, *options.Signing, summary.Rev, summary.ListChanged, *seq);
    summary.Signed = signed_.Written;
    summary.Seq = signed_.Seq;
    if (signed_.Written) outcome.Written = signed_.Signature;
    outcome.After = signed_.Written ? signed_.Signature : ReadWholeFile(signature);
    return outcome;
}

// The release's files (with options.Release), then files.lst when its text differs, the
// signature, then files.lst.bz2, the one clients fetch, when the list changed.
void StageList(const std::string& serverDir, const std::string& text, const std::string& indexBytes,
               const TPublishOptions& options, std::optional<uint64_t> seq, TStagedFiles& staged,
               TPublishSummary& summary) {
    const std::string list = JoinPath(serverDir, ListFileName);
    const std::string packedFile = JoinPath(serverDir, PackedListName);
    const std::string packed = summary.ListChanged ? PackListText(text) : ReadWholeFile(packedFile);
    const TSignatureOutcome signature = DecideSignature(serverDir, packed, options, seq, summary);
    if (!options.Release.empty())
        StageRelease(serverDir, options.Release, TReleaseFiles{packed, signature.After, indexBytes}, staged);
    if (signature.Written) StageAnnouncedSignatures(serverDir, text, *options.Signing, summary.Seq, staged);
    if (!os::FileExists(list) || ReadWholeFile(list) != text) staged.StageBytes(list, text);
    const std::string signatureFile = JoinPath(serverDir, ListSignatureName);
    if (signature.Written) staged.StageBytes(signatureFile, *signature.Written);
    if (signature.Removed) staged.StageRemoval(signatureFile);
    if (summary.ListChanged) staged.StageBytes(packedFile, packed);
}

// The release's files, signed with seq, then the current list, with its Rev, announcing the release
// (its other announcements kept), signed with seq too.
void StageAnnounced(const std::string& serverDir, const std::string& releaseText, const std::string& indexBytes,
                    const TPreviousList& previous, const TPublishOptions& options, std::optional<uint64_t> seq,
                    TStagedFiles& staged, TPublishSummary& summary) {
    const std::string packed = PackListText(releaseText);
    std::optional<std::string> signature;
    if (options.Signing)
        signature =
            SignOrKeep(ReleaseFolderIn(serverDir, options.Release), packed, *options.Signing, summary.Rev, true, *seq)
                .Signature;
    StageRelease(serverDir, options.Release, TReleaseFiles{packed, signature, indexBytes}, staged);
    std::vector<TReleaseAnnouncement> announcements = CarriedAnnouncements(serverDir, previous.Text, options.Release);
    announcements.push_back(TReleaseAnnouncement{*options.Announce, options.Release, options.RolloutShare,
                                                 Sha256Hex(packed.data(), packed.size())});
    summary.ListChanged = true;
    summary.Signed = options.Signing.has_value();
    summary.Seq = StageCurrentList(serverDir, WithAnnouncements(previous.Text, announcements), previous.Rev,
                                   options.Signing, seq.value_or(0), staged, options.Release);
}

// Deletes the copies the new list no longer names, and folders left empty.
std::size_t PruneCopies(const std::string& serverDir, const TPublishPlan& plan) {
    std::set<std::string> keep = {PackedListName};
    for (const std::string& listed : plan.Sources) keep.insert(listed + PackedSuffix);
    std::size_t pruned = 0;
    std::vector<os::TFolderEntry> entries;
    if (!HoldsReleases(serverDir) || !os::ListFolder(serverDir, entries)) {
        RemoveUnlistedCopies(serverDir, "", keep, pruned);
        return pruned;
    }
    // The release store is no client folder: its lists are not copies.
    for (const os::TFolderEntry& entry : entries) {
        const std::string path = JoinPath(serverDir, entry.Name);
        if (entry.IsFolder && entry.Name != ReleasesFolder && os::EntryKind(path) == os::TEntryKind::Folder)
            RemoveUnlistedCopies(path, entry.Name + "\\", keep, pruned);
        else if (!entry.IsFolder && entry.Name.ends_with(PackedSuffix) && !keep.contains(entry.Name) &&
                 os::DeleteFile(path))
            ++pruned;
    }
    return pruned;
}

}  // namespace

TPublishSummary PublishServerFolder(const std::string& clientDir, const std::string& serverDir,
                                    TPublishDescription description, const TPublishOptions& options) {
    const TPublishPlan plan = PlanPublish(clientDir, description);
    TPreviousList previous;
    try {
        previous = ReadPreviousList(serverDir);
    } catch (const EPublishError&) {
        if (!options.Rev) throw;  // a given Rev makes the damaged list irrelevant
    }

    // Before anything is written: an unreadable previous signature stops the publish.
    std::optional<uint64_t> seq;
    if (options.Signing)
        seq = options.Signing->Seq ? *options.Signing->Seq : NextSequence(serverDir, options.Signing->SeqFile);

    TPublishSummary summary;
    if (!options.DryRun) summary.LeftoversRemoved = RemoveLeftoverTemporaries(serverDir);
    TStagedFiles staged;
    const bool announcing = options.Announce.has_value();
    if (announcing && (!previous.Present || options.Release.empty() || !options.Chunks))
        throw EPublishError("A preload or a rollout is a chunked release beside a current list");
    // An announced release's copies are made when it becomes current: now only their sizes are listed.
    TStagedFiles sizedOnly;
    TFileResults results =
        CompressOrReuse(plan, clientDir, serverDir, previous, options,
                        announcing || options.DryRun ? sizedOnly : staged, summary);
    summary.Folder = ListedFolder(plan, description.SelfName, results.Published);
    // The index after the chunks it names and before the list that names it.
    const TChunkIndex index{TChunkerParams{}, std::move(results.Chunked)};
    std::string indexBytes;
    if (options.Chunks) {
        const std::vector<uint8_t> frame = FormatChunkIndex(index);
        indexBytes.assign(frame.begin(), frame.end());
        summary.Folder.IndexHash = announcing || options.DryRun ? Sha256Hex(indexBytes.data(), indexBytes.size())
                                                                : StageChunkIndex(serverDir, index, staged);
    }
    if (previous.Present) summary.Costs = ReleaseCosts(serverDir, previous, summary.Folder, index);
    if (options.DryRun) {
        summary.Rev = DecideRev(description, summary.Folder, previous, options);
        return summary;
    }
    if (announcing) {
        description.Rev = options.Rev ? *options.Rev : previous.Rev + 1;
        summary.Rev = description.Rev;
        StageAnnounced(serverDir, FormatUpdateList(description, summary.Folder), indexBytes, previous, options, seq,
                       staged, summary);
    } else {
        description.Rev = DecideRev(description, summary.Folder, previous, options);
        summary.Rev = description.Rev;
        const std::string text = WithAnnouncements(FormatUpdateList(description, summary.Folder),
                                                   CarriedAnnouncements(serverDir, previous.Text, options.Release));
        summary.ListChanged = !previous.Present || text != previous.Text;
        StageList(serverDir, text, indexBytes, options, seq, staged, summary);
    }
    staged.PlaceAll(JoinPath(serverDir, PublishMarkName));
    // Only now does no list name what pruning deletes.
    if (options.Prune && !announcing) summary.Pruned = PruneCopies(serverDir, plan);
    if (options.Prune && !options.Release.empty()) summary.ReleasesPruned = PruneReleases(serverDir, options.KeepReleases);
    if (options.Prune && options.Chunks) {
        std::vector<TChunkIndex> kept = KeptReleaseIndexes(serverDir);
        if (!announcing) kept.push_back(index);
        else if (auto current = ReadPublishedIndex(serverDir, previous.IndexHash)) kept.push_back(std::move(*current));
        summary.ChunksPruned = PruneChunks(serverDir, kept);
    }
    return summary;
}

}  // namespace orvex
