#include "util/TextReader.h"

#include <cstring>

namespace orvex {

TTextReader::TTextReader(TStream& stream) : FStream(stream), FBuffer(new char[BufferSize]) {}

bool TTextReader::Fill() {
    FPos = 0;
    FEnd = FStream.Read(FBuffer.get(), BufferSize);
    return FEnd > 0;
}

bool TTextReader::ReadLine(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
        if (FPos == FEnd && !Fill()) break;
        any = true;
        const char* begin = FBuffer.get() + FPos;
        const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', FEnd - FPos));
        if (!newline) {
            line.append(begin, FEnd - FPos);
            FPos = FEnd;
            continue;
        }
        line.append(begin, static_cast<std::size_t>(newline - begin));
        FPos += static_cast<std::size_t>(newline - begin) + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }
    return any;
}

}  // namespace orvex
