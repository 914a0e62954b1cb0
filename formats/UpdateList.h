#pragma once
// The update list's format, as the launcher's run, the publisher and its check all read and write
// it: the files of a server folder, the sections and keys of files.lst and one file entry.
#include "base/Text.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvex {

// The server folder: the list, its bzip2 copy (the one clients fetch) and each file's copy.
inline constexpr const char* ListFileName = "files.lst";
inline constexpr const char* PackedListName = "files.lst.bz2";
inline constexpr const char* PackedSuffix = ".bz2";
// The minisign signature of files.lst.bz2, beside it.
inline constexpr const char* ListSignatureName = "files.lst.bz2.minisig";
inline constexpr const char* SignatureSuffix = ".minisig";

inline constexpr const char* SettingsSection = "settings";
inline constexpr const char* HostsSection = "hosts";
inline constexpr const char* SelfSection = "self";
inline constexpr const char* CriticalSection = "files_critical";
inline constexpr const char* NormalSection = "files_normal";
// Public key lines a signed list names, trusted for the lists after it.
inline constexpr const char* KeysSection = "keys";
// The most keys a keys section leaves trusted, the signing key included: their UpdateKey line
// stays far below the longest value the settings reader keeps.
inline constexpr std::size_t MaxTrustedKeys = 8;
inline constexpr const char* RevKey = "Rev";
inline constexpr const char* ModHostsKey = "ModHosts";
// The SHA-256 (hex) of the chunk index files.idx.zst when the folder has a chunk store.
inline constexpr const char* IndexKey = "Index";
// The Windows code page of the list's names, written when one is beyond ASCII (clients that know
// it read them in it; on Windows they are in the player's ANSI code page as ever).
inline constexpr const char* CodePageKey = "CodePage";
// 1: files an earlier list named and this one does not are removed from installations.
inline constexpr const char* RemoveUnlistedKey = "RemoveUnlisted";

// What a section reads as when it is absent or has no entries: this single line.
inline constexpr const char* SFail = "FAIL";
bool IsEmptySection(const TStringList& section);

std::string OpeningTag(const std::string& section);  // "[name]"
std::string ClosingTag(const std::string& section);  // "[/name]"

// How far an unsigned list's copy may pass its SIZE at least (TListEntry::MaxCopyBody).
inline constexpr uint64_t CopySizeSlack = uint64_t{64} << 20;

// One file entry, PATH|MD5|SIZE. The fields are counted from the end of the line, as the launcher
// always read them: a line with more fields gives its last three, empty fields do not count.
struct TListEntry {
    std::string Path;
    std::string MD5;
    std::string Size;           // as written: each reader decides what an unreadable number means
    std::size_t FieldCount = 0; // non-empty fields on the line; those missing leave "" above

    // The relative name of the entry's copy in the server folder: the path with ".bz2".
    std::string CopyName() const { return Path + PackedSuffix; }
    // The copy as its address names it, with "/" between folders.
    std::string CopyAddress() const;
    // CopyAddress as it is asked for: in UTF-8, its bytes beyond ASCII percent-encoded. Path is as
    // this system names files (LocalListText).
    std::string CopyRequest() const;
    // SIZE as the run takes it: a negative one as 0; raises EConvertError when it is no number.
    uint64_t CopySize() const;
    // The longest body taken for the copy. SIZE is exact in a signed list, which only the publisher
    // writes. Elsewhere it was only ever the file bar's maximum: hand-written lists give 0 or the
    // unpacked size, so the body may pass it by CopySizeSlack or an eighth of it, whichever is larger.
    uint64_t MaxCopyBody(bool exactSize) const;
};

TListEntry SplitListEntry(const std::string& line);
// As SplitListEntry, but a line of fewer than three fields raises EListError (an out-of-bounds
// field index), which ends the launcher's run.
TListEntry ReadListEntry(const std::string& line);

// The entry's line, without its line end.
std::string FormatListEntry(const std::string& path, const std::string& md5, int64_t size);

class TListFile;

// The code page of a list's names: its CodePage value, else UnnamedListCodePage.
unsigned ListCodePage(TListFile& list);
// name, as a list in codePage writes it, as this system names files; unchanged when it cannot be.
std::string LocalListName(const std::string& name, unsigned codePage);
// The list's text with its names as this system names files (LocalListName, in the list's code
// page): on Linux in UTF-8, on Windows unchanged when the list is in the player's ANSI code page.
std::string LocalListText(const std::string& text);

// Every section of a list as the launcher reads it (SFail for an empty one).
struct TUpdateList {
    std::string Rev;
    std::string ModHosts;
    TStringList Hosts;
    TStringList Self;
    TStringList Critical;
    TStringList Normal;
    TStringList Keys;
};
TUpdateList ReadUpdateList(TListFile& list);
TUpdateList ReadUpdateList(const std::string& text);

}  // namespace orvex
