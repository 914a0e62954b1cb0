#pragma once
// Desktop shortcuts: a shell link (.lnk) on Windows, a desktop entry (.desktop) elsewhere.
#include <string>

namespace orvex::os {

// The current user's desktop folder, not created when missing; empty when the system does not know
// it or it does not exist.
[[nodiscard]] std::string DesktopFolder();

// The full path of the running program file.
[[nodiscard]] std::string ProgramFileName();

// ".lnk" or ".desktop".
extern const char* const ShortcutExtension;

struct TShortcut {
    std::string Target;
    std::string WorkingFolder;
    std::string Description;
};

// Writes the shortcut file `path`, replacing one of that name. Whether the file could be written is
// not reported. A shell-link object that cannot be made raises Exception with the system's text.
void WriteShortcut(const std::string& path, const TShortcut& shortcut);

// Reads a shortcut file back; raises Exception when it cannot be read.
[[nodiscard]] TShortcut ReadShortcut(const std::string& path);

}  // namespace orvex::os
