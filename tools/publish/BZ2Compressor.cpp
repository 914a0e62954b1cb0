#include "tools/publish/BZ2Compressor.h"

#include "base/Exceptions.h"

#include <bzlib.h>

#include <climits>
#include <vector>

namespace orvex {

struct TBZ2Compressor::TState {
    bz_stream Stream{};
    std::vector<char> Buffer = std::vector<char>(std::size_t{1} << 20);
    bool Finished = false;
};

TBZ2Compressor::TBZ2Compressor(TStream& target, int blockSize100k) : FTarget(target), FState(new TState) {
    const int result = BZ2_bzCompressInit(&FState->Stream, blockSize100k, 0, 0);
    if (result != BZ_OK) throw EBZCompressionError(Format("bzip2 compression error %d", result));
}

TBZ2Compressor::~TBZ2Compressor() { BZ2_bzCompressEnd(&FState->Stream); }

void TBZ2Compressor::Write(const void* data, std::size_t count) {
    if (FState->Finished) throw EStreamError(SInvalidStreamOperation);
    const auto* bytes = static_cast<const char*>(data);
    while (count != 0) {
        const unsigned part = count > UINT_MAX ? UINT_MAX : static_cast<unsigned>(count);
        FState->Stream.next_in = const_cast<char*>(bytes);
        FState->Stream.avail_in = part;
        Run(BZ_RUN);
        bytes += part;
        count -= part;
    }
}

void TBZ2Compressor::Finish() {
    if (FState->Finished) return;
    FState->Stream.avail_in = 0;
    Run(BZ_FINISH);
    FState->Finished = true;
}

void TBZ2Compressor::Run(int action) {
    bz_stream& stream = FState->Stream;
    std::vector<char>& buffer = FState->Buffer;
    for (;;) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<unsigned>(buffer.size());
        const int result = BZ2_bzCompress(&stream, action);
        const std::size_t produced = buffer.size() - stream.avail_out;
        FTarget.WriteBuffer(buffer.data(), produced);
        FWritten += static_cast<int64_t>(produced);
        if (action == BZ_FINISH ? result == BZ_STREAM_END : result == BZ_RUN_OK && stream.avail_in == 0) return;
        if (result != (action == BZ_FINISH ? BZ_FINISH_OK : BZ_RUN_OK))
            throw EBZCompressionError(Format("bzip2 compression error %d", result));
    }
}

}  // namespace orvex
