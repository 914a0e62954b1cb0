#pragma once
// Decoding of a file that must hold exactly one bzip2 stream, as the launcher takes it.
#include <cstddef>
#include <functional>
#include <string>

namespace orvex {

enum class TStreamCheck {
    Whole,         // one stream, nothing after it
    Unreadable,    // the file cannot be opened or read
    Damaged,       // not bzip2, or the data is corrupt
    Truncated,     // the file ends inside the stream
    TrailingData,  // bytes (often a second stream) after the end of the first
};

// Decodes the file, passing every decoded piece to sink, and says how the file ended.
TStreamCheck DecodeOneStream(const std::string& fileName, const std::function<void(const char*, std::size_t)>& sink);

// A short English description, e.g. "is not one whole bzip2 stream".
const char* DescribeStreamCheck(TStreamCheck check);

}  // namespace orvex
