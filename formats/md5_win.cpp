#include "formats/md5.h"

#include <windows.h>

#include <cstdint>

namespace orvex {
namespace {

class Handle {
public:
    explicit Handle(HANDLE handle) : FHandle(handle) {}
    ~Handle() {
        if (Valid()) ::CloseHandle(FHandle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

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

// pieceSize 0: one view of the whole file when it fits, pieces of the default size otherwise.
MD5Digest DigestFile(const std::string& fileName, uint64_t pieceSize) {
    MD5_CTX context;
    MD5Init(context);
    MD5Digest digest;

    const Handle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER fileSize{};
    if (!file.Valid() || !::GetFileSizeEx(file.Get(), &fileSize) || fileSize.QuadPart <= 0) {
        MD5Final(context, digest);
        return digest;
    }
    const auto size = static_cast<uint64_t>(fileSize.QuadPart);
    const Handle mapping(::CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.Valid()) {
        MD5Final(context, digest);
        return digest;
    }

    if (pieceSize == 0 && size <= SIZE_MAX) {
        const MappedView whole(mapping.Get(), 0, 0);
        if (whole.Data()) {
            detail::MD5UpdateLarge(context, whole.Data(), size);
            MD5Final(context, digest);
            return digest;
        }
    }

    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const uint64_t granularity = system.dwAllocationGranularity;
    uint64_t piece = pieceSize == 0 ? detail::FileMD5PieceSize : pieceSize;
    piece = (piece + granularity - 1) / granularity * granularity;
    for (uint64_t offset = 0; offset < size; offset += piece) {
        const auto length = static_cast<SIZE_T>(size - offset < piece ? size - offset : piece);
        const MappedView view(mapping.Get(), offset, length);
        if (!view.Data()) {
            // A digest of part of the file would be wrong; report it as unreadable.
            MD5Init(context);
            break;
        }
        detail::MD5UpdateLarge(context, view.Data(), length);
    }
    MD5Final(context, digest);
    return digest;
}

}  // namespace

MD5Digest FileMD5(const std::string& fileName) { return DigestFile(fileName, 0); }

namespace detail {
MD5Digest FileMD5InPieces(const std::string& fileName, uint64_t pieceSize) {
    return DigestFile(fileName, pieceSize == 0 ? 1 : pieceSize);
}
}  // namespace detail
}  // namespace orvex
