#pragma once
// A client folder published once, for the tests of publishing and of checking a server folder.
#include "common/ScratchFolder.h"

#include "formats/BZ2FileCheck.h"
#include "tools/publish/ServerFolder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orvex::test {

inline std::string Mixed(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 3 ? 'a' + i % 7 : generator());
    return bytes;
}

inline TPublishDescription AllNormal(const ScratchFolder& client) {
    TPublishDescription description;
    description.NormalFiles = ListClientFiles(client.Dir());
    return description;
}

// The copy's text, decoded by the program's own check of a copy, which must find one whole stream.
inline std::string Decoded(const std::string& file) {
    std::string text;
    EXPECT_EQ(DecodeOneStream(file, [&text](const char* data, std::size_t n) { text.append(data, n); }), TStreamCheck::Whole)
        << file;
    return text;
}

// A client with sub-folders and spaces, published once.
struct Published {
    ScratchFolder Client, Server;
    TPublishSummary First;
    Published() {
        Client.Write("game.exe", Mixed(200000, 1));
        Client.Write("data/maps/m 1.dat", Mixed(1100000, 2));
        Client.Write("data/text file.txt", std::string(5000, 'x'));
        Client.Write("empty.bin", "");
        First = PublishServerFolder(Client.Dir(), Server.Dir(), AllNormal(Client), {});
    }
};

}  // namespace orvex::test
