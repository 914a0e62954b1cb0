#include "formats/md5.h"

#include "base/Win32_win.h"

#include <windows.h>

#include <cstdint>

namespace orvex {
namespace {

class MappedView {
public:
    MappedView(HANDLE mapping, uint64_t offset, SIZE_T length)
        : FAddress(::MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                   static_cast<DWORD>(offset), length)) {}
    ~MappedView() {
        if (FAddress) ::UnmapViewOfFile(FAddress);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    const void* Data() const { return FAddress; }

private:
    void* FAddress;
};

}  // namespace

// pieceSize 0: one view of the whole file when it fits, pieces of the default size otherwise.
MD5Digest detail::DigestFile(const std::string& fileName, uint64_t pieceSize) {
    const win32::THandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER fileSize{};
    if (!file.Valid() || !::GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart <= 0)
        return detail::DigestMapped(0, pieceSize, 1, {});
    const win32::THandle mapping(::CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.Valid()) return detail::DigestMapped(0, pieceSize, 1, {});

    const auto size = static_cast<uint64_t>(fileSize.QuadPart);
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    return detail::DigestMapped(size, pieceSize, system.dwAllocationGranularity,
                                [&](uint64_t offset, uint64_t length, const detail::ConsumeView& consume) {
                                    // A view of length 0 is the whole mapping.
                                    const SIZE_T viewLength = offset == 0 && length == size ? 0 : static_cast<SIZE_T>(length);
                                    const MappedView view(mapping.Get(), offset, viewLength);
                                    if (!view.Data()) return false;
                                    consume(view.Data());
                                    return true;
                                });
}

}  // namespace orvex
