#pragma once
// Test helpers: a private temporary folder, and the current folder put back at scope exit.
#include "common/CurrentDirGuard.h"
#include "base/Os.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace orvex::test {

class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        FPath = std::filesystem::temp_directory_path() /
                ("orvex_test_" + std::to_string(random()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(FPath);
    }
    ~ScratchFolder() {
        std::error_code error;
        // Read-only files would stop the removal on Windows.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(FPath, error))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(FPath, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    // The folder as the program writes paths, without a trailing delimiter.
    std::string Dir() const { return FPath.string(); }
    // The program's way to name a file in the folder.
    std::string File(const std::string& name) const { return Dir() + "\\" + name; }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream out(FPath / name, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + (FPath / name).string());
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(FPath / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists(FPath / name); }

private:
    std::filesystem::path FPath;
};

// True on the Windows build, where paths keep their "\".
inline bool WindowsPaths() { return os::NativePath("\\") == "\\"; }

}  // namespace orvex::test
