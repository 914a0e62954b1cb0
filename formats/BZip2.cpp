#include "formats/BZip2.h"

#include <bzlib.h>

#include <climits>
#include <new>

namespace orvex {

namespace {

bz_stream& Rec(unsigned char* storage) { return *std::launder(reinterpret_cast<bz_stream*>(storage)); }

// The library's memory comes from ours, so running out raises like any other allocation.
void* BZAlloc(void*, int items, int size) {
    return ::operator new(static_cast<std::size_t>(items) * static_cast<std::size_t>(size));
}

void BZFree(void*, void* block) { ::operator delete(block); }

void CheckResult(int result) {
    if (result < 0) throw EBZDecompressionError(Format(SBZip2Error, result));
}

int64_t Join(unsigned high, unsigned low) {
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

}  // namespace

TCustomBZip2Stream::TCustomBZip2Stream(TStream& source) : FSource(source), FSourcePos(source.GetPosition()) {
    static_assert(sizeof(bz_stream) <= BZRecSize && alignof(bz_stream) <= alignof(void*));
    bz_stream* record = new (FBZRec) bz_stream{};
    record->bzalloc = BZAlloc;
    record->bzfree = BZFree;
    record->opaque = nullptr;
}

void TCustomBZip2Stream::Progress() {
    if (OnProgress) OnProgress(*this);
}

TBZDecompressionStream::TBZDecompressionStream(TStream& source) : TCustomBZip2Stream(source) { StartDecoder(); }

TBZDecompressionStream::~TBZDecompressionStream() { BZ2_bzDecompressEnd(&Rec(FBZRec)); }

void TBZDecompressionStream::StartDecoder() {
    CheckResult(BZ2_bzDecompressInit(&Rec(FBZRec), 0, 0));
    FStreamEnded = false;
}

int64_t TBZDecompressionStream::DecodedPosition() {
    const bz_stream& rec = Rec(FBZRec);
    return Join(rec.total_out_hi32, rec.total_out_lo32);
}

int64_t TBZDecompressionStream::InputTaken() {
    const bz_stream& rec = Rec(FBZRec);
    return Join(rec.total_in_hi32, rec.total_in_lo32);
}

std::size_t TBZDecompressionStream::Read(void* buffer, std::size_t count) {
    bz_stream& rec = Rec(FBZRec);
    // The library counts its room in an unsigned int; a larger request is simply served in part.
    const auto room = static_cast<unsigned>(count > UINT_MAX ? UINT_MAX : count);
    rec.next_out = static_cast<char*>(buffer);
    rec.avail_out = room;
    // Someone else may have moved the source since our last refill.
    if (FSource.GetPosition() != FSourcePos) FSource.SetPosition(FSourcePos);
    while (rec.avail_out > 0) {
        if (rec.avail_in == 0) {
            const std::size_t got = FSource.Read(FBuffer, BufferSize);
            if (got == 0) {
                // Input that stops inside the stream would otherwise pass as a shorter file.
                if (!FStreamEnded && InputTaken() > 0)
                    throw EBZDecompressionError(Format(SBZip2Error, BZ_UNEXPECTED_EOF));
                return room - rec.avail_out;
            }
            rec.next_in = FBuffer;
            rec.avail_in = static_cast<unsigned>(got);
            FSourcePos = FSource.GetPosition();
        }
        const int result = BZ2_bzDecompress(&rec);
        CheckResult(result);
        if (result == BZ_STREAM_END) FStreamEnded = true;
        Progress();
    }
    return room;
}

std::size_t TBZDecompressionStream::Write(const void*, std::size_t) {
    throw EBZDecompressionError(SInvalidStreamOperation);
}

int64_t TBZDecompressionStream::Seek(int64_t offset, SeekOrigin origin) {
    if (origin == SeekOrigin::Beginning && offset == 0) {
        CheckResult(BZ2_bzDecompressEnd(&Rec(FBZRec)));
        StartDecoder();
        Rec(FBZRec).avail_in = 0;
        FSource.SetPosition(0);
        FSourcePos = 0;
        return 0;
    }
    const int64_t position = DecodedPosition();
    int64_t distance = -1;
    if (origin == SeekOrigin::Current && offset >= 0)
        distance = offset;
    else if (origin == SeekOrigin::Beginning && offset > position)
        distance = offset - position;
    if (distance < 0) throw EBZDecompressionError(SInvalidStreamOperation);
    SkipForward(distance);
    return DecodedPosition();
}

void TBZDecompressionStream::SkipForward(int64_t distance) {
    constexpr int64_t PieceSize = 4096;
    char piece[PieceSize];
    for (; distance >= PieceSize; distance -= PieceSize) ReadBuffer(piece, PieceSize);
    if (distance > 0) ReadBuffer(piece, static_cast<std::size_t>(distance));
}

}  // namespace orvex
