#pragma once
// Small routines shared by the list reader, the update run and the main window.
#include "base/Text.h"

#include <string>

namespace orvex {

// The non-empty fields of text between any of the delimiter characters, last field first.
TStringList SplitStr(const std::string& text, const std::string& delimiters);

// 1-based position of the first occurrence of pattern at or after start, 0 when there is none.
int FindFrom(int start, const std::string& text, const std::string& pattern);

// Every occurrence of oldText replaced by newText, left to right, without overlap.
std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText);

// Deletes a folder with all its content, permanently and without questions. True on success;
// false when path is not an existing folder.
[[nodiscard]] bool DeleteFolder(const std::string& path);

// Enters the program's folder (raising EInOutError when it cannot) and starts the program there
// without waiting for it. A program that does not start goes unnoticed.
void RunFile(const std::string& path);

// Writes Update.bat in the current folder: it ends the running launcher called name, swaps in
// name + ".New" when that file exists now, starts name and deletes itself.
void WriteUpdateBat(const std::string& name);

// True when name is a plain file name that is safe to put into Update.bat unquoted: no folder,
// no drive, nothing the command interpreter would act on.
bool IsBareFileName(const std::string& name);

namespace detail {
// Starts the program at path (the current folder is already its own) and returns at once.
void StartProgram(const std::string& path);
// Deletes an existing folder tree; true on success.
[[nodiscard]] bool DeleteFolderTree(const std::string& path);
}  // namespace detail

}  // namespace orvex
