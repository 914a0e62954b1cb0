#include "app/Shortcut.h"

#include "base/Shell.h"

namespace orvex {

void CreateDesktopShortcut(const std::string& Name, const std::string& WorkingFolder, const std::string& Description) {
    if (Name.empty()) return;
    const std::string desktop = os::DesktopFolder();
    if (desktop.empty()) return;
    os::WriteShortcut(desktop + "\\" + Name + os::ShortcutExtension,
                      {os::ProgramFileName(), WorkingFolder, Description});
}

}  // namespace orvex
