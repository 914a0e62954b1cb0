#include "base/Exceptions.h"
#include "base/Stream.h"

#include <windows.h>

#include <climits>

namespace orvex {

std::intptr_t TFileStream::OpenHandle(const std::string& fileName, FileMode mode) {
    const bool reading = mode == FileMode::OpenRead;
    // INVALID_HANDLE_VALUE is -1.
    return reinterpret_cast<std::intptr_t>(::CreateFileA(fileName.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                                         reading ? FILE_SHARE_READ : 0, nullptr,
                                                         mode == FileMode::Create ? CREATE_ALWAYS : OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

void TFileStream::CloseHandle() {
    if (FHandle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
    FHandle = -1;
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    DWORD got = 0;
    const DWORD asked = count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count);
    if (!::ReadFile(reinterpret_cast<HANDLE>(FHandle), buffer, asked, &got, nullptr))
        RaiseInOutError(static_cast<int>(::GetLastError()), FFileName);
    return got;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    DWORD put = 0;
    const DWORD asked = count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count);
    if (!::WriteFile(reinterpret_cast<HANDLE>(FHandle), buffer, asked, &put, nullptr))
        RaiseInOutError(static_cast<int>(::GetLastError()), FFileName);
    return put;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    const DWORD method = origin == SeekOrigin::Beginning ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(FHandle), distance, &position, method))
        RaiseInOutError(static_cast<int>(::GetLastError()), FFileName);
    return position.QuadPart;
}

}  // namespace orvex
