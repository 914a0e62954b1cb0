#pragma once
// The encodings file names pass through: the update list's single-byte Windows code page, this
// system's own names (UTF-8 on Linux, the ANSI code page on Windows), and the UTF-8 of the server
// folder and of the addresses asked for, where bytes beyond ASCII travel percent-encoded.
#include <optional>
#include <string>

namespace orvex {

// The list's code page when the publisher is not told another: Western European, the ANSI code
// page of most Windows players outside Eastern Europe and Asia.
inline constexpr unsigned DefaultListCodePage = 1252;

// Why the update list cannot be written in codePage; nothing when it can: a single-byte code page
// this system converts whose first 128 characters are ASCII, so "|", "\" and the tags stay as they are.
std::optional<std::string> UnusableCodePage(unsigned codePage);

// A name as this system gives it, written in codePage; nothing when codePage has no character for
// one of its characters.
std::optional<std::string> LocalNameIn(unsigned codePage, const std::string& name);
// Text written in codePage as this system names files; nothing when one of its characters has no
// name here.
std::optional<std::string> LocalNameFrom(unsigned codePage, const std::string& text);
// A name as this system gives it, in UTF-8: how the server folder names a copy and its address
// asks for it.
std::string Utf8Name(const std::string& name);
// The code page of a list that names none: on Windows the ANSI code page, which lists were always
// written in; elsewhere DefaultListCodePage.
unsigned UnnamedListCodePage();
// What this system names files in, for messages: "UTF-8", "code page 1251".
std::string LocalNameEncoding();

// A path for an address: every byte beyond ASCII written "%XX", the rest as it is, so an ASCII
// path is asked for exactly as before and the web server decodes the others to their UTF-8 name.
std::string PercentEncodedPath(const std::string& path);

namespace detail {
// What a code page is to this system.
enum class TCodePageKind { Unknown, MultiByte, NotAsciiBased, SingleByte };
TCodePageKind KindOfCodePage(unsigned codePage);
}  // namespace detail

}  // namespace orvex
