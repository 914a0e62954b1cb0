#pragma once
// Data and checks shared by the bzip2 stream tests and the unpacking tests.
#include "common/WholeFile.h"

#include "base/Stream.h"
#include "formats/BZip2.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Compress(const Bytes& data, int blockSize100k = 9) {
    Bytes packed(data.size() + data.size() / 100 + 600);
    auto length = static_cast<unsigned>(packed.size());
    const int result = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(packed.data()), &length,
                                                const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                                static_cast<unsigned>(data.size()), blockSize100k, 0, 0);
    EXPECT_EQ(result, BZ_OK);
    packed.resize(length);
    return packed;
}

inline Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator() >> 24);
    return bytes;
}

inline Bytes TextBytes(std::size_t size) {
    static const std::string words[] = {"update ", "client ", "revision ", "files.lst ", "| ", "md5\r\n", "0123 "};
    Bytes bytes;
    for (std::size_t i = 0; bytes.size() < size; i = i * 7 + 3)
        for (char c : words[i % 7]) bytes.push_back(static_cast<uint8_t>(c));
    bytes.resize(size);
    return bytes;
}

inline Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline Bytes ReadAll(TStream& stream) {
    Bytes result;
    uint8_t piece[10000];
    while (const std::size_t got = stream.Read(piece, sizeof piece)) result.insert(result.end(), piece, piece + got);
    return result;
}

inline Bytes ReadFile(const std::string& name) {
    const std::string text = ReadWholeFile(name);
    return Bytes(text.begin(), text.end());
}

inline void WriteFile(const std::string& name, const Bytes& bytes) {
    WriteWholeFile(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

template <typename Error>
void ExpectError(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected \"" << message << "\"";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

inline void ExpectBZipError(const std::function<void()>& action, int code) {
    ExpectError<EBZDecompressionError>(action, "error " + std::to_string(code));
}

}  // namespace orvex::test
