// Prints "<hex digest>  <seconds>" for the file, taking the best of the given number of runs.
#include "formats/md5.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: md5_bench FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    std::string hex;
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        hex = orvex::DigestToHex(orvex::FileMD5(argv[1]));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (run == 0 || took.count() < best) best = took.count();
    }
    std::printf("%s  %.4f\n", hex.c_str(), best);
    return 0;
}
