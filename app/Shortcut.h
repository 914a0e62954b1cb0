#pragma once
// The desktop shortcut to the launcher, made on the first start of an installation.
#include <string>

namespace orvex {

// Makes "<desktop>\<Name><extension>" pointing at the running program, with WorkingFolder and
// Description. Nothing is made for an empty Name or when the desktop folder is unknown; a file
// that cannot be written is not reported.
void CreateDesktopShortcut(const std::string& Name, const std::string& WorkingFolder, const std::string& Description);

}  // namespace orvex
