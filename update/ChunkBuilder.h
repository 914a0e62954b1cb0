#pragma once
// Builds listed files from the server's chunk store through the chunk index the list names
// (Index): fetched once, when the first file is fetched, and used only when it is the listed one.
// Any trouble is told as a notice; the caller then fetches the file's whole copy.
#include "formats/ChunkIndex.h"
#include "formats/UpdateList.h"
#include "update/Limits.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace orvex {

class TRunReports;
class TServers;

class TChunkBuilder {
public:
    // Downloads a server file (relative to the server folder) into a local file, telling its
    // failures; false when it could not.
    using TDownload = std::function<bool(const std::string& name, const std::string& fileName, uint64_t maxBytes)>;

    // limits: the index is at most MaxPackedList bytes, chunks come on Threads, and building keeps
    // FreeSpaceReserve free.
    TChunkBuilder(TServers& servers, TRunReports& reports, TDownload download, const TRunLimits& limits);

    // The index a new list names (empty: none), at indexAddress in the server folder; the one used
    // before is dropped.
    void UseIndex(std::string baseDir, std::string indexHash, std::string indexAddress = ChunkIndexName);
    // Whether the index, once fetched, holds path: such a file is built, not fetched as a copy.
    bool Holds(const std::string& path) const;
    // The size of the file the index holds for path, fetching the index first; none when it does not.
    std::optional<uint64_t> FileSize(const std::string& path);

    struct TBuilt {
        std::string Path;
        uint64_t Reused = 0;      // bytes the previous version gave
        uint64_t Downloaded = 0;  // bytes of the chunks downloaded
        uint64_t WholeCopy = 0;   // the size of the whole copy not needed
    };
    struct TBuildResult {
        std::optional<TBuilt> Built;
        // Too little free disk space for the file: its whole copy would not fit either.
        bool NoRoom = false;
    };
    // Builds entry into target from the chunks its previous version, localFile, lacks. Nothing
    // built when the index does not hold the entry, and, after a notice, when building failed.
    TBuildResult Build(const TListEntry& entry, const std::string& localFile, const std::string& target);

private:
    void LoadIndex();
    TBuilt Assemble(const TChunkedFile& file, const TListEntry& entry, const std::string& localFile,
                    const std::string& target);

    TServers& FServers;
    TRunReports& FReports;
    TDownload FDownload;
    uint64_t FMaxIndexBytes;
    std::string FIndexAddress;
    unsigned FThreads;
    uint64_t FFreeSpaceReserve;
    std::string FBaseDir;
    std::string FIndexHash;
    bool FLoaded = false;
    std::optional<TChunkIndex> FIndex;
    std::map<std::string, std::size_t> FFiles;  // list path -> its place in FIndex
};

}  // namespace orvex
