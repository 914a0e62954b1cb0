#include "formats/md5.h"

#include "base/Win32_win.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace orvex {
namespace {

// Reads, not a mapping: the size seen before a mapping is made may be gone by the time it is read
// (under Wine another program can shorten the file at any moment), and a view past the end faults.
bool ReadFully(HANDLE file, uint64_t offset, void* buffer, std::size_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        DWORD got = 0;
        const DWORD ask = length > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(length);
        if (!::ReadFile(file, bytes, ask, &got, nullptr) || got == 0) return false;
        bytes += got;
        length -= got;
    }
    return true;
}

}  // namespace

// pieceSize 0: reads of the default size. A file that ends before its size at the start was read
// gives the digest of empty input, never the digest of part of the file.
MD5Digest detail::DigestFile(const std::string& fileName, uint64_t pieceSize) {
    const win32::THandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER fileSize{};
    if (!file.Valid() || !::GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart <= 0)
        return detail::DigestMapped(0, pieceSize, 1, {});
    const auto size = static_cast<uint64_t>(fileSize.QuadPart);
    const uint64_t piece = pieceSize == 0 ? detail::FileReadPieceSize : pieceSize;
    std::vector<char> buffer;
    return detail::DigestMapped(size, piece, detail::FileReadGranularity,
                                [&](uint64_t offset, uint64_t length, const detail::ConsumeView& consume) {
                                    buffer.resize(static_cast<std::size_t>(length));
                                    if (!ReadFully(file.Get(), offset, buffer.data(), buffer.size())) return false;
                                    consume(buffer.data());
                                    return true;
                                });
}

}  // namespace orvex
