// A web server on 127.0.0.1 whose link breaks every CUT bytes: every answer is closed after CUT
// bytes of its body, until the rest of the file is shorter. Serves the files under FOLDER, with
// ETags and ranges, from memory.
//   cutting_server FOLDER CUT     prints its base address, serves until its input ends, then
//                                 prints the body bytes it sent.
#include "e2e/BrokenServer.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using namespace orvex::test;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: cutting_server FOLDER CUT\n";
        return 2;
    }
    const fs::path folder = argv[1];
    const std::size_t cut = std::stoull(argv[2]);
    BrokenServer server;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // One cut for each full CUT before the last byte: the answer that reaches the end is whole.
        const std::size_t cuts = bytes.empty() ? 0 : (bytes.size() - 1) / cut;
        server.ServeFile(fs::relative(entry.path(), folder).generic_string(), std::move(bytes),
                         std::vector<Fault>(cuts, Fault{Fault::Cut, cut}));
    }
    std::cout << server.Url("") << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    server.Stop();
    std::cout << server.FileBytesSent() << std::endl;
    return 0;
}
