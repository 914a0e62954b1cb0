// Unpacks a .bz2 file the way the update run does, with a progress observer that reads the
// compressed position on every report. The .bz2 file is deleted, so pass a link to the real one.
#include "formats/Unpack.h"

#include <cstdint>
#include <cstdio>
#include <exception>

namespace {

struct PositionReader : orvex::IUnpackObserver {
    int64_t Reports = 0;
    int64_t Position = 0;
    void UnpackStarted(orvex::TStream& packed) override { Position = packed.GetSize(); }
    void UnpackProgress(orvex::TStream& packed) override {
        Position = packed.GetPosition();
        ++Reports;
    }
    void UnpackFinished() override { Position = 0; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: unpack_bench PACKED.bz2 TARGET\n");
        return 2;
    }
    PositionReader observer;
    try {
        orvex::UnpackBZip2File(argv[1], argv[2], &observer);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("%lld progress reports\n", static_cast<long long>(observer.Reports));
    return 0;
}
