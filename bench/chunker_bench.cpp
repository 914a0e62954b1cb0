// The chunker's throughput over incompressible data fed in 1 MiB blocks, as the launcher reads
// files, beside SHA-256's over the same data (every chunk is hashed too): "chunker_bench [MiB]".
#include "formats/Chunker.h"
#include "formats/Sha256.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr std::size_t Block = 1 << 20;

template <class F>
double BestSeconds(F&& run) {
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (round == 0 || took.count() < best) best = took.count();
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 256;
    std::vector<uint8_t> data(mib * Block);
    std::mt19937_64 random(1);
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        const uint64_t word = random();
        std::copy_n(reinterpret_cast<const uint8_t*>(&word), 8, data.data() + i);
    }
    std::size_t chunks = 0;
    const double cutting = BestSeconds([&] {
        orvex::TChunkCutter cutter;
        std::vector<uint64_t> cuts;
        for (std::size_t at = 0; at < data.size(); at += Block) cutter.Feed(data.data() + at, Block, cuts);
        chunks = cuts.size() + (cutter.Finish() ? 1 : 0);
    });
    const double hashing = BestSeconds([&] {
        orvex::TSha256 hash;
        for (std::size_t at = 0; at < data.size(); at += Block) hash.Update(data.data() + at, Block);
        (void)hash.Final();  // only the time counts
    });
    const double size = static_cast<double>(mib);
    std::printf("chunker  %8.1f MiB/s  %zu chunks, %.1f KiB on average\n", size / cutting, chunks,
                size * 1024 / static_cast<double>(chunks));
    std::printf("sha256   %8.1f MiB/s\n", size / hashing);
    std::printf("chunker throughput / sha256: %.2f\n", hashing / cutting);
    return 0;
}
