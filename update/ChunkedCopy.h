#pragma once
// Builds a listed file from the server's chunk store: the chunks the file's previous version on
// disk already holds are copied from it, only the others are fetched.
#include "formats/ChunkIndex.h"
#include "formats/Unpack.h"
#include "formats/md5.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// Where each chunk of a file comes from.
struct TChunkSources {
    // Per chunk of the file, in order: where the old file holds it, or nothing when it is fetched.
    std::vector<std::optional<uint64_t>> OldOffsets;
    uint64_t ReusedBytes = 0;    // chunk bytes the old file gives
    uint64_t DownloadBytes = 0;  // the store sizes of the chunks to fetch, each counted once
    // The chunks to fetch, each once, in the order AssembleChunkedFile asks for them.
    std::vector<std::size_t> ToFetch;
};

// Cuts oldFile with params and finds file's chunks in it by their hashes; every chunk is fetched
// when oldFile is missing or unreadable. Reads in blocks: memory stays small whatever the size.
TChunkSources FindChunkSources(const TChunkedFile& file, const TChunkerParams& params, const std::string& oldFile);

// Raises EUnpackLimit when file's size does not fit beyond room's reserve: asked before anything is
// fetched for the file.
void CheckRoomToBuild(const TChunkedFile& file, const TUnpackLimits& room);

// Gives a chunk's frame as the store holds it (at most chunk.CompressedSize bytes); raises when it
// cannot.
using TChunkFetcher = std::function<std::vector<uint8_t>(const TChunkRef& chunk)>;

// Writes file into target (created or truncated): the chunks sources finds in oldFile from there,
// the others through fetch, called for sources.ToFetch in order, each fetched chunk checked against its hash, the whole against the
// file's. Raises, saying which chunk and why, when a chunk or the whole does not match. Returns
// the MD5 of what it wrote, for the list's check.
// room: room.Volume names a path on target's volume, which keeps room.FreeSpaceReserve free: raises
// EUnpackLimit before a write that would pass it.
MD5Digest AssembleChunkedFile(const TChunkedFile& file, const TChunkSources& sources, const std::string& oldFile,
                              const std::string& target, const TChunkFetcher& fetch, const TUnpackLimits& room);

}  // namespace orvex
