// Arbitrary bytes as a chunk index, both as its text and as the zstd file a server sends: either
// refused with a reason or taken, and what is taken must hold what the reader promises and be
// written back to the same text.
#include "formats/ChunkIndex.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace orvex;

namespace {

void CheckTaken(const TChunkIndex& index) {
    if (ChunkerParamsProblem(index.Chunker)) __builtin_trap();
    for (const TChunkedFile& file : index.Files) {
        uint64_t end = 0;
        for (const TChunkRef& chunk : file.Chunks) {
            if (chunk.Offset != end || chunk.Size == 0 || chunk.Size > index.Chunker.MaxSize) __builtin_trap();
            end += chunk.Size;
        }
        if (end != file.Size) __builtin_trap();
    }
}

void Check(const TParsed<TChunkIndex>& parsed, std::string_view text) {
    if (!parsed) {
        if (parsed.Error.empty()) __builtin_trap();
        return;
    }
    CheckTaken(*parsed.Value);
    if (FormatChunkIndexText(*parsed.Value) != text) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Check(ParseChunkIndexText(text), text);
    const TParsed<TChunkIndex> read = ReadChunkIndex(data, size);
    if (read) CheckTaken(*read.Value);
    else if (read.Error.empty()) __builtin_trap();
    return 0;
}
