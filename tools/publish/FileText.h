#pragma once
// Whole files of the server folder, read and written as text.
#include <string>

namespace orvex {

// Raises EFOpenError or an I/O error.
std::string ReadWholeFile(const std::string& fileName);

// Writes content beside target and renames it into place, so readers see the old file or the whole
// new one. Creates target's folder. Raises EFCreateError or an I/O error with the system's reason; target is then as it was.
void WriteFileInPlace(const std::string& target, const std::string& content);

}  // namespace orvex
