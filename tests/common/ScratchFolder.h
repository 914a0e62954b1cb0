#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// Full paths throughout: a bare INI file name would mean the Windows folder to the profile functions.
#include "common/WholeFile.h"

#include <atomic>
#include <filesystem>
#include <random>
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
    // The folder without a trailing delimiter.
    std::string Dir() const { return FPath.string(); }
    // The program's way to name a file in the folder.
    std::string File(const std::string& name) const { return Dir() + "\\" + name; }
    // The OS's way to name a file in the folder; name may have "/" between folders.
    std::string OsFile(const std::string& name) const { return (FPath / std::filesystem::path(name)).string(); }

    // Writes a file, making the folders on its way; gives its OS path.
    std::string Write(const std::string& name, std::string_view content) const {
        const std::filesystem::path path = FPath / std::filesystem::path(name);
        Put(path, content);
        return path.string();
    }
    std::string Read(const std::string& name) const { return ReadWholeFile(FPath / std::filesystem::path(name)); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(FPath / std::filesystem::path(name)); }

private:
    std::filesystem::path FPath;
};

// An emptied folder at a place of the caller's choosing (the web server's folder, say), without a
// trailing delimiter; unlike a ScratchFolder it stays when the test ends, for a look afterwards.
inline std::filesystem::path FreshFolder(const std::string& path) {
    std::string native = os::NativePath(path);
    while (!native.empty() && (native.back() == '/' || native.back() == '\\')) native.pop_back();
    std::error_code error;
    std::filesystem::remove_all(native, error);
    std::filesystem::create_directories(native);
    return std::filesystem::path(native);
}

}  // namespace orvex::test
