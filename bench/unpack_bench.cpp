// Unpacks a .bz2 file the way the update run does, with a progress observer that records every
// report. The .bz2 file is deleted, so pass a link to the real one.
// unpack_bench PACKED.bz2 TARGET [THREADS]: THREADS as UnpackBZip2File takes them (0: every core).
#include "formats/Unpack.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

struct PositionReader : orvex::IUnpackObserver {
    int64_t Reports = 0;
    int64_t Position = 0;
    void UnpackStarted(uint64_t packedSize) override { Position = static_cast<int64_t>(packedSize); }
    void UnpackProgress(uint64_t packedDone) override {
        Position = static_cast<int64_t>(packedDone);
        ++Reports;
    }
    void UnpackFinished() override { Position = 0; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: unpack_bench PACKED.bz2 TARGET [THREADS]\n");
        return 2;
    }
    const unsigned threads = argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 0;
    PositionReader observer;
    try {
        orvex::UnpackBZip2File(argv[1], argv[2], &observer, orvex::DefaultFreeSpaceReserve, threads);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("%lld progress reports\n", static_cast<long long>(observer.Reports));
    return 0;
}
