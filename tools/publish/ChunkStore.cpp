#include "tools/publish/ChunkStore.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "formats/encode/ChunkIndexFile.h"
#include "formats/encode/ZstdCompress.h"
#include "tools/publish/FileText.h"

#include <algorithm>
#include <set>
#include <vector>

namespace orvex {
namespace {

// Small beside a chunk, so what waits for a cut stays near one chunk.
constexpr std::size_t ReadBlockSize = 64 * 1024;

std::string IndexFileIn(const std::string& serverDir) { return JoinPath(serverDir, ChunkIndexName); }

void WriteChunk(const std::string& target, const std::vector<uint8_t>& frame) {
    const std::string folder = target.substr(0, target.find_last_of("\\/"));
    static_cast<void>(os::ForceDirectories(folder));  // a folder that cannot be made shows at the write
    TTempFile temporary(target);
    {
        TFileStream output(temporary.Name(), FileMode::Create);
        output.WriteBuffer(frame.data(), frame.size());
    }
    temporary.CommitOrRaise();
}

enum class TChunkFile { Same, Missing, OtherFrame, Damaged };

// How the store holds the chunk whose frame zstd makes now: that frame, none, another frame of it
// (an older zstd's), or bytes cut short or written over.
TChunkFile CompareChunkFile(const std::string& file, const std::vector<uint8_t>& frame, const uint8_t* data,
                            std::size_t size) {
    if (!os::FileExists(file)) return TChunkFile::Missing;
    const std::string stored = ReadWholeFile(file);
    const auto* bytes = reinterpret_cast<const uint8_t*>(stored.data());
    if (std::equal(bytes, bytes + stored.size(), frame.begin(), frame.end())) return TChunkFile::Same;
    try {
        const std::vector<uint8_t> content = ZstdDecompress(bytes, stored.size(), size, size);
        if (std::equal(content.begin(), content.end(), data, data + size)) return TChunkFile::OtherFrame;
    } catch (const EZstdError&) {
    }
    return TChunkFile::Damaged;
}

// Adds the chunk to entry, making the store hold it as zstd makes it now, so that every file
// holding the chunk indexes it at one size. Only the thread that claims it looks at its file:
// Windows refuses to replace a file another thread is reading.
void StoreChunk(const std::string& serverDir, const uint8_t* data, std::size_t size, TChunkClaims& claims,
                TStoredFile& stored) {
    TChunkRef chunk;
    chunk.Hash = Sha256(data, size);
    chunk.Offset = stored.Entry.Size;
    chunk.Size = static_cast<uint32_t>(size);
    const std::string file = ChunkFileIn(serverDir, chunk.Hash);
    const std::vector<uint8_t> frame = ZstdCompress(data, size);
    if (claims.Claim(chunk.Hash)) {
        const TChunkFile found = CompareChunkFile(file, frame, data, size);
        if (found != TChunkFile::Same) {
            if (claims.Writing) WriteChunk(file, frame);
            ++stored.ChunksWritten;
            stored.BytesWritten += frame.size();
        }
        if (found == TChunkFile::Damaged) ++stored.ChunksReplaced;
    }
    chunk.CompressedSize = static_cast<uint32_t>(frame.size());
    stored.Entry.Chunks.push_back(chunk);
    stored.Entry.Size += size;
}

void CollectStoreFiles(const std::string& dir, std::vector<std::string>& files) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) return;
    for (const os::TFolderEntry& entry : entries) {
        if (entry.IsFolder)
            CollectStoreFiles(JoinPath(dir, entry.Name), files);
        else
            files.push_back(JoinPath(dir, entry.Name));
    }
}

}  // namespace

std::string ChunkFileIn(const std::string& serverDir, const TSha256Digest& hash) {
    // Joined folder by folder, so the system's own separator is used.
    std::string file = serverDir;
    const std::string relative = ChunkStorePath(hash);
    for (std::size_t start = 0;;) {
        const std::size_t slash = relative.find('/', start);
        file = JoinPath(file, relative.substr(start, slash - start));
        if (slash == std::string::npos) return file;
        start = slash + 1;
    }
}

bool TChunkClaims::Claim(const TSha256Digest& hash) {
    const std::lock_guard<std::mutex> lock(FLock);
    return FClaimed.insert(hash).second;
}

TStoredFile StoreFileChunks(const std::string& source, const std::string& listed, const std::string& serverDir,
                            TChunkClaims& claims) {
    TFileStream input(source, FileMode::OpenRead);
    TChunkCutter cutter;
    TSha256 fileHash;
    TStoredFile stored;
    stored.Entry.Path = listed;
    std::vector<uint8_t> block(ReadBlockSize);
    std::vector<uint8_t> waiting;  // read, not yet cut off
    waiting.reserve(cutter.Params().MaxSize + ReadBlockSize);
    std::vector<uint64_t> cuts;
    const auto cutAt = [&](uint64_t end) {
        const auto length = static_cast<std::size_t>(end - stored.Entry.Size);
        StoreChunk(serverDir, waiting.data(), length, claims, stored);
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(length));
    };
    for (std::size_t got; (got = input.Read(block.data(), block.size())) != 0;) {
        fileHash.Update(block.data(), got);
        waiting.insert(waiting.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
        cuts.clear();
        cutter.Feed(block.data(), got, cuts);
        for (const uint64_t end : cuts) cutAt(end);
    }
    if (const auto end = cutter.Finish()) cutAt(*end);
    stored.Entry.Hash = fileHash.Final();
    return stored;
}

bool ChunksPresent(const std::string& serverDir, const TChunkedFile& entry) {
    for (const TChunkRef& chunk : entry.Chunks)
        if (os::FileSize(ChunkFileIn(serverDir, chunk.Hash)) != chunk.CompressedSize) return false;
    return true;
}

std::optional<TChunkIndex> ReadPublishedIndex(const std::string& serverDir, const std::string& indexHex) {
    const std::string file = IndexFileIn(serverDir);
    if (indexHex.empty() || !os::FileExists(file)) return std::nullopt;
    const std::string bytes = ReadWholeFile(file);
    if (Sha256Hex(bytes.data(), bytes.size()) != indexHex) return std::nullopt;
    TParsed<TChunkIndex> index = ReadChunkIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!index || index.Value->Chunker != TChunkerParams{}) return std::nullopt;
    return std::move(index.Value);
}

std::string StageChunkIndex(const std::string& serverDir, const TChunkIndex& index, TStagedFiles& staged) {
    const std::vector<uint8_t> frame = FormatChunkIndex(index);
    const std::string bytes(frame.begin(), frame.end());
    const std::string file = IndexFileIn(serverDir);
    if (!os::FileExists(file) || ReadWholeFile(file) != bytes) {
        TFileStream output(staged.Stage(file), FileMode::Create);
        output.WriteBuffer(bytes.data(), bytes.size());
    }
    return Sha256Hex(bytes.data(), bytes.size());
}

std::size_t PruneChunks(const std::string& serverDir, const std::vector<TChunkIndex>& indexes) {
    std::set<std::string> keep;
    for (const TChunkIndex& index : indexes)
        for (const TChunkedFile& file : index.Files)
            for (const TChunkRef& chunk : file.Chunks) keep.insert(ChunkFileIn(serverDir, chunk.Hash));
    const std::string store = JoinPath(serverDir, ChunkStoreFolder);
    std::vector<std::string> files;
    CollectStoreFiles(store, files);
    std::size_t pruned = 0;
    for (const std::string& file : files)
        if (!keep.contains(file) && os::DeleteFile(file)) ++pruned;
    std::vector<os::TFolderEntry> folders;
    if (os::ListFolder(store, folders))
        for (const os::TFolderEntry& folder : folders) {
            std::vector<os::TFolderEntry> rest;
            const std::string path = JoinPath(store, folder.Name);
            if (folder.IsFolder && os::ListFolder(path, rest) && rest.empty())
                static_cast<void>(os::RemoveDir(path));  // kept if busy: harmless
        }
    return pruned;
}

}  // namespace orvex
