#pragma once
// Reads a stream line by line the way text files are read: a line ends at LF or CR LF, lines of
// any length, and a last line without an ending still counts.
#include "base/Stream.h"

#include <cstddef>
#include <memory>
#include <string>

namespace orvex {

class TTextReader {
public:
    explicit TTextReader(TStream& stream);
    // False at the end of the stream.
    bool ReadLine(std::string& line);

private:
    bool Fill();

    TStream& FStream;
    static constexpr std::size_t BufferSize = 64 * 1024;
    std::unique_ptr<char[]> FBuffer;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
};

}  // namespace orvex
