// Prints "<verdict> <rev> <seq> <seconds>" for checking a signed list as the run does: both files
// read, the signature verified with the key line, the trusted comment parsed. Best of RUNS.
#include "formats/Minisign.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

static std::string WholeFile(const char* name) {
    std::ifstream file(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: verify_bench LIST.bz2 LIST.bz2.minisig KEY-LINE [RUNS]\n");
        return 2;
    }
    namespace minisign = orvex::minisign;
    const auto keys = minisign::ParsePublicKeys(argv[3]);
    if (!keys) {
        std::fprintf(stderr, "not a key line: %s\n", keys.Error.c_str());
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 1;
    double best = 0;
    minisign::TVerification verification;
    minisign::TParsed<minisign::TTrustedFields> fields;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const std::string list = WholeFile(argv[1]);
        const std::string signature = WholeFile(argv[2]);
        verification = minisign::Verify(*keys.Value, signature, list);
        fields = minisign::ParseTrustedFields(verification.TrustedComment);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (run == 0 || took.count() < best) best = took.count();
    }
    if (verification.Verdict != minisign::TVerdict::Ok || !fields) {
        std::fprintf(stderr, "refused: %s%s\n", verification.Reason.c_str(), fields.Error.c_str());
        return 1;
    }
    std::printf("good %llu %llu %.6f\n", static_cast<unsigned long long>(fields.Value->Rev),
                static_cast<unsigned long long>(fields.Value->Seq), best);
    return 0;
}
