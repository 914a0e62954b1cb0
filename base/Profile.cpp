#include "base/Profile.h"

#include "base/Exceptions.h"
#include "base/IniText.h"
#include "base/WholeFile.h"

namespace orvex {

// One reader and one writer on every system. The Windows profile functions rewrite the file in
// place, which a crash leaves empty; and Wine's reader keeps a copy of the file that it refreshes
// only when the file's time changes, which two replacements within one step of the clock do not.
std::string ReadProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
    try {
        if (const auto content = ReadFileWhole(fileName))
            if (auto value = ini::FindValue(*content, section, key)) return *value;
    } catch (const EStreamError&) {
        // An unreadable file reads as a missing one.
    }
    return ini::CleanDefault(defaultValue);
}

void WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
    // A value a read would cut or end early is never written: the next start would act on a part.
    if (value.size() > ini::MaxValueLength || value.find_first_of("\r\n") != std::string::npos)
        throw EIniFileException(Format("The value of %s (%u characters) is not written: it would not be read back whole",
                                       key.c_str(), static_cast<unsigned>(value.size())));
    try {
        const auto content = ReadFileWhole(fileName);
        const std::string updated = ini::SetValue(content.value_or(std::string()), section, key, value);
        if (content && updated == *content) return;
        WriteFileWhole(fileName, updated);
    } catch (const EStreamError&) {
        throw EIniFileException(Format(SIniFileWriteError, fileName.c_str()));
    }
}

}  // namespace orvex
