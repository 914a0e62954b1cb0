#include "formats/BZip2Blocks.h"

#include "util/WorkerPool.h"

#include <bzlib.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <optional>

namespace orvex {

namespace {

constexpr uint64_t PatternMask = (uint64_t{1} << 48) - 1;
constexpr uint64_t HeaderBits = 32;
// Pattern and block CRC: the least a block or the stream's trailer can hold.
constexpr uint64_t MagicAndCrcBits = 48 + 32;

// For every value of the byte before the latest one, the shifts of each pattern it leaves
// possible; most bytes rule out all of them, so few places need the full comparison.
struct TShiftFilter {
    uint8_t Block[256] = {};
    uint8_t End[256] = {};

    TShiftFilter() {
        for (unsigned shift = 0; shift < 8; ++shift) {
            Block[((BlockMagic << shift) >> 8) & 0xFF] |= static_cast<uint8_t>(1u << shift);
            End[((EndOfStreamMagic << shift) >> 8) & 0xFF] |= static_cast<uint8_t>(1u << shift);
        }
    }
};

const TShiftFilter ShiftFilter;

// count (at most 24) bits from bit offset bit of data, most significant first as bzip2 stores them.
uint32_t BitsAt(const uint8_t* data, uint64_t bit, unsigned count) {
    const uint8_t* first = data + bit / 8;
    const unsigned skip = static_cast<unsigned>(bit % 8);
    const unsigned bytes = (skip + count + 7) / 8;
    uint32_t gathered = 0;
    for (unsigned i = 0; i < bytes; ++i) gathered = (gathered << 8) | first[i];
    return (gathered >> (bytes * 8 - skip - count)) & ((1u << count) - 1);
}

uint32_t Bits32At(const uint8_t* data, uint64_t bit) { return (BitsAt(data, bit, 16) << 16) | BitsAt(data, bit + 16, 16); }

class TBitWriter {
public:
    explicit TBitWriter(std::vector<uint8_t>& out) : FOut(out) {}

    // count at most 32
    void Put(uint64_t value, unsigned count) {
        FPending = (FPending << count) | (value & ((uint64_t{1} << count) - 1));
        FCount += count;
        while (FCount >= 8) {
            FCount -= 8;
            FOut.push_back(static_cast<uint8_t>(FPending >> FCount));
        }
    }

    // Pads the last byte with zero bits, as bzip2 does.
    void Finish() {
        if (FCount > 0) FOut.push_back(static_cast<uint8_t>(FPending << (8 - FCount)));
        FCount = 0;
    }

private:
    std::vector<uint8_t>& FOut;
    uint64_t FPending = 0;
    unsigned FCount = 0;
};

// The memory libbz2 asks for, kept for the next block of the same thread: every block needs the
// same few megabytes, which would otherwise be mapped and zeroed afresh each time.
class TDecoderMemory {
public:
    TDecoderMemory() = default;
    TDecoderMemory(const TDecoderMemory&) = delete;
    TDecoderMemory& operator=(const TDecoderMemory&) = delete;
    ~TDecoderMemory() {
        for (const TBlock& block : FFree) ::operator delete(block.Address);
    }

    static void* Allocate(void* opaque, int items, int size) {
        return static_cast<TDecoderMemory*>(opaque)->Take(static_cast<std::size_t>(items) * static_cast<std::size_t>(size));
    }
    static void Release(void* opaque, void* address) { static_cast<TDecoderMemory*>(opaque)->Keep(address); }

private:
    struct TBlock {
        void* Address;
        std::size_t Size;
    };
    static constexpr std::size_t KeptBlocks = 4;

    void* Take(std::size_t size) {
        for (std::size_t i = 0; i < FFree.size(); ++i) {
            if (FFree[i].Size != size) continue;
            const TBlock block = FFree[i];
            FFree.erase(FFree.begin() + static_cast<std::ptrdiff_t>(i));
            FInUse.push_back(block);
            return block.Address;
        }
        void* address = ::operator new(size, std::nothrow);  // libbz2 reports a null as BZ_MEM_ERROR
        if (address) FInUse.push_back({address, size});
        return address;
    }

    void Keep(void* address) {
        const auto used = std::find_if(FInUse.begin(), FInUse.end(), [&](const TBlock& b) { return b.Address == address; });
        if (used == FInUse.end()) return;
        FFree.push_back(*used);
        FInUse.erase(used);
        if (FFree.size() > KeptBlocks) {
            ::operator delete(FFree.front().Address);
            FFree.erase(FFree.begin());
        }
    }

    std::vector<TBlock> FInUse;
    std::vector<TBlock> FFree;
};

uint32_t CombineCrc(uint32_t combined, uint32_t blockCrc) { return ((combined << 1) | (combined >> 31)) ^ blockCrc; }

// Runs a wrapped single-block stream through libbz2, passing its output to sink in pieces. True
// only when the stream decoded to its end with every byte of it used and both CRCs right.
bool DecodeWrapped(const std::vector<uint8_t>& wrapped, TDecoderMemory& memory,
                   const std::function<void(const uint8_t*, std::size_t)>& sink) {
    bz_stream rec{};
    rec.bzalloc = TDecoderMemory::Allocate;
    rec.bzfree = TDecoderMemory::Release;
    rec.opaque = &memory;
    if (BZ2_bzDecompressInit(&rec, 0, 0) != BZ_OK) return false;
    struct EndDecoder {
        bz_stream& Rec;
        ~EndDecoder() { BZ2_bzDecompressEnd(&Rec); }
    } end{rec};
    constexpr std::size_t PieceSize = 65536;
    const auto piece = std::make_unique<char[]>(PieceSize);
    rec.next_in = const_cast<char*>(reinterpret_cast<const char*>(wrapped.data()));
    rec.avail_in = static_cast<unsigned>(wrapped.size());
    for (;;) {
        rec.next_out = piece.get();
        rec.avail_out = PieceSize;
        const int result = BZ2_bzDecompress(&rec);
        if (result < 0) return false;
        const std::size_t produced = PieceSize - rec.avail_out;
        if (produced > 0) sink(reinterpret_cast<const uint8_t*>(piece.get()), produced);
        if (result == BZ_STREAM_END) return rec.avail_in == 0;
        if (produced == 0 && rec.avail_in == 0) return false;  // cut short
    }
}

struct TDecoded {
    bool Ok = false;
    // Decoded and checked, but longer than MaxHeldOutput: not kept.
    bool Oversized = false;
    std::vector<uint8_t> Output;
};

// The raw bytes of a stretch of the packed stream and the bits of it that belong to one part.
struct TPackedBits {
    std::shared_ptr<const std::vector<uint8_t>> Bytes;
    uint64_t FirstByte = 0;  // the stream offset of Bytes' first byte
    uint64_t FirstBit = 0;
    uint64_t EndBit = 0;

    uint32_t BlockCrc() const { return Bits32At(Bytes->data(), FirstBit + 48 - FirstByte * 8); }

    std::vector<uint8_t> Wrap(char level, uint32_t& blockCrc) const {
        return WrapBlock(level, Bytes->data(), FirstByte, FirstBit, EndBit, blockCrc);
    }
};

TDecoded DecodePart(char level, const TPackedBits& bits, TDecoderMemory& memory) {
    TDecoded decoded;
    try {
        uint32_t blockCrc = 0;
        const std::vector<uint8_t> wrapped = bits.Wrap(level, blockCrc);
        if (wrapped.empty()) return decoded;
        decoded.Output.reserve(std::size_t{1} << 20);
        decoded.Ok = DecodeWrapped(wrapped, memory, [&](const uint8_t* bytes, std::size_t count) {
            if (decoded.Oversized) return;
            if (decoded.Output.size() + count > MaxHeldOutput) {
                decoded.Oversized = true;
                std::vector<uint8_t>().swap(decoded.Output);
                return;
            }
            decoded.Output.insert(decoded.Output.end(), bytes, bytes + count);
        });
    } catch (...) {
        // Running out of memory, or libbz2's internal error: the sequential decode will say which.
        decoded = TDecoded{};
    }
    return decoded;
}

// A stretch between two neighbouring candidates: a block when its candidate is a true one.
struct TPart {
    TPackedBits Bits;
    bool EndOfStream = false;  // starts with the end-of-stream pattern
    bool Last = false;         // runs to the end of the input
    bool Submitted = false;
    std::shared_ptr<std::atomic<bool>> Dropped = std::make_shared<std::atomic<bool>>(false);
    std::optional<TJobResult<TDecoded>> Result;  // once submitted or decoded in place
};

class TBlockPipeline {
public:
    TBlockPipeline(TStream& source, IBlockOutput& output, const TBlockDecodeOptions& options)
        : FSource(source),
          FOutput(output),
          FThreads(std::clamp(options.Threads, 1u, MaxBlockThreads)),
          FExtra(options.ExtraCandidates),
          FPool(FThreads) {
        std::sort(FExtra.begin(), FExtra.end(), [](const TMagicHit& a, const TMagicHit& b) { return a.Bit < b.Bit; });
    }

    bool Run() {
        if (!ReadHeader()) return false;
        for (;;) {
            if (!Fill()) return false;
            if (FParts.empty()) return false;
            TPart& head = FParts.front();
            if (head.EndOfStream) return Finish(head);
            TDecoded decoded = head.Result->Get();
            if (!decoded.Ok) {
                if (!MergeHeadWithNext()) return false;
                continue;
            }
            if (!Put(head, decoded)) return false;
            FOutput.PackedDone(head.Bits.EndBit / 8);
            FParts.pop_front();
        }
    }

private:
    static constexpr std::size_t WindowSize = std::size_t{1} << 20;

    std::size_t PartsInFlight() const { return FThreads + 2; }

    bool ReadHeader() {
        uint8_t header[4];
        if (FSource.Read(header, sizeof header) != sizeof header) return false;
        if (header[0] != 'B' || header[1] != 'Z' || header[2] != 'h' || header[3] < '1' || header[3] > '9') return false;
        FLevel = static_cast<char>(header[3]);
        FScanner.Scan(header, sizeof header, FHits);
        FPending.assign(header, header + sizeof header);
        FRead = sizeof header;
        return true;
    }

    // Reads until enough parts are cut to keep the threads busy, and hands them out. False when
    // the input cannot be split within the bounds.
    bool Fill() {
        while (FParts.size() < PartsInFlight() && !FInputEnded) {
            if (!ReadWindow()) return false;
        }
        for (std::size_t i = 0; i < FParts.size() && i < PartsInFlight(); ++i)
            if (!FParts[i].Submitted) Submit(FParts[i]);
        return true;
    }

    bool ReadWindow() {
        // Bytes before the open part are dropped here, once a window, rather than at every cut.
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(FOpenPartByte - FPendingFirstByte));
        FPendingFirstByte = FOpenPartByte;
        const std::size_t kept = FPending.size();
        FPending.resize(kept + WindowSize);
        const std::size_t got = FSource.Read(FPending.data() + kept, WindowSize);
        FPending.resize(kept + got);
        FHits.clear();
        FScanner.Scan(FPending.data() + kept, got, FHits);
        FRead += got;
        AddExtraCandidates();
        for (const TMagicHit& hit : FHits)
            if (!StartPartAt(hit)) return false;
        if (got == 0) {
            FInputEnded = true;
            if (!FOpen) return false;
            CutPart(FRead * 8);
            FParts.back().Last = true;
        }
        // Whatever candidate comes next, the part it ends would be too long to be a block.
        return FRead - FOpenPartByte <= MaxPackedPart;
    }

    void AddExtraCandidates() {
        const std::size_t before = FHits.size();
        while (FNextExtra < FExtra.size() && FExtra[FNextExtra].Bit + 48 <= FRead * 8)
            FHits.push_back(FExtra[FNextExtra++]);
        if (FHits.size() == before) return;
        std::sort(FHits.begin(), FHits.end(), [](const TMagicHit& a, const TMagicHit& b) { return a.Bit < b.Bit; });
        FHits.erase(std::unique(FHits.begin(), FHits.end(), [](const TMagicHit& a, const TMagicHit& b) { return a.Bit == b.Bit; }),
                    FHits.end());
    }

    bool StartPartAt(const TMagicHit& hit) {
        if (!FOpen) {
            // The first block follows the header right away; anything else is not a stream we split.
            if (hit.Bit != HeaderBits) return false;
            FOpen = true;
        } else {
            if (hit.Bit <= FOpenBit) return true;
            CutPart(hit.Bit);
        }
        FOpenBit = hit.Bit;
        FOpenIsEnd = hit.EndOfStream;
        return true;
    }

    // Ends the open part at bit end and keeps the bytes the next part starts in.
    void CutPart(uint64_t end) {
        const uint64_t firstByte = FOpenBit / 8;
        const uint64_t endByte = (end + 7) / 8;
        TPart part;
        part.Bits.Bytes = std::make_shared<const std::vector<uint8_t>>(FPending.begin() + static_cast<std::ptrdiff_t>(firstByte - FPendingFirstByte),
                                                                       FPending.begin() + static_cast<std::ptrdiff_t>(endByte - FPendingFirstByte));
        part.Bits.FirstByte = firstByte;
        part.Bits.FirstBit = FOpenBit;
        part.Bits.EndBit = end;
        part.EndOfStream = FOpenIsEnd;
        FParts.push_back(std::move(part));
        FOpenPartByte = end / 8;
    }

    void Submit(TPart& part) {
        part.Submitted = true;
        if (part.EndOfStream) return;
        part.Result = FPool.Submit([level = FLevel, bits = part.Bits, dropped = part.Dropped](std::stop_token) {
            return dropped->load() ? TDecoded{} : DecodePart(level, bits, TWorkerPool::ThreadState<TDecoderMemory>());
        });
    }

    // The head part did not decode: its end was a false candidate, so it takes in the next part
    // and is decoded again here, as everything else waits for it anyway.
    bool MergeHeadWithNext() {
        while (FParts.size() < 2 && !FInputEnded)
            if (!ReadWindow()) return false;
        if (FParts.size() < 2) return false;
        TPart head = std::move(FParts[0]);
        TPart next = std::move(FParts[1]);
        FParts.pop_front();
        FParts.pop_front();
        if (next.Bits.EndBit - head.Bits.FirstBit > uint64_t{MaxPackedPart} * 8) return false;
        auto joined = std::make_shared<std::vector<uint8_t>>(
            head.Bits.Bytes->begin(),
            head.Bits.Bytes->begin() + static_cast<std::ptrdiff_t>(head.Bits.EndBit / 8 - head.Bits.FirstByte));
        joined->insert(joined->end(), next.Bits.Bytes->begin(), next.Bits.Bytes->end());
        head.Bits.Bytes = std::move(joined);
        head.Bits.EndBit = next.Bits.EndBit;
        head.Last = next.Last;
        next.Dropped->store(true);
        head.Result.emplace();
        head.Result->SetValue(DecodePart(FLevel, head.Bits, FMemory));
        FParts.push_front(std::move(head));
        return true;
    }

    bool Put(const TPart& part, const TDecoded& decoded) {
        if (!decoded.Oversized) {
            if (!decoded.Output.empty()) FOutput.Output(decoded.Output.data(), decoded.Output.size());
        } else {
            uint32_t blockCrc = 0;
            const std::vector<uint8_t> wrapped = part.Bits.Wrap(FLevel, blockCrc);
            if (!DecodeWrapped(wrapped, FMemory, [this](const uint8_t* bytes, std::size_t count) { FOutput.Output(bytes, count); }))
                return false;
        }
        FCombinedCrc = CombineCrc(FCombinedCrc, part.Bits.BlockCrc());
        return true;
    }

    // The end-of-stream pattern after the last block: it must carry the blocks' combined CRC and
    // be followed by nothing but the padding of its last byte.
    bool Finish(const TPart& end) {
        if (!end.Last) return false;
        const uint64_t length = end.Bits.EndBit - end.Bits.FirstBit;
        if (length < MagicAndCrcBits || length >= MagicAndCrcBits + 8) return false;
        if (end.Bits.BlockCrc() != FCombinedCrc) return false;  // the stream's CRC sits where a block's would
        FOutput.PackedDone(FRead);
        return true;
    }

    TStream& FSource;
    IBlockOutput& FOutput;
    const unsigned FThreads;
    std::vector<TMagicHit> FExtra;
    std::size_t FNextExtra = 0;

    char FLevel = '9';
    TMagicScanner FScanner;
    std::vector<TMagicHit> FHits;
    std::vector<uint8_t> FPending;  // the input from the last window's open part on
    uint64_t FPendingFirstByte = 0;
    uint64_t FOpenPartByte = 0;  // where the part after the last cut begins
    uint64_t FRead = 0;
    bool FInputEnded = false;
    bool FOpen = false;  // a part has begun
    uint64_t FOpenBit = 0;
    bool FOpenIsEnd = false;
    uint32_t FCombinedCrc = 0;

    std::deque<TPart> FParts;
    TDecoderMemory FMemory;  // for the parts decoded on the calling thread
    // Last, so it goes first: no job outlives what it reads.
    TWorkerPool FPool;
};

}  // namespace

void TMagicScanner::Scan(const uint8_t* bytes, std::size_t count, std::vector<TMagicHit>& hits) {
    for (std::size_t i = 0; i < count; ++i) {
        FRecent = (FRecent << 8) | bytes[i];
        ++FBytesSeen;
        const auto before = static_cast<uint8_t>(FRecent >> 8);
        const unsigned blockShifts = ShiftFilter.Block[before];
        const unsigned endShifts = ShiftFilter.End[before];
        if ((blockShifts | endShifts) == 0) continue;
        // A larger shift puts the pattern's start earlier: go from there for hits in bit order.
        for (int shift = 7; shift >= 0; --shift) {
            const uint64_t endBit = FBytesSeen * 8 - static_cast<uint64_t>(shift);
            if (endBit < HeaderBits + 48) continue;
            const uint64_t candidate = (FRecent >> shift) & PatternMask;
            if ((blockShifts >> shift) & 1u && candidate == BlockMagic) hits.push_back({endBit - 48, false});
            if ((endShifts >> shift) & 1u && candidate == EndOfStreamMagic) hits.push_back({endBit - 48, true});
        }
    }
}

std::vector<uint8_t> WrapBlock(char level, const uint8_t* source, uint64_t sourceByte, uint64_t firstBit, uint64_t endBit,
                               uint32_t& blockCrc) {
    std::vector<uint8_t> wrapped;
    if (endBit < firstBit + MagicAndCrcBits) return wrapped;
    const uint64_t base = sourceByte * 8;
    blockCrc = Bits32At(source, firstBit + 48 - base);
    wrapped.reserve(static_cast<std::size_t>((endBit - firstBit) / 8 + 16));
    wrapped.insert(wrapped.end(), {'B', 'Z', 'h', static_cast<uint8_t>(level)});
    // The header ends on a byte boundary, so whole bytes of the block go over by one shift.
    uint64_t bit = firstBit - base;
    const uint64_t end = endBit - base;
    const unsigned shift = static_cast<unsigned>(bit % 8);
    const uint8_t* from = source + bit / 8;
    const uint64_t wholeBytes = (end - bit) / 8;
    const std::size_t headerBytes = wrapped.size();
    wrapped.resize(headerBytes + static_cast<std::size_t>(wholeBytes));
    uint8_t* to = wrapped.data() + headerBytes;
    if (shift == 0) {
        std::copy(from, from + wholeBytes, to);
    } else {
        // Each byte takes its last bits from the next source byte, which the range still reaches.
        for (uint64_t i = 0; i < wholeBytes; ++i) to[i] = static_cast<uint8_t>((from[i] << shift) | (from[i + 1] >> (8 - shift)));
    }
    bit += wholeBytes * 8;
    TBitWriter writer(wrapped);
    if (bit < end) writer.Put(BitsAt(source, bit, static_cast<unsigned>(end - bit)), static_cast<unsigned>(end - bit));
    writer.Put(EndOfStreamMagic >> 24, 24);
    writer.Put(EndOfStreamMagic & 0xFFFFFF, 24);
    writer.Put(blockCrc, 32);
    writer.Finish();
    return wrapped;
}

bool DecodeBlocksInParallel(TStream& source, IBlockOutput& output, const TBlockDecodeOptions& options) {
    TBlockPipeline pipeline(source, output, options);
    return pipeline.Run();
}

}  // namespace orvex
