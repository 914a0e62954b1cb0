#pragma once
// Profile-string (INI file) access with the behaviour of the Windows profile functions, on every
// system through the same code; a write replaces the whole file (see base/WholeFile.h).
#include <string>

// <windows.h> maps WriteProfileString to WriteProfileStringA; Windows files include it before this.
#undef WriteProfileString

namespace orvex {

// Reads one value (at most 2047 characters) from [section] key= of fileName; defaultValue when
// the file, section or key is missing. Names match without regard to case.
std::string ReadProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& defaultValue);

// Writes one key, creating the section and the file as needed; the rest of the file stays byte for
// byte. Writing the value the key already has leaves the file untouched. Raises EIniFileException
// with "Unable to write to %s" (the full path) when the write is refused, and without writing when
// the value is longer than a read returns or holds a line break.
void WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace orvex
