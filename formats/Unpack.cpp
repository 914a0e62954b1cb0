#include "formats/Unpack.h"

#include "base/Os.h"
#include "base/TempFile.h"
#include "formats/BZip2.h"

#include <memory>
#include <optional>

namespace orvex {

namespace {

void DecodeInto(TStream& source, TStream& target, IUnpackObserver* observer) {
    if (observer) observer->UnpackStarted(source);
    auto decoder = std::make_unique<TBZDecompressionStream>(source);
    if (observer) decoder->OnProgress = [observer, &source](TStream&) { observer->UnpackProgress(source); };
    auto buffer = std::make_unique<char[]>(TCustomBZip2Stream::BufferSize);
    for (;;) {
        const std::size_t got = decoder->Read(buffer.get(), TCustomBZip2Stream::BufferSize);
        if (got == 0) break;
        target.WriteBuffer(buffer.get(), got);
    }
}

// The downloaded file: once opened, it is closed and deleted on every way out.
class PackedFile {
public:
    explicit PackedFile(const std::string& name) : FName(name), FStream(std::in_place, name, FileMode::OpenRead) {}
    ~PackedFile() {
        FStream.reset();
        // A download that cannot be removed is left for the next run's download to replace.
        static_cast<void>(os::DeleteFile(FName));
    }
    PackedFile(const PackedFile&) = delete;
    PackedFile& operator=(const PackedFile&) = delete;
    TStream& Stream() { return *FStream; }

private:
    std::string FName;
    std::optional<TFileStream> FStream;
};

}  // namespace

void UnpackBZip2Stream(TStream& source, TStream& target, IUnpackObserver* observer) {
    try {
        DecodeInto(source, target, observer);
    } catch (...) {
        if (observer) observer->UnpackFinished();
        throw;
    }
    if (observer) observer->UnpackFinished();
}

void UnpackBZip2File(const std::string& source, const std::string& target, IUnpackObserver* observer) {
    TTempFile unpacked(target);
    {
        PackedFile packed(source);
        TFileStream stream(unpacked.Name(), FileMode::Create);
        UnpackBZip2Stream(packed.Stream(), stream, observer);
    }
    unpacked.CommitOrRaise();
}

}  // namespace orvex
