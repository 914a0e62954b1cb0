#include "update/ChunkedCopy.h"

#include "base/Disk.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "formats/Sha256.h"
#include "formats/Zstd.h"
#include "update/Limits.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orvex {
namespace {

constexpr std::size_t ReadBlock = 1 << 20;

std::string ChunkName(const TChunkRef& chunk) { return "chunk " + DigestHex(chunk.Hash); }

// Both digests of what is written, as it is written, and the volume's reserve kept.
class DigestingWriter {
public:
    DigestingWriter(const std::string& target, const TUnpackLimits& room)
        : FStream(target, FileMode::Create), FGuard(room, "build") {
        MD5Init(FMd5);
    }

    void Write(const uint8_t* data, std::size_t size) {
        FGuard.Admit(size);
        FStream.WriteBuffer(data, size);
        FSha.Update(data, size);
        detail::MD5UpdateLarge(FMd5, data, size);
    }
    // Reads back what was written at offset; writing goes on at the end.
    void ReadBack(uint64_t offset, std::vector<uint8_t>& bytes) {
        FStream.SetPosition(static_cast<int64_t>(offset));
        FStream.ReadBuffer(bytes.data(), bytes.size());
        FStream.Seek(0, SeekOrigin::End);
    }
    TSha256Digest Sha() { return FSha.Final(); }
    MD5Digest Md5() {
        MD5Digest digest{};
        MD5Final(FMd5, digest);
        return digest;
    }

private:
    TFileStream FStream;
    TOutputGuard FGuard;
    TSha256 FSha;
    MD5_CTX FMd5{};
};

std::string MiBText(uint64_t bytes) { return std::to_string((bytes + MiB - 1) / MiB) + " MiB"; }


// Cuts the old file as the publisher cut the new one and marks each wanted chunk found in it.
void FindInOldFile(const TChunkedFile& file, const TChunkerParams& params, const std::string& oldFile,
                   const std::map<TSha256Digest, std::vector<std::size_t>>& wanted, TChunkSources& sources) {
    std::unique_ptr<TFileStream> old;
    if (!os::IsRegularFile(oldFile)) return;  // a FIFO or a device would never end
    try {
        old = std::make_unique<TFileStream>(oldFile, FileMode::OpenRead);
    } catch (const EStreamError&) {
        return;  // unreadable: every chunk is fetched
    }
    TChunkCutter cutter(params);
    TSha256 hash;
    std::vector<uint8_t> block(ReadBlock);
    std::vector<uint64_t> cuts;
    uint64_t blockStart = 0, chunkStart = 0;
    const auto found = [&](uint64_t end) {
        const auto places = wanted.find(hash.Final());
        if (places == wanted.end()) return;
        for (const std::size_t i : places->second)
            if (file.Chunks[i].Size == end - chunkStart) sources.OldOffsets[i] = chunkStart;
    };
    try {
        for (;;) {
            const std::size_t got = old->Read(block.data(), block.size());
            if (got == 0) break;
            cuts.clear();
            cutter.Feed(block.data(), got, cuts);
            uint64_t fed = blockStart;
            for (const uint64_t cut : cuts) {
                hash.Update(block.data() + (fed - blockStart), cut - fed);
                found(cut);
                fed = chunkStart = cut;
            }
            hash.Update(block.data() + (fed - blockStart), blockStart + got - fed);
            blockStart += got;
        }
        if (const auto end = cutter.Finish()) found(*end);
    } catch (const EStreamError&) {
        // A read error part way: what was found before it still stands, the rest is fetched.
    }
}

}  // namespace

TChunkSources FindChunkSources(const TChunkedFile& file, const TChunkerParams& params, const std::string& oldFile) {
    TChunkSources sources;
    sources.OldOffsets.resize(file.Chunks.size());
    std::map<TSha256Digest, std::vector<std::size_t>> wanted;  // chunk hash -> its places in file
    for (std::size_t i = 0; i < file.Chunks.size(); ++i) wanted[file.Chunks[i].Hash].push_back(i);
    FindInOldFile(file, params, oldFile, wanted, sources);
    for (std::size_t i = 0; i < file.Chunks.size(); ++i) {
        const TChunkRef& chunk = file.Chunks[i];
        if (sources.OldOffsets[i]) {
            sources.ReusedBytes += chunk.Size;
            continue;
        }
        // A chunk that repeats within the file is fetched once.
        const std::size_t first = wanted[chunk.Hash].front();
        if (first != i) continue;
        sources.DownloadBytes += chunk.CompressedSize;
        sources.ToFetch.push_back(i);
    }
    return sources;
}

// With room for what is written between two looks at the free space, as the writing asks.
void CheckRoomToBuild(const TChunkedFile& file, const TUnpackLimits& room) {
    const std::optional<uint64_t> free = os::FreeSpace(room.Volume);
    const uint64_t kept = room.FreeSpaceReserve + FreeSpaceCheckInterval;
    if (!free || *free >= kept + file.Size) return;
    throw EUnpackLimit("Not enough free disk space to build " + room.Volume + ": " + MiBText(file.Size) + " needed, " +
                       MiBText(*free > kept ? *free - kept : 0) + " free beyond the reserve");
}

MD5Digest AssembleChunkedFile(const TChunkedFile& file, const TChunkSources& sources, const std::string& oldFile,
                              const std::string& target, const TChunkFetcher& fetch, const TUnpackLimits& room) {
    DigestingWriter out(target, room);
    std::unique_ptr<TFileStream> old;
    std::map<TSha256Digest, uint64_t> written;  // fetched chunks: where target holds them
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < file.Chunks.size(); ++i) {
        const TChunkRef& chunk = file.Chunks[i];
        if (const auto offset = sources.OldOffsets[i]) {
            if (!old) old = std::make_unique<TFileStream>(oldFile, FileMode::OpenRead);
            bytes.resize(chunk.Size);
            old->SetPosition(static_cast<int64_t>(*offset));
            old->ReadBuffer(bytes.data(), bytes.size());
        } else if (const auto at = written.find(chunk.Hash); at != written.end()) {
            // A chunk the file holds more than once is fetched once and copied after.
            bytes.resize(chunk.Size);
            out.ReadBack(at->second, bytes);
        } else {
            const std::vector<uint8_t> frame = fetch(chunk);
            if (frame.size() > chunk.CompressedSize)
                throw Exception(ChunkName(chunk) + " is longer than the index says");
            try {
                bytes = ZstdDecompress(frame.data(), frame.size(), chunk.Size, chunk.Size);
            } catch (const std::exception& error) {
                throw Exception(ChunkName(chunk) + " does not unpack: " + error.what());
            }
            if (Sha256(bytes.data(), bytes.size()) != chunk.Hash) throw Exception(ChunkName(chunk) + " does not match its hash");
            written.emplace(chunk.Hash, chunk.Offset);
        }
        out.Write(bytes.data(), bytes.size());
    }
    // Chunks taken from the old file are checked here, with the whole.
    if (out.Sha() != file.Hash) throw Exception("the built file does not match the chunk index");
    return out.Md5();
}

}  // namespace orvex
