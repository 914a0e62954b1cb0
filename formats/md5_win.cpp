#include "formats/md5.h"

#include <windows.h>

namespace orvex::detail {

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

TDigestedFile::TDigestedFile(const std::string& fileName)
    : FHandle(reinterpret_cast<std::intptr_t>(::CreateFileA(fileName.c_str(), GENERIC_READ,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {
    LARGE_INTEGER size{};
    if (Handle(FHandle) == INVALID_HANDLE_VALUE || !::GetFileSizeEx(Handle(FHandle), &size) || size.QuadPart <= 0) return;
    FSize = static_cast<uint64_t>(size.QuadPart);
}

TDigestedFile::~TDigestedFile() {
    if (Handle(FHandle) != INVALID_HANDLE_VALUE) ::CloseHandle(Handle(FHandle));
}

bool TDigestedFile::ReadAt(uint64_t offset, void* buffer, std::size_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(Handle(FHandle), position, nullptr, FILE_BEGIN)) return false;
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        DWORD got = 0;
        const DWORD ask = length > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(length);
        if (!::ReadFile(Handle(FHandle), bytes, ask, &got, nullptr) || got == 0) return false;
        bytes += got;
        length -= got;
    }
    return true;
}

}  // namespace orvex::detail
