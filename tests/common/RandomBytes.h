#pragma once
// Reproducible incompressible bytes: the same seed gives the same bytes on every platform.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace orvex::test {

inline std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

inline const uint8_t* BytesOf(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

}  // namespace orvex::test
