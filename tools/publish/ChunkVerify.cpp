#include "tools/publish/ChunkVerify.h"

#include "base/Os.h"
#include "base/Path.h"
#include "base/Text.h"
#include "formats/ChunkIndex.h"
#include "formats/UpdateList.h"
#include "formats/Zstd.h"
#include "tools/publish/ChunkStore.h"
#include "tools/publish/FileText.h"
#include "util/Parallel.h"

#include <set>
#include <vector>

namespace orvex {
namespace {


void CheckListedFiles(const TChunkIndex& index, const std::map<std::string, int64_t>& listedSizes,
                      TStringList& problems) {
    std::set<std::string> indexed;
    for (const TChunkedFile& file : index.Files) {
        indexed.insert(file.Path);
        const auto listed = listedSizes.find(file.Path);
        if (listed == listedSizes.end())
            problems.push_back(std::string(ChunkIndexName) + " lists " + Quoted(file.Path) + ", which the list does not");
        else if (listed->second >= 0 && static_cast<uint64_t>(listed->second) != file.Size)
            problems.push_back(std::string(ChunkIndexName) + " gives " + Quoted(file.Path) + " " +
                               std::to_string(file.Size) + " bytes, its copy decodes to " +
                               std::to_string(listed->second));
    }
    for (const auto& [path, size] : listedSizes)
        if (!indexed.contains(path)) problems.push_back(std::string(ChunkIndexName) + " does not list " + Quoted(path));
}

// Each stored chunk once: present, of its indexed compressed size.
void CheckChunksPresent(const std::string& serverDir, const TChunkIndex& index, TStringList& problems) {
    std::set<TSha256Digest> seen;
    for (const TChunkedFile& file : index.Files)
        for (const TChunkRef& chunk : file.Chunks) {
            if (!seen.insert(chunk.Hash).second) continue;
            const std::string where = "chunk " + ChunkStorePath(chunk.Hash) + " (of " + Quoted(file.Path) + ")";
            const int64_t size = os::FileSize(ChunkFileIn(serverDir, chunk.Hash));
            if (size < 0)
                problems.push_back(where + " is missing");
            else if (size != chunk.CompressedSize)
                problems.push_back(where + " has " + std::to_string(size) + " bytes, the index says " +
                                   std::to_string(chunk.CompressedSize));
        }
}

// Decompresses the file's chunks in order; the problems of the file.
TStringList CheckFileContent(const std::string& serverDir, const TChunkedFile& file) {
    TStringList problems;
    TSha256 whole;
    for (const TChunkRef& chunk : file.Chunks) {
        const std::string where = "chunk " + ChunkStorePath(chunk.Hash) + " (of " + Quoted(file.Path) + ")";
        const std::string stored = ChunkFileIn(serverDir, chunk.Hash);
        if (!os::FileExists(stored)) return problems;  // told already
        const std::string frame = ReadWholeFile(stored);
        std::vector<uint8_t> content;
        try {
            content = ZstdDecompress(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), chunk.Size, chunk.Size);
        } catch (const EZstdError& error) {
            problems.push_back(where + " does not decompress: " + error.what());
            return problems;
        }
        if (Sha256(content.data(), content.size()) != chunk.Hash) {
            problems.push_back(where + " decompresses to SHA-256 " + Sha256Hex(content.data(), content.size()));
            return problems;
        }
        whole.Update(content.data(), content.size());
    }
    if (const TSha256Digest digest = whole.Final(); digest != file.Hash)
        problems.push_back(Quoted(file.Path) + ": its chunks hash to " + DigestHex(digest) + ", the index says " +
                           DigestHex(file.Hash));
    return problems;
}

}  // namespace

TStringList VerifyChunkStore(const std::string& serverDir, const TChunkStoreCheck& check) {
    TStringList problems;
    const std::string indexFile = JoinPath(serverDir, ChunkIndexName);
    if (!DigestFromHex(check.IndexHex))
        problems.push_back(std::string(ListFileName) + ": Index " + Quoted(check.IndexHex) +
                           " is not 64 lower-case hex digits");
    if (!os::FileExists(indexFile)) {
        problems.push_back(indexFile + " is missing");
        return problems;
    }
    const std::string bytes = ReadWholeFile(indexFile);
    if (const std::string hex = Sha256Hex(bytes.data(), bytes.size()); DigestFromHex(check.IndexHex) && hex != check.IndexHex)
        problems.push_back(std::string(ChunkIndexName) + " has SHA-256 " + hex + ", the list's Index says " +
                           check.IndexHex);
    const TParsed<TChunkIndex> index = ReadChunkIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!index) {
        problems.push_back(std::string(ChunkIndexName) + ": " + index.Error);
        return problems;
    }
    CheckListedFiles(*index.Value, check.ListedSizes, problems);
    CheckChunksPresent(serverDir, *index.Value, problems);
    if (check.Deep) {
        const std::vector<TChunkedFile>& files = index.Value->Files;
        std::vector<TStringList> found(files.size());
        ParallelFor(files.size(), check.Threads, [&](std::size_t i) { found[i] = CheckFileContent(serverDir, files[i]); });
        for (const TStringList& each : found) problems.insert(problems.end(), each.begin(), each.end());
    }
    return problems;
}

}  // namespace orvex
