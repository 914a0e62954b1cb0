#pragma once
// Whole files of the server folder, read and written as text.
#include "base/Stream.h"

#include <functional>
#include <string>

namespace orvex {

// Raises EFOpenError or an I/O error.
std::string ReadWholeFile(const std::string& fileName);

// Writes target through write, into a file beside it that is then renamed into place, so readers
// see the old file or the whole new one. Creates target's folder. Raises EFCreateError or an I/O
// error with the system's reason, or what write raises; target is then as it was.
void WriteInPlace(const std::string& target, const std::function<void(TStream& output)>& write);
void WriteFileInPlace(const std::string& target, const std::string& content);

}  // namespace orvex
