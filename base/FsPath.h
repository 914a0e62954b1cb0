#pragma once
// Paths handed to std::filesystem, which the tools use. Apart from base/Path.h: std::filesystem
// brings the C++ locale machinery into a program (about 700 KB in the launcher, which has no use
// for it).
#include <filesystem>
#include <string>

namespace orvex {

// A path of the program as std::filesystem takes it, and back: on Windows through UTF-16 from the
// ANSI code page the program's paths are in, which std::filesystem would not take narrow paths in.
std::filesystem::path FsPath(const std::string& path);
std::string FromFsPath(const std::filesystem::path& path);

}  // namespace orvex
