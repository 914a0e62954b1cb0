#pragma once
// Read-only bzip2 decompression over another stream.
#include "base/Exceptions.h"
#include "base/Stream.h"

#include <cstdint>
#include <functional>

namespace orvex {

class EBZip2Error : public Exception {
public:
    using Exception::Exception;
};

class EBZDecompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};

inline constexpr const char* SBZip2Error = "error %d";
inline constexpr const char* SBZip2InternalError = "Compression Error %d";

class TCustomBZip2Stream : public TStream {
public:
    using TProgressEvent = std::function<void(TStream& sender)>;

    static constexpr std::size_t BufferSize = 65536;

    explicit TCustomBZip2Stream(TStream& source);

protected:
    TStream& FSource;  // not owned
    int64_t FSourcePos;

public:
    // Fired after every call of the library, with this stream as sender.
    TProgressEvent OnProgress;

protected:
    // The library's bz_stream, built in place. Its header stays out of ours because on Windows it
    // brings all of windows.h with it.
    static constexpr std::size_t BZRecSize = 12 * sizeof(void*);
    alignas(void*) unsigned char FBZRec[BZRecSize];
    char FBuffer[BufferSize];

    virtual void Progress();
};

class TBZDecompressionStream : public TCustomBZip2Stream {
public:
    // The bzip2 data starts at the source's current position.
    explicit TBZDecompressionStream(TStream& source);
    ~TBZDecompressionStream() override;

    // Returns fewer than count bytes only where the bzip2 stream ends; raises EBZDecompressionError
    // for undecodable data, also for data that stops before the end-of-stream marker.
    std::size_t Read(void* buffer, std::size_t count) override;
    // Always raises EBZDecompressionError.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Restart with Seek(0, Beginning); otherwise forward only, by decoding and discarding.
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

private:
    void StartDecoder();
    int64_t DecodedPosition();
    int64_t InputTaken();
    void SkipForward(int64_t distance);

    bool FStreamEnded = false;
};

}  // namespace orvex
