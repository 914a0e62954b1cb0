#pragma once
// Small routines shared by the list reader, the update run and the main window.
#include "base/Os.h"
#include "base/Text.h"

#include <cstdint>
#include <string>

namespace orvex {

// The non-empty fields of text between any of the delimiter characters, last field first.
TStringList SplitStr(const std::string& text, const std::string& delimiters);

// 1-based position of the first occurrence of pattern at or after start, 0 when there is none.
int FindFrom(int start, const std::string& text, const std::string& pattern);

// Every occurrence of oldText replaced by newText, left to right, without overlap.
std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText);

// The update run deletes its backup folder by this name.
using os::DeleteFolder;

// Enters the program's folder (raising EInOutError when it cannot) and starts the program there by
// its name in that folder, so nothing of the folder's own name reaches the program's command line.
// Does not wait for it; false when it did not start.
[[nodiscard]] bool RunFile(const std::string& path);

inline constexpr const char* UpdateBatName = "Update.bat";

// Writes Update.bat in the current folder: it ends the launcher's process processId, swaps in
// name + ".New" when that file exists now, starts name and deletes itself. Every file is named
// relative to the batch file's folder, which RunFile makes current, so the folder's name may hold
// anything. Raises Exception for a name the batch file cannot carry (IsBareFileName).
void WriteUpdateBat(const std::string& name, uint32_t processId);

// True when name can be the launcher's file in Update.bat: the list's rule for its self entry
// (RefusedSelfName), a single name of printable ASCII without % ! ^ & ( ), whatever the folder.
bool IsBareFileName(const std::string& name);

namespace detail {
// Starts the program at path (the current folder is already its own) and returns at once; false
// when it did not start.
[[nodiscard]] bool StartProgram(const std::string& path);
}  // namespace detail

}  // namespace orvex
