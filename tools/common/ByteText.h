#pragma once
// Sizes as both tools print them.
#include <cstdint>
#include <string>

namespace orvex {

// "12.3 MiB" style.
std::string Bytes(int64_t count);

}  // namespace orvex
