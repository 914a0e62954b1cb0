#pragma once
// Paths as the program writes them ("\" between folders, "/" taken too where a path comes from a
// list or a user): joining a folder and a relative path, and which paths an update list may name.
#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace orvex {

// The folder inside the installation where the updater keeps its own state: the lock, the journal
// of a commit, the files staged for it, the record of the revision committed. No list names it.
inline constexpr const char* StateFolderName = ".orvex";

// relative under dir with one delimiter between them; relative alone when dir is empty.
std::string JoinPath(const std::string& dir, const std::string& relative);

// Makes the folder that holds file, with its parents. One that cannot be made shows when the file
// cannot be created.
void MakeFolderOf(const std::string& file);

// Makes folder (its parent exists) when missing. A link of that name is removed itself and a real
// folder made in its place, so nothing written there lands elsewhere. False, with os::LastError()
// telling why, when it cannot be made.
bool EnsureRealFolder(const std::string& folder);

// True when a relative path, as an update list names it, stays inside the folder it is joined to:
// not empty, no drive or stream (":"), and no name between delimiters that is empty, "." or ".."
// (so no leading, doubled or trailing delimiter either).
bool StaysInside(const std::string& path);

// True when name stays inside and is a single name, without a folder.
bool IsNameInFolder(const std::string& name);

// Two file names as Windows compares them, ASCII letters without regard to case.
bool SameFileName(const std::string& a, const std::string& b);

// The paths of one list, in list order, as a Windows installation holds them: paths that differ
// only in the case of ASCII letters (or in "/" for "\") name one file there, so listing both would
// swap its content at every update. The first path of each file is the one taken.
class TCaseTwins {
public:
    // The path seen before that names the same file as path but is written otherwise; none when
    // path is the first to name its file (it is then remembered) or is written exactly as that one.
    std::optional<std::string> EarlierOf(const std::string& path);

private:
    std::map<std::string, std::string> FFirst;  // by the folded path
};

// The longest full path Windows opens through its ANSI calls (MAX_PATH without the final NUL).
inline constexpr std::size_t WindowsLongestPath = 259;
// Characters a run adds beside a listed file (".bz2", ".New", a temporary name, "backup\"): the
// listed path must leave this much room under the system's limit.
inline constexpr std::size_t ListedPathRoom = 40;
// The publisher does not know where players install the client. It assumes an installation folder
// of at most this many characters with its final delimiter (room for a long user name in
// "C:\Users\<name>\AppData\Local\Programs\Talvora\" and deeper game folders), so every listed
// path has at most 259 - 40 - 80 = 139 characters.
inline constexpr std::size_t AssumedFolderLength = 80;

// The installation the listed paths land in.
struct TInstallPlace {
    std::size_t FolderLength = AssumedFolderLength;  // the folder with its final delimiter
    std::size_t LongestPath = WindowsLongestPath;    // the longest full path its system opens
    std::string LauncherName;                        // the launcher's own file name; "" when not known
};

// The installation in folder (with its final delimiter) on the system this program runs on.
TInstallPlace LocalInstallPlace(const std::string& folder, const std::string& launcherName);


namespace detail {
// The longest full path this system opens, without the final NUL (MAX_PATH or PATH_MAX, less one).
std::size_t LocalLongestPath();
}  // namespace detail

// The one rule for the paths of an update list's file entries, as the launcher, orvex-update, the
// publisher and its check hold them. Gives the reason a path is refused, or nothing:
// - it leaves the installation (StaysInside);
// - at the top level, it names one of the installation's own files (_settings.ini, files.lst,
//   files.lst.bz2, Update.bat, the launcher's executable), letter case ignored;
// - at the top level, the short NAME~N.EXT form, which may stand for one of the installation's own
//   files or folders (_SETTI~1.INI, ORVEX~1);
// - a name Windows would alias or take for a device: one ending in a dot or a space, CON, PRN,
//   AUX, NUL, COM1-9, LPT1-9 (with or without extension), CONIN$, CONOUT$; a control character or
//   one of * ? " < > that Windows refuses in names;
// - a name over 255 characters, or a full path (with ListedPathRoom) too long for the place.
std::optional<std::string> RefusedListPath(const std::string& path, const TInstallPlace& place);

// The rule for the list's self entry, the launcher's executable that Update.bat swaps: a path the
// rule above accepts (the launcher's own name aside), a single name without a folder, and only
// printable ASCII without % ! ^ & ( ) so that the batch file carries it unchanged in every code
// page. Gives the reason it is refused, or nothing.
std::optional<std::string> RefusedSelfName(const std::string& name, const TInstallPlace& place);

}  // namespace orvex
