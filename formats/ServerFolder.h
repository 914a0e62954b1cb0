#pragma once
// Builds the folder an update server publishes: files.lst, files.lst.bz2 and one bzip2 copy of every
// listed client file under its relative path.
#include "base/Exceptions.h"
#include "base/Text.h"
#include "formats/md5.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// An entry or a name that the update list cannot carry, or a copy the launcher could not take.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

struct THostEntry {
    std::string Address;
    std::string Host;
};

// What to publish. File paths are relative to the client folder, with "\" or "/" between folders.
struct TPublishDescription {
    int32_t Rev = 0;
    int32_t ModHosts = 0;
    std::vector<THostEntry> Hosts;
    TStringList CriticalFiles;
    TStringList NormalFiles;
    std::string SelfName;  // the launcher's executable in the client folder; empty: no self entry
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

// Writes every compressed copy, then files.lst and, last, files.lst.bz2 into serverDir, so a client
// that finds the new list also finds the copies it names. Raises EPublishError for an entry the
// list cannot carry before anything is written.
TPublishedFolder BuildServerFolder(const std::string& clientDir, const std::string& serverDir,
                                   const TPublishDescription& description);

// The text of files.lst, lines ending in CR LF.
std::string FormatUpdateList(const TPublishDescription& description, const TPublishedFolder& folder);

}  // namespace orvex
