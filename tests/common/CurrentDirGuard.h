#pragma once
// Puts the process's current folder back at scope exit, so no other test sees a change of it.
#include "base/Os.h"

#include <filesystem>
#include <string>

namespace orvex::test {

class CurrentDirGuard {
public:
    CurrentDirGuard() : FSaved(std::filesystem::current_path()) {}
    // Enters dir, written the program's way, for the life of the guard.
    explicit CurrentDirGuard(const std::string& dir) : CurrentDirGuard() { os::SetCurrentDir(dir); }
    explicit CurrentDirGuard(const std::filesystem::path& dir) : CurrentDirGuard() { std::filesystem::current_path(dir); }
    ~CurrentDirGuard() {
        std::error_code error;
        std::filesystem::current_path(FSaved, error);
    }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    std::filesystem::path FSaved;
};

}  // namespace orvex::test
