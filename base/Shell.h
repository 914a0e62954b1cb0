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
// not reported. On Windows COM must be initialised on the calling thread; a shell-link object that
// cannot be made raises Exception with the system's text.
void WriteShortcut(const std::string& path, const TShortcut& shortcut);

// Reads a shortcut file back; raises Exception when it cannot be read.
[[nodiscard]] TShortcut ReadShortcut(const std::string& path);

// COM for the calling thread while the object lives (nothing to do where there is no COM).
class TComScope {
public:
    TComScope();
    ~TComScope();
    TComScope(const TComScope&) = delete;
    TComScope& operator=(const TComScope&) = delete;

private:
    bool FInitialised = false;
};

}  // namespace orvex::os
