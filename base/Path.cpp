#include "base/Path.h"

#include "base/Os.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <vector>

namespace orvex {

namespace {

constexpr const char* Delimiters = "\\/";
constexpr std::size_t LongestName = 255;

// Files of the installation that a list entry must never replace: the settings (a list could send
// every later update elsewhere), the list itself and the batch file of the self-update.
constexpr std::array<const char*, 4> OwnFiles = {"_settings.ini", "files.lst", "files.lst.bz2", "Update.bat"};

std::vector<std::string> SplitNames(const std::string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find_first_of(Delimiters, start);
        names.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return names;
        start = end + 1;
    }
}

// The name before its first dot, without the blanks Windows drops there ("NUL .txt" is NUL too).
std::string DeviceStem(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    return LowerAscii(stem);
}

bool IsDeviceName(const std::string& name) {
    const std::string stem = DeviceStem(name);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$")
        return true;
    if (stem.size() != 4 || (stem.compare(0, 3, "com") != 0 && stem.compare(0, 3, "lpt") != 0)) return false;
    // Windows takes the superscript digits of its code page 1252 for ports too.
    const char digit = stem[3];
    return (digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
}

// NAME~N or NAME~N.EXT within 8.3: the form of the short names Windows gives long ones, so the name
// may reach another file (_SETTI~1.INI is _settings.ini).
bool IsShortNameForm(const std::string& name) {
    const std::size_t dot = name.find('.');
    const std::string base = name.substr(0, dot);
    if (dot != std::string::npos && (name.size() - dot - 1 > 3 || name.find('.', dot + 1) != std::string::npos))
        return false;
    const std::size_t tilde = base.rfind('~');
    if (base.size() > 8 || tilde == std::string::npos || tilde == 0 || tilde + 1 == base.size()) return false;
    for (std::size_t i = tilde + 1; i < base.size(); ++i)
        if (base[i] < '0' || base[i] > '9') return false;
    return true;
}

std::optional<std::string> RefusedName(const std::string& name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32) return "holds a control character";
        switch (c) {
        case '*': case '?': case '"': case '<': case '>': case '|':
            return "holds a character Windows refuses in names (* ? \" < > |)";
        default:
            break;
        }
    }
    if (name.size() > LongestName) return "has a name longer than 255 characters";
    if (name.back() == '.' || name.back() == ' ') return "has a name ending in a dot or a space, which Windows drops";
    if (IsDeviceName(name)) return "has the Windows device name " + Quoted(name);
    return std::nullopt;
}

std::optional<std::string> RefusedPath(const std::string& path, const TInstallPlace& place, bool launcherAllowed) {
    if (path.empty()) return "is empty";
    if (path.find(':') != std::string::npos) return "names a drive or a stream (\":\")";
    if (!StaysInside(path)) return "leaves the installation folder";
    const std::vector<std::string> names = SplitNames(path);
    for (const std::string& name : names)
        if (auto reason = RefusedName(name)) return reason;
    // The installation's own files and folders are at the top level; deeper down the form names the
    // game's files alone, and older lists use it there (data\save~1.dat).
    if (IsShortNameForm(names.front()))
        return "has the form of a Windows short name (" + Quoted(names.front()) + "), which may stand for another file";
    if (names.size() == 1) {
        for (const char* own : OwnFiles)
            if (SameFileName(path, own)) return "is the installation's own " + std::string(own);
        if (!launcherAllowed && !place.LauncherName.empty() && SameFileName(path, place.LauncherName))
            return "is the launcher's own executable";
    }
    if (SameFileName(names.front(), StateFolderName)) return "is in the updater's own folder " + Quoted(StateFolderName);
    const std::size_t reserved = place.FolderLength + ListedPathRoom;
    if (reserved + path.size() > place.LongestPath) {
        const std::size_t most = place.LongestPath > reserved ? place.LongestPath - reserved : 0;
        return "is too long for the installation folder (at most " + std::to_string(most) + " characters)";
    }
    return std::nullopt;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& relative) {
    if (dir.empty()) return relative;
    const char last = dir.back();
    return last == '\\' || last == '/' ? dir + relative : dir + os::PathDelim + relative;
}

void MakeFolderOf(const std::string& file) {
    const auto delim = file.find_last_of(os::PathDelim);
    if (delim == std::string::npos || delim == 0) return;
    const std::string folder = file.substr(0, delim);
    if (!os::DirectoryExists(folder)) static_cast<void>(os::ForceDirectories(folder));
}

bool EnsureRealFolder(const std::string& folder) {
    if (os::IsLink(folder) && !os::RemoveLink(folder)) return false;
    return os::DirectoryExists(folder) || os::CreateDir(folder);
}

bool StaysInside(const std::string& path) {
    if (path.empty() || path.find(':') != std::string::npos) return false;
    for (const std::string& name : SplitNames(path))
        if (name.empty() || name == "." || name == "..") return false;
    return true;
}

bool IsNameInFolder(const std::string& name) {
    return name.find_first_of(Delimiters) == std::string::npos && StaysInside(name);
}

bool SameFileName(const std::string& a, const std::string& b) { return SameTextAscii(a, b); }

std::optional<std::string> TCaseTwins::EarlierOf(const std::string& path) {
    std::string folded = LowerAscii(path);
    std::replace(folded.begin(), folded.end(), '/', '\\');
    const auto [first, added] = FFirst.emplace(folded, path);
    if (added || first->second == path) return std::nullopt;
    return first->second;
}

TInstallPlace LocalInstallPlace(const std::string& folder, const std::string& launcherName) {
    return TInstallPlace{folder.size(), detail::LocalLongestPath(), launcherName};
}

std::optional<std::string> RefusedListPath(const std::string& path, const TInstallPlace& place) {
    return RefusedPath(path, place, false);
}

std::optional<std::string> RefusedSelfName(const std::string& name, const TInstallPlace& place) {
    if (auto reason = RefusedPath(name, place, true)) return reason;
    if (!IsNameInFolder(name)) return "is not a single file name in the installation folder";
    for (const char c : name) {
        const bool printableAscii = c >= ' ' && c <= '~';
        if (!printableAscii || c == '%' || c == '!' || c == '^' || c == '&' || c == '(' || c == ')')
            return "holds a character Update.bat cannot carry (only printable ASCII without % ! ^ & ( ) is taken)";
    }
    return std::nullopt;
}

}  // namespace orvex
