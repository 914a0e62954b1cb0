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

#include <mutex>
#include <set>
#include <vector>

namespace orvex {
namespace {

// A damaged chunk of the right size is taken as sound by a build that reuses its file's entry.
constexpr const char* FullBuildHint = "; only a build --chunks --full writes it again";

std::string Shown(const std::string& listed) { return Quoted(os::NativePath(listed)); }


void CheckListedFiles(const TChunkIndex& index, const std::map<std::string, int64_t>& listedSizes,
                      TStringList& problems) {
    std::set<std::string> indexed;
    for (const TChunkedFile& file : index.Files) {
        indexed.insert(file.Path);
        const auto listed = listedSizes.find(file.Path);
        if (listed == listedSizes.end())
            problems.push_back(std::string(ChunkIndexName) + " lists " + Shown(file.Path) + ", which the list does not");
        else if (listed->second >= 0 && static_cast<uint64_t>(listed->second) != file.Size)
            problems.push_back(std::string(ChunkIndexName) + " gives " + Shown(file.Path) + " " +
                               std::to_string(file.Size) + " bytes, its copy decodes to " +
                               std::to_string(listed->second));
    }
    for (const auto& [path, size] : listedSizes)
        if (!indexed.contains(path)) problems.push_back(std::string(ChunkIndexName) + " does not list " + Shown(path));
}

// Each stored chunk once: present, of its indexed compressed size. The number of chunks.
std::size_t CheckChunksPresent(const std::string& serverDir, const TChunkIndex& index, TStringList& problems) {
    std::set<TSha256Digest> seen;
    for (const TChunkedFile& file : index.Files)
        for (const TChunkRef& chunk : file.Chunks) {
            if (!seen.insert(chunk.Hash).second) continue;
            const std::string where = "chunk " + ChunkStorePath(chunk.Hash) + " (of " + Shown(file.Path) + ")";
            const int64_t size = os::FileSize(ChunkFileIn(serverDir, chunk.Hash));
            if (size < 0)
                problems.push_back(where + " is missing");
            else if (size != chunk.CompressedSize)
                problems.push_back(where + " has " + std::to_string(size) + " bytes, the index says " +
                                   std::to_string(chunk.CompressedSize) + "; a build --chunks writes it again");
        }
    return seen.size();
}

// Decompresses the file's chunks in order; the problems of the file.
TStringList CheckFileContent(const std::string& serverDir, const TChunkedFile& file) {
    TStringList problems;
    TSha256 whole;
    for (const TChunkRef& chunk : file.Chunks) {
        const std::string where = "chunk " + ChunkStorePath(chunk.Hash) + " (of " + Shown(file.Path) + ")";
        const std::string stored = ChunkFileIn(serverDir, chunk.Hash);
        if (!os::FileExists(stored)) return problems;  // told already
        const std::string frame = ReadWholeFile(stored);
        std::vector<uint8_t> content;
        try {
            content = ZstdDecompress(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), chunk.Size, chunk.Size);
        } catch (const EZstdError& error) {
            problems.push_back(where + " does not decompress: " + error.what() + FullBuildHint);
            return problems;
        }
        if (Sha256(content.data(), content.size()) != chunk.Hash) {
            problems.push_back(where + " decompresses to SHA-256 " + Sha256Hex(content.data(), content.size()) +
                               FullBuildHint);
            return problems;
        }
        whole.Update(content.data(), content.size());
    }
    if (const TSha256Digest digest = whole.Final(); digest != file.Hash)
        problems.push_back(Shown(file.Path) + ": its chunks hash to " + DigestHex(digest) + ", the index says " +
                           DigestHex(file.Hash));
    return problems;
}

void CheckEveryFileContent(const std::string& serverDir, const std::vector<TChunkedFile>& files,
                           const TChunkStoreCheck& check, TStringList& problems) {
    std::vector<TStringList> found(files.size());
    int64_t bytesTotal = 0;
    for (const TChunkedFile& file : files) bytesTotal += static_cast<int64_t>(file.Size);
    std::mutex reportLock;
    std::size_t done = 0;
    int64_t bytesDone = 0;
    ParallelFor(files.size(), check.Threads, [&](std::size_t i) {
        found[i] = CheckFileContent(serverDir, files[i]);
        if (!check.OnFile) return;
        const std::lock_guard<std::mutex> lock(reportLock);
        bytesDone += static_cast<int64_t>(files[i].Size);
        check.OnFile(++done, files.size(), bytesDone, bytesTotal);
    });
    for (const TStringList& each : found) problems.insert(problems.end(), each.begin(), each.end());
}

}  // namespace

TChunkStoreResult VerifyChunkStore(const std::string& serverDir, const TChunkStoreCheck& check) {
    TChunkStoreResult result;
    TStringList& problems = result.Problems;
    const std::string indexFile = JoinPath(serverDir, ChunkIndexName);
    if (!DigestFromHex(check.IndexHex))
        problems.push_back(std::string(ListFileName) + ": Index " + Quoted(check.IndexHex) +
                           " is not 64 lower-case hex digits");
    if (!os::FileExists(indexFile)) {
        problems.push_back(os::NativePath(indexFile) + " is missing");
        return result;
    }
    const std::string bytes = ReadWholeFile(indexFile);
    if (const std::string hex = Sha256Hex(bytes.data(), bytes.size()); DigestFromHex(check.IndexHex) && hex != check.IndexHex)
        problems.push_back(std::string(ChunkIndexName) + " has SHA-256 " + hex + ", the list's Index says " +
                           check.IndexHex);
    const TParsed<TChunkIndex> index = ReadChunkIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!index) {
        problems.push_back(std::string(ChunkIndexName) + ": " + index.Error);
        return result;
    }
    CheckListedFiles(*index.Value, check.ListedSizes, problems);
    result.Chunks = CheckChunksPresent(serverDir, *index.Value, problems);
    if (check.Deep) CheckEveryFileContent(serverDir, index.Value->Files, check, problems);
    return result;
}

}  // namespace orvex
