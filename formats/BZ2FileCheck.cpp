#include "formats/BZ2FileCheck.h"

#include "base/Exceptions.h"
#include "base/Stream.h"

#include <bzlib.h>

#include <memory>
#include <vector>

namespace orvex {
namespace {

class TDecoder {
public:
    TDecoder() { FResult = BZ2_bzDecompressInit(&FStream, 0, 0); }
    ~TDecoder() {
        if (FResult == BZ_OK) BZ2_bzDecompressEnd(&FStream);
    }
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    bool Ready() const { return FResult == BZ_OK; }
    bz_stream& Stream() { return FStream; }

private:
    bz_stream FStream{};
    int FResult;
};

}  // namespace

TStreamCheck DecodeOneStream(const std::string& fileName, const std::function<void(const char*, std::size_t)>& sink) {
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(fileName, FileMode::OpenRead);
    } catch (const EStreamError&) {
        return TStreamCheck::Unreadable;
    }
    TDecoder decoder;
    if (!decoder.Ready()) throw Exception("bzip2 decoder cannot start");
    bz_stream& stream = decoder.Stream();
    std::vector<char> input(std::size_t{1} << 20), output(std::size_t{1} << 20);
    try {
        for (;;) {
            if (stream.avail_in == 0) {
                const std::size_t got = file->Read(input.data(), input.size());
                if (got == 0) return TStreamCheck::Truncated;
                stream.next_in = input.data();
                stream.avail_in = static_cast<unsigned>(got);
            }
            stream.next_out = output.data();
            stream.avail_out = static_cast<unsigned>(output.size());
            const int result = BZ2_bzDecompress(&stream);
            sink(output.data(), output.size() - stream.avail_out);
            if (result == BZ_STREAM_END) break;
            if (result != BZ_OK) return TStreamCheck::Damaged;
        }
        char probe;
        if (stream.avail_in != 0 || file->Read(&probe, 1) != 0) return TStreamCheck::TrailingData;
    } catch (const EStreamError&) {
        return TStreamCheck::Unreadable;
    } catch (const EInOutError&) {
        return TStreamCheck::Unreadable;
    }
    return TStreamCheck::Whole;
}

const char* DescribeStreamCheck(TStreamCheck check) {
    switch (check) {
        case TStreamCheck::Whole: return "is one whole bzip2 stream";
        case TStreamCheck::Unreadable: return "cannot be read";
        case TStreamCheck::Damaged: return "is not valid bzip2 data";
        case TStreamCheck::Truncated: return "ends inside its bzip2 stream";
        case TStreamCheck::TrailingData: return "has data after its bzip2 stream (joined streams?)";
    }
    return "?";
}

}  // namespace orvex
