#pragma once
// The chunk store of a server folder: every published file cut into content-defined chunks, each
// chunk kept once as a zstd frame of its own under chunks/, and files.idx.zst naming them, so a
// launcher that holds an older version of a file fetches only the chunks it lacks.
#include "formats/ChunkIndex.h"
#include "tools/publish/StagedFiles.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvex {

// The file in serverDir that holds the chunk.
std::string ChunkFileIn(const std::string& serverDir, const TSha256Digest& hash);

// The chunks one publish has taken on to check and write, shared by its threads so that two files
// holding the same chunk do not both touch its file.
class TChunkClaims {
public:
    // writing false: a plan; the chunks are only measured, never written.
    explicit TChunkClaims(bool writing = true) : Writing(writing) {}
    // True for the first caller with hash only: that caller checks and writes the chunk.
    bool Claim(const TSha256Digest& hash);

    const bool Writing;

private:
    std::mutex FLock;
    std::set<TSha256Digest> FClaimed;
};

struct TStoredFile {
    TChunkedFile Entry;
    // Chunks the store did not hold before, held damaged, or held as another frame than zstd makes now.
    std::size_t ChunksWritten = 0;
    std::size_t ChunksReplaced = 0;  // of ChunksWritten: those the store held damaged
    uint64_t BytesWritten = 0;       // the frames' bytes of ChunksWritten
};

// Cuts source (published as listed) with the default chunker and writes to serverDir's store each
// chunk it does not hold as zstd makes it now (missing, damaged, or an older zstd's frame), through
// a temporary name. Reads in blocks: one chunk and one block at
// most are held at a time, whatever the file's size. Raises EFOpenError, I/O or EZstdError errors.
TStoredFile StoreFileChunks(const std::string& source, const std::string& listed, const std::string& serverDir,
                            TChunkClaims& claims);

// Whether the store holds every chunk of entry, each of the size the entry gives it.
bool ChunksPresent(const std::string& serverDir, const TChunkedFile& entry);

// The index serverDir holds, when its SHA-256 is indexHex and it reads as an index of the default
// chunker; nothing otherwise (a stale or damaged index is not to be reused).
std::optional<TChunkIndex> ReadPublishedIndex(const std::string& serverDir, const std::string& indexHex);

// Writes files.idx.zst into a file staged to replace it when its content changes; the SHA-256 hex
// of it.
std::string StageChunkIndex(const std::string& serverDir, const TChunkIndex& index, TStagedFiles& staged);

// Deletes every file under serverDir's chunks/ that index does not name, temporary files left by an
// interrupted publish included, and the folders that leaves empty. The number of files deleted.
std::size_t PruneChunks(const std::string& serverDir, const std::vector<TChunkIndex>& indexes);
inline std::size_t PruneChunks(const std::string& serverDir, const TChunkIndex& index) {
    return PruneChunks(serverDir, std::vector<TChunkIndex>{index});
}

}  // namespace orvex
