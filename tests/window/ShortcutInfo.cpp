// For the window tests' shell scripts: prints what a shortcut file holds, one property a line, or
// with --desktop the desktop folder.
#include "base/Shell.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: shortcut_info FILE | --desktop\n");
        return 2;
    }
    if (std::string(argv[1]) == "--desktop") {
        std::printf("%s\n", orvex::os::DesktopFolder().c_str());
        return 0;
    }
    try {
        const orvex::os::TShortcut shortcut = orvex::os::ReadShortcut(argv[1]);
        std::printf("Target=%s\nWorkingFolder=%s\nDescription=%s\n", shortcut.Target.c_str(),
                    shortcut.WorkingFolder.c_str(), shortcut.Description.c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
