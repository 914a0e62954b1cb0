#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"

#include <windows.h>

#include <climits>

namespace orvex {

TFileStream::TFileStream(const std::string& fileName, FileMode mode) : FFileName(fileName), FHandle(-1) {
    const bool reading = mode == FileMode::OpenRead;
    HANDLE handle = ::CreateFileA(fileName.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                  reading ? FILE_SHARE_READ : 0, nullptr,
                                  mode == FileMode::Create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const int code = static_cast<int>(::GetLastError());
        if (mode == FileMode::Create) throw EFCreateError(Format(SFCreateError, fileName.c_str(), os::ErrorText(code).c_str()));
        throw EFOpenError(Format(SFOpenError, fileName.c_str(), os::ErrorText(code).c_str()));
    }
    FHandle = reinterpret_cast<std::intptr_t>(handle);
    if (mode != FileMode::Append) return;
    try {
        Seek(0, SeekOrigin::End);
    } catch (...) {
        ::CloseHandle(handle);  // the destructor does not run for a constructor that throws
        throw;
    }
}

TFileStream::~TFileStream() {
    if (FHandle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    DWORD got = 0;
    const DWORD asked = count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count);
    if (!::ReadFile(reinterpret_cast<HANDLE>(FHandle), buffer, asked, &got, nullptr))
        RaiseInOutError(static_cast<int>(::GetLastError()));
    return got;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    DWORD put = 0;
    const DWORD asked = count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count);
    if (!::WriteFile(reinterpret_cast<HANDLE>(FHandle), buffer, asked, &put, nullptr))
        RaiseInOutError(static_cast<int>(::GetLastError()));
    return put;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
    const DWORD method = origin == SeekOrigin::Beginning ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(FHandle), distance, &position, method))
        RaiseInOutError(static_cast<int>(::GetLastError()));
    return position.QuadPart;
}

}  // namespace orvex
