#pragma once
// Streams bytes into one bzip2 stream written to a TStream.
#include "base/Exceptions.h"
#include "base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvex {

// The library refused to start or to go on; the message carries its code.
class EBZCompressionError : public Exception {
public:
    using Exception::Exception;
};

class TBZ2Compressor {
public:
    // Raises EBZCompressionError when the library cannot start, e.g. without memory.
    explicit TBZ2Compressor(TStream& target, int blockSize100k = 9);
    ~TBZ2Compressor();
    TBZ2Compressor(const TBZ2Compressor&) = delete;
    TBZ2Compressor& operator=(const TBZ2Compressor&) = delete;

    void Write(const void* data, std::size_t count);
    // Ends the stream; nothing may be written after it.
    void Finish();
    // Compressed bytes written to the target so far.
    int64_t CompressedSize() const { return FWritten; }

private:
    struct TState;
    void Run(int action);

    TStream& FTarget;
    std::unique_ptr<TState> FState;
    int64_t FWritten = 0;
};

}  // namespace orvex
