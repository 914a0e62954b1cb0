// Publishes a client folder for the window tests and the demo:
//   window_publish CLIENT_DIR SERVER_DIR REV CRITICAL... -- NORMAL...
#include "base/Text.h"
#include "tools/publish/ServerFolder.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIENT_DIR SERVER_DIR REV CRITICAL... -- NORMAL...\n", argv[0]);
        return 2;
    }
    try {
        orvex::TPublishDescription description;
        description.Rev = orvex::StrToInt(argv[3]);
        bool normal = false;
        for (int i = 4; i < argc; ++i) {
            const std::string name = argv[i];
            if (name == "--") {
                normal = true;
                continue;
            }
            (normal ? description.NormalFiles : description.CriticalFiles).push_back(name);
        }
        const auto folder = orvex::BuildServerFolder(argv[1], argv[2], description);
        std::printf("published %zu critical and %zu normal files at revision %d\n", folder.Critical.size(),
                    folder.Normal.size(), description.Rev);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
