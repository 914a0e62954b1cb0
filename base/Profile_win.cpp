#include <windows.h>

#include "base/Exceptions.h"
#include "base/Profile.h"

namespace orvex {

std::string ReadProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
    char buffer[2048];
    const DWORD length = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                                    sizeof buffer, fileName.c_str());
    return std::string(buffer, length);
}

void WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
    if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName.c_str()))
        throw EIniFileException(Format(SIniFileWriteError, fileName.c_str()));
}

}  // namespace orvex
