#pragma once
// The chunk index files.idx.zst of a server folder: for every listed file its chunks, so that a run
// fetches only chunks it does not hold yet from the chunk store (chunks/ab/<hash>.zst, each chunk
// a zstd frame of its own).
//
// The index is one zstd frame (formats/Zstd.h) of text lines, each ending in "\n", fields
// separated by single spaces, numbers in plain decimal, hashes SHA-256 in 64 lower-case hex digits:
//   orvex-chunks 1                                 the format's version; always first
//   chunker MIN AVERAGE MAX                        the chunker's parameters; always second
//   file SIZE SHA256 PATH                          a file: its size, hash and list path ("\"
//                                                  between folders) as the rest of the line
//   chunk SHA256 OFFSET SIZE COMPRESSED            the file's next chunk: its hash, where it
//                                                  starts in the file, its size there, and its
//                                                  frame's size in the store
// Each "file" line is followed by its chunks in order; they tile the file: the first starts at 0,
// each starts where the one before ended, and they end at SIZE (an empty file has none).
#include "formats/Chunker.h"
#include "formats/Parsed.h"
#include "formats/Sha256.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

inline constexpr const char* ChunkIndexName = "files.idx.zst";
inline constexpr const char* ChunkStoreFolder = "chunks";
inline constexpr int ChunkIndexVersion = 1;

// What a reader takes at most; an index beyond them is refused rather than held.
inline constexpr std::size_t MaxChunkIndexTextSize = 256u * 1024 * 1024;
inline constexpr std::size_t MaxChunkIndexFiles = 1'000'000;
inline constexpr std::size_t MaxChunkIndexChunks = 4'000'000;  // 256 GiB of files at the default average
inline constexpr std::size_t MaxChunkIndexPathLength = 1024;

// The caps above as a reader applies them; tests shorten them.
struct TChunkIndexLimits {
    std::size_t TextSize = MaxChunkIndexTextSize;
    std::size_t Files = MaxChunkIndexFiles;
    std::size_t Chunks = MaxChunkIndexChunks;
};

struct TChunkRef {
    TSha256Digest Hash{};
    uint64_t Offset = 0;
    uint32_t Size = 0;
    uint32_t CompressedSize = 0;

    bool operator==(const TChunkRef&) const = default;
};

struct TChunkedFile {
    std::string Path;
    uint64_t Size = 0;
    TSha256Digest Hash{};
    std::vector<TChunkRef> Chunks;

    bool operator==(const TChunkedFile&) const = default;
};

struct TChunkIndex {
    TChunkerParams Chunker;
    std::vector<TChunkedFile> Files;

    bool operator==(const TChunkIndex&) const = default;
};

// The store's name of a chunk, relative to the server folder: "chunks/ab/<hash>.zst", ab being
// the hash's first two hex digits.
std::string ChunkStorePath(const TSha256Digest& hash);

// The index's text (files.idx.zst as written: formats/encode/ChunkIndexFile.h). Raises
// std::invalid_argument for a path that its line could not carry (empty, or with a control character).
std::string FormatChunkIndexText(const TChunkIndex& index);

// Refuses, saying why and on which line: another version, malformed lines, bad hex, chunks that
// do not tile their file or exceed the chunker's maximum, a compressed size beyond what zstd makes
// of the chunk, a path twice (letter case aside, as Windows names files), counts or sizes beyond the
// caps above.
TParsed<TChunkIndex> ParseChunkIndexText(std::string_view text, const TChunkIndexLimits& limits = {});
TParsed<TChunkIndex> ReadChunkIndex(const uint8_t* data, std::size_t size, const TChunkIndexLimits& limits = {});

}  // namespace orvex
