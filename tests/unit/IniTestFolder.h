#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end.
// Full paths throughout: a bare INI file name would mean the Windows folder to the profile functions.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvex::test {

class IniTestFolder {
public:
    IniTestFolder() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        FPath = std::filesystem::temp_directory_path() /
                ("orvex_ini_" + std::to_string(stamp) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(FPath);
    }
    ~IniTestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    IniTestFolder(const IniTestFolder&) = delete;
    IniTestFolder& operator=(const IniTestFolder&) = delete;

    std::string Path() const { return FPath.string(); }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

    std::string Put(const std::string& name, const std::string& content) const {
        std::ofstream(FPath / name, std::ios::binary) << content;
        return File(name);
    }

private:
    std::filesystem::path FPath;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orvex::test
