#include "base/WholeFile.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "base/Win32_win.h"

#include <windows.h>

#include <algorithm>

namespace orvex {

namespace {

[[noreturn]] void RaiseWriteError(const std::string& path, DWORD code) {
    throw EFCreateError(Format(SFCreateError, path.c_str(), os::ErrorText(static_cast<int>(code)).c_str()));
}

// A file cannot be replaced while anybody has it open (a reader, a virus scanner, an editor), also
// when the handle shares its deletion; such handles are short-lived, so the replacement is tried
// again for about two seconds before it counts as refused.
bool MoveOver(const std::wstring& temp, const std::wstring& target) {
    constexpr ULONGLONG PatienceMs = 2000;
    const ULONGLONG deadline = ::GetTickCount64() + PatienceMs;
    for (;;) {
        if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!held || ::GetTickCount64() >= deadline) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(1);
    }
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    constexpr std::size_t Block = 1 << 20;
    for (std::size_t done = 0; done < bytes.size();) {
        const DWORD size = static_cast<DWORD>(std::min(Block, bytes.size() - done));
        DWORD put = 0;
        if (!::WriteFile(file, bytes.data() + done, size, &put, nullptr)) return false;
        if (put == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += put;
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadFileWhole(const std::string& path) {
    const auto refuse = [&](DWORD code) {
        throw EFOpenError(Format(SFOpenError, path.c_str(), os::ErrorText(static_cast<int>(code)).c_str()));
    };
    // Sharing the deletion too, so a replacement goes ahead while the file is read.
    const win32::THandle file(::CreateFileW(win32::Widen(path, CP_ACP).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
        refuse(error);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) refuse(::GetLastError());
        if (got == 0) return bytes;
        bytes.append(buffer, got);
    }
}

void WriteFileWhole(const std::string& path, const std::string& bytes) {
    const std::wstring target = win32::Widen(path, CP_ACP);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) RaiseWriteError(path, ::GetLastError());
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        RaiseWriteError(path, ERROR_ACCESS_DENIED);
    }

    TTempFile temp(path);
    const std::wstring tempName = win32::Widen(temp.Name(), CP_ACP);
    {
        win32::THandle file(::CreateFileW(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) RaiseWriteError(path, ::GetLastError());
        if (!WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) RaiseWriteError(path, ::GetLastError());
    }
    if (!MoveOver(tempName, target)) RaiseWriteError(path, ::GetLastError());
    temp.Placed();
}

}  // namespace orvex
