#pragma once
// The free space of a volume, so that writing large files can stop before the disk is full.
#include <cstdint>
#include <optional>
#include <string>

namespace orvex::os {

// The bytes this process may still write on the volume that holds path (a file or a folder; for a
// file that does not exist yet, its folder counts). Empty when the system cannot tell.
[[nodiscard]] std::optional<uint64_t> FreeSpace(const std::string& path);

}  // namespace orvex::os
