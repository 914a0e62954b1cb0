#pragma once
// The free space of a volume, so that writing large files can stop before the disk is full.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace orvex::os {

// The bytes this process may still write on the volume that holds path (a file or a folder; for a
// file that does not exist yet, its folder counts). Empty when the system cannot tell.
[[nodiscard]] std::optional<uint64_t> FreeSpace(const std::string& path);

}  // namespace orvex::os

namespace orvex {

// How often the free space is asked for; the reserve holds between two checks, too.
inline constexpr uint64_t FreeSpaceCheckInterval = uint64_t{4} * 1024 * 1024;

// Keeps a file being written from eating into the free space its volume must keep: asks for the
// free space before the first bytes and once every FreeSpaceCheckInterval bytes after them.
class TFreeSpaceGuard {
public:
    // path: the file written, or one beside it.
    TFreeSpaceGuard(std::string path, uint64_t reserve) : FPath(std::move(path)), FReserve(reserve) {}

    // Before count more bytes are written: false when the reserve, and room for everything written
    // before the next look, are no longer free. A volume whose free space is unknown has room.
    [[nodiscard]] bool Admit(uint64_t count);

private:
    std::string FPath;
    uint64_t FReserve;
    uint64_t FWritten = 0;
    uint64_t FNextCheck = 0;
};

}  // namespace orvex
