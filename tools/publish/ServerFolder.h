#pragma once
// Builds the folder an update server publishes: files.lst, files.lst.bz2 and one bzip2 copy of every
// listed client file under its relative path.
#include "base/CodePage.h"
#include "base/Exceptions.h"
#include "base/Text.h"
#include "formats/ReleaseAnnouncement.h"
#include "formats/UpdateList.h"
#include "formats/md5.h"
#include "tools/publish/ListSignature.h"
#include "update/HostEntry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// An entry or a name that the update list cannot carry, or a copy the launcher could not take.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

// What to publish. File paths are relative to the client folder, with "\" or "/" between folders.
struct TPublishDescription {
    int32_t Rev = 0;
    int32_t ModHosts = 0;
    std::vector<THostEntry> Hosts;
    TStringList CriticalFiles;
    TStringList NormalFiles;
    std::string SelfName;  // the launcher's executable in the client folder; empty: no self entry
    // Keys that players are to trust from this list on (a [keys] section, read from signed lists
    // only): how a publisher moves to a new key without a new installer.
    std::vector<minisign::TPublicKey> NextKeys;
    // Launchers that know it remove the files an earlier list named and this one does not.
    bool RemoveUnlisted = false;
    // The single-byte Windows code page the list names files in: the ANSI code page of the players.
    // Copies keep the files' own names, in UTF-8 on the server.
    unsigned CodePage = DefaultListCodePage;
};

// One entry as listed: PATH with "\" between folders, MD5 of the file, SIZE of its compressed copy.
struct TPublishedFile {
    std::string Path;
    std::string MD5;
    int64_t Size = 0;
};

struct TPublishedFolder {
    std::optional<TPublishedFile> Self;
    std::vector<TPublishedFile> Critical;
    std::vector<TPublishedFile> Normal;
    std::string IndexHash;  // SHA-256 hex of files.idx.zst, listed as Index; empty without a chunk store
};

struct TCompressedFile {
    MD5Digest SourceDigest{};  // of the bytes that were compressed
    int64_t Size = 0;          // of the compressed copy
};

// Writes source to target as exactly one bzip2 stream at level 9, streaming, through a temporary
// file beside target that is renamed into place. Creates target's folder. Raises EFOpenError when
// source cannot be read, and stream, I/O or EBZCompressionError errors otherwise; target is then
// left as it was.
TCompressedFile CompressFile(const std::string& source, const std::string& target);
// The same into a file of its own name (a temporary the caller puts in place), created or truncated.
TCompressedFile CompressFileInto(const std::string& source, const std::string& file);

// Writes every compressed copy, then files.lst and, last, files.lst.bz2 into serverDir, so a client
// that finds the new list also finds the copies it names. Raises EPublishError naming every entry
// the list cannot carry before anything is written.
TPublishedFolder BuildServerFolder(const std::string& clientDir, const std::string& serverDir,
                                   const TPublishDescription& description);

// files.lst.bz2's bytes for the list's text.
std::string PackListText(const std::string& text);

// The text of files.lst, lines ending in CR LF.
std::string FormatUpdateList(const TPublishDescription& description, const TPublishedFolder& folder);

// Every file under clientDir as the list names it ("\" between folders), sorted. Raises one
// EPublishError naming every entry refused: a link (never followed), anything neither a file nor a
// folder (a FIFO, a device), a name that the list cannot carry or that a Windows client would
// confuse with another (same name but for letter case); a link or other entry that excluded
// (given its listed name) takes is skipped instead. Raises EInOutError for a folder that cannot be
// read.
TStringList ListClientFiles(const std::string& clientDir,
                            const std::function<bool(const std::string&)>& excluded = {});

// Why the entry at path (listed as listed) cannot be published: a link (whatever it points to), a
// folder, a FIFO, a device. Nothing for a plain file, or for a missing one.
std::optional<std::string> RefusedKind(const std::string& path, const std::string& listed);

// Raises one EPublishError whose message holds every refusal, one a line; nothing when there is none.
void RaiseRefusals(const TStringList& refusals);

// The list a server folder publishes now: files.lst.bz2 decoded.
struct TPreviousList {
    bool Present = false;
    std::string Text;
    int32_t Rev = 0;
    std::string IndexHash;  // its Index value
    std::map<std::string, TPublishedFile> Entries;  // by listed path; the self entry included
};
// Raises EPublishError when files.lst.bz2 exists but is damaged or has no whole-number Rev.
TPreviousList ReadPreviousList(const std::string& serverDir);

enum class TFileOutcome { Compressed, Reused };

struct TPublishProgress {
    std::size_t FilesDone = 0;
    std::size_t FilesTotal = 0;
    int64_t BytesDone = 0;  // of the client files, compressed or reused
    int64_t BytesTotal = 0;
};

struct TPublishOptions {
    unsigned Threads = 0;          // 0: one per core
    bool Incremental = true;       // reuse the copies of files the published list names unchanged
    std::optional<int32_t> Rev;    // otherwise the published Rev, plus 1 when any entry changed
    bool Prune = false;            // delete copies the new list no longer names
    // Also write the chunk store and files.idx.zst (tools/publish/ChunkStore.h) and list the
    // index's hash; with Prune, delete the chunks the new index does not name.
    bool Chunks = false;
    std::optional<TListSigning> Signing;  // sign the list; the signature goes in place just before it
    // Without Signing: delete a signature the folder holds when the list changes or it signs another
    // Rev (it cannot sign the list, and signed launchers would refuse it).
    bool RemoveStaleSignature = false;
    // With Chunks: also keep the release under releases/NAME/ (its list, signature and index); with
    // Prune, only the KeepReleases newest releases are kept, and the chunks that they or the new
    // index name.
    std::string Release;
    std::size_t KeepReleases = 3;
    // With Release: publish it without making it current; the current list, with its Rev and its
    // copies, announces it as a preload, or as a rollout to RolloutShare percent of installations.
    std::optional<TReleaseAnnouncement::TKind> Announce;
    int RolloutShare = 0;
    // A plan: everything is measured as a publish would write it, and nothing is written.
    bool DryRun = false;
    // Called after each file, one call at a time, from the compressing threads.
    std::function<void(const TPublishedFile&, TFileOutcome, const TPublishProgress&)> OnFile;
};

// What a publish costs the players at one release: the files that change, are added and removed,
// and the bytes they download and write.
struct TReleaseCost {
    std::string From;  // "current" or the kept release's name
    int32_t Rev = 0;
    std::size_t Changed = 0, Added = 0, Removed = 0;
    uint64_t CopyBytes = 0;   // downloaded as whole copies
    bool Chunked = false;     // both releases have a chunk index
    uint64_t ChunkBytes = 0;  // downloaded through chunks, when Chunked
    uint64_t WrittenBytes = 0;
};

struct TPublishSummary {
    TPublishedFolder Folder;
    int32_t Rev = 0;
    bool ListChanged = false;
    std::size_t Compressed = 0;
    std::size_t Reused = 0;
    std::size_t Pruned = 0;
    std::size_t ChunksWritten = 0;
    std::size_t ChunksReplaced = 0;  // of ChunksWritten: chunks the store held damaged
    std::size_t ChunksPruned = 0;
    // Copies the published list names that were missing or not of the listed size, each with what
    // was found ("PATH.bz2 had 100 bytes, the list says 2345"), sorted: compressed again.
    TStringList CopiesReplaced;
    uint64_t ChunkBytesWritten = 0;
    // For each release players may be at (the current one, then the kept ones): what this publish
    // costs them.
    std::vector<TReleaseCost> Costs;
    std::vector<std::string> ReleasesPruned;
    bool Signed = false;  // a new signature was written
    bool SignatureRemoved = false;
    std::size_t LeftoversRemoved = 0;  // temporaries an interrupted publish had left
    uint64_t Seq = 0;     // the sequence number signed
    int64_t BytesIn = 0;   // client bytes compressed
    int64_t BytesOut = 0;  // bytes of the copies written
    int64_t BytesReplaced = 0;  // bytes of the copies they replace
};

// Publishes like BuildServerFolder, on several threads, reusing what the folder already holds.
// First removes the temporaries an interrupted publish left. Every new file (copies, the chunk
// index, files.lst, the signature, files.lst.bz2) is written under a temporary name and all are
// renamed into place in that order at the end, so a publish that fails or is killed before leaves
// the old release whole; chunks are new names and go in place as they are written. The list is
// written only when it changed; pruning follows it. description.Rev is ignored: options.Rev or the
// published Rev decides. With options.Signing the list is signed, unless the list is unchanged and
// already signed for its Rev by that key without expiry.
TPublishSummary PublishServerFolder(const std::string& clientDir, const std::string& serverDir,
                                    TPublishDescription description, const TPublishOptions& options);

}  // namespace orvex
