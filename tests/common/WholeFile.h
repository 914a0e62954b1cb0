#pragma once
// Whole files for tests. Paths may be written the program's way, with "\" between folders.
#include "base/Os.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvex::test {

// True on the Windows build, where paths keep their "\".
inline bool WindowsPaths() { return os::NativePath("\\") == "\\"; }

// The path as the OS takes it. On Windows it stays as it is, so names outside the ANSI code page
// survive.
inline std::filesystem::path OsPath(const std::filesystem::path& path) {
    return WindowsPaths() ? path : std::filesystem::path(os::NativePath(path.string()));
}

// Throws when the file cannot be opened: a test that reads a file expects it to be there.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(OsPath(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file's content; the folder must exist.
inline void WriteWholeFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(OsPath(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Writes the file, making the folders on its way.
inline void Put(const std::filesystem::path& file, std::string_view content) {
    std::filesystem::create_directories(file.parent_path());
    WriteWholeFile(file, content);
}

// A list path ("\" between folders) under root; the file system here takes "/" on every platform.
inline std::filesystem::path Under(const std::filesystem::path& root, const std::string& listPath) {
    std::string generic = listPath;
    for (char& c : generic)
        if (c == '\\') c = '/';
    return root / generic;
}

// Relative name (with "/") -> content of every file under dir.
inline std::map<std::string, std::string> Tree(const std::filesystem::path& dir) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) tree[std::filesystem::relative(entry.path(), dir).generic_string()] = ReadWholeFile(entry.path());
    return tree;
}

}  // namespace orvex::test
