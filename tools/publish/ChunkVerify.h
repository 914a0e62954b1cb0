#pragma once
// Checks the chunk store of a server folder whose list names a chunk index (its Index line).
#include "base/Text.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace orvex {

struct TChunkStoreCheck {
    std::string IndexHex;  // the list's Index value
    // Every path the list names, with the size its copy decodes to (-1 when the copy does not decode).
    std::map<std::string, int64_t> ListedSizes;
    bool Deep = false;     // also decompress every chunk and hash every file's chunks together
    unsigned Threads = 0;  // 0: one per core
    // When deep, called after each file's chunks, one call at a time: files done, of files, bytes
    // done, of bytes.
    std::function<void(std::size_t, std::size_t, int64_t, int64_t)> OnFile;
};

struct TChunkStoreResult {
    TStringList Problems;
    std::size_t Chunks = 0;  // distinct chunks the index names
};

// Problems has one line for every fault: files.idx.zst missing, not of the listed hash, unreadable, not listing
// exactly the list's files with their sizes, chunks missing or of another size than indexed; when
// deep, chunks that do not decompress to their size and hash, and files whose chunks together do
// not hash to the file's SHA-256. Files are named with the system's delimiter.
TChunkStoreResult VerifyChunkStore(const std::string& serverDir, const TChunkStoreCheck& check);

}  // namespace orvex
