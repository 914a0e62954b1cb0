#include "formats/ChunkIndex.h"

#include "base/Text.h"
#include "formats/Zstd.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <unordered_set>

namespace orvex {

namespace {

constexpr std::string_view Magic = "orvex-chunks";
constexpr std::string_view ChunkerKey = "chunker";
constexpr std::string_view FileKey = "file";
constexpr std::string_view ChunkKey = "chunk";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

std::optional<std::string> PathProblem(std::string_view path) {
    if (path.empty()) return "an empty path";
    if (path.size() > MaxChunkIndexPathLength)
        return "a path longer than " + std::to_string(MaxChunkIndexPathLength) + " characters";
    if (std::any_of(path.begin(), path.end(), IsControl)) return "a path with a control character";
    return std::nullopt;
}

// Why a line was refused; caught at the top, where its line number is added.
struct TRefusal {
    std::string Reason;
};

[[noreturn]] void Refuse(std::string reason) { throw TRefusal{std::move(reason)}; }

// The line's fields at single spaces; with restJoined, the last field takes the rest of the line.
std::vector<std::string_view> Fields(std::string_view line, std::size_t count, bool restJoined = false) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < count || !restJoined) {
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) break;
        fields.push_back(line.substr(0, space));
        line.remove_prefix(space + 1);
    }
    fields.push_back(line);
    if (fields.size() != count) Refuse("not " + std::to_string(count) + " fields");
    return fields;
}

// What the line is: its first field.
std::string_view Key(std::string_view line) { return line.substr(0, line.find(' ')); }

// Plain decimal: digits only, no leading zero, no overflow.
uint64_t Decimal(std::string_view text, uint64_t highest, const char* what) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        Refuse(std::string(what) + " is not a plain decimal number");
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') Refuse(std::string(what) + " is not a plain decimal number");
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) Refuse(std::string(what) + " is too large");
        value = value * 10 + digit;
    }
    if (value > highest) Refuse(std::string(what) + " is above " + std::to_string(highest));
    return value;
}

uint32_t Decimal32(std::string_view text, const char* what) {
    return static_cast<uint32_t>(Decimal(text, UINT32_MAX, what));
}

TSha256Digest Digest(std::string_view text, const char* what) {
    const auto digest = DigestFromHex(text);
    if (!digest) Refuse(std::string(what) + " is not 64 lower-case hex digits");
    return *digest;
}

// Builds the index line by line, checking each against what came before.
class TIndexBuilder {
public:
    explicit TIndexBuilder(const TChunkIndexLimits& limits) : FLimits(limits) {}

    void Header(std::string_view line) {
        if (Key(line) != Magic) Refuse("not a chunk index");
        const auto fields = Fields(line, 2);
        const uint64_t version = Decimal(fields[1], UINT32_MAX, "the version");
        if (version != ChunkIndexVersion) Refuse("version " + std::to_string(version) + " is not known");
    }

    void Chunker(std::string_view line) {
        if (Key(line) != ChunkerKey) Refuse("no chunker line");
        const auto fields = Fields(line, 4);
        FIndex.Chunker = {Decimal32(fields[1], "the minimum size"), Decimal32(fields[2], "the average size"),
                          Decimal32(fields[3], "the maximum size")};
        if (const auto problem = ChunkerParamsProblem(FIndex.Chunker)) Refuse(*problem);
    }

    void Entry(std::string_view line) {
        const std::string_view key = Key(line);
        if (key == FileKey) return File(line);
        if (key == ChunkKey) return Chunk(line);
        Refuse("an unknown line");
    }

    TChunkIndex Finish() {
        EndFile();
        return std::move(FIndex);
    }

private:
    void File(std::string_view line) {
        EndFile();
        if (FIndex.Files.size() == FLimits.Files) Refuse("more than " + std::to_string(FLimits.Files) + " files");
        const auto fields = Fields(line, 4, true);
        TChunkedFile file;
        file.Size = Decimal(fields[1], UINT64_MAX, "the file size");
        file.Hash = Digest(fields[2], "the file hash");
        if (const auto problem = PathProblem(fields[3])) Refuse(*problem);
        file.Path = std::string(fields[3]);
        // Windows takes names in any letter case for the same file.
        if (!FPaths.insert(LowerAscii(file.Path)).second) Refuse("the path " + file.Path + " is listed before");
        FIndex.Files.push_back(std::move(file));
    }

    void Chunk(std::string_view line) {
        if (FIndex.Files.empty()) Refuse("a chunk before any file");
        if (FChunkCount == FLimits.Chunks) Refuse("more than " + std::to_string(FLimits.Chunks) + " chunks");
        const auto fields = Fields(line, 5);
        TChunkedFile& file = FIndex.Files.back();
        TChunkRef chunk;
        chunk.Hash = Digest(fields[1], "the chunk hash");
        chunk.Offset = Decimal(fields[2], UINT64_MAX, "the chunk offset");
        chunk.Size = Decimal32(fields[3], "the chunk size");
        chunk.CompressedSize = Decimal32(fields[4], "the compressed size");
        const uint64_t expectedOffset = file.Chunks.empty() ? 0 : file.Chunks.back().Offset + file.Chunks.back().Size;
        if (chunk.Offset != expectedOffset)
            Refuse("the chunk starts at " + std::to_string(chunk.Offset) + ", not where the one before ended (" +
                   std::to_string(expectedOffset) + ")");
        if (chunk.Size == 0 || chunk.Size > FIndex.Chunker.MaxSize)
            Refuse("the chunk size is not 1 to the chunker's maximum " + std::to_string(FIndex.Chunker.MaxSize));
        if (chunk.Size > file.Size - chunk.Offset) Refuse("the chunk ends beyond the file's size");
        if (chunk.CompressedSize == 0 || chunk.CompressedSize > ZstdCompressBound(chunk.Size))
            Refuse("the compressed size is not 1 to what zstd makes of the chunk at most");
        file.Chunks.push_back(chunk);
        ++FChunkCount;
    }

    void EndFile() {
        if (FIndex.Files.empty()) return;
        const TChunkedFile& file = FIndex.Files.back();
        const uint64_t covered = file.Chunks.empty() ? 0 : file.Chunks.back().Offset + file.Chunks.back().Size;
        if (covered != file.Size)
            Refuse("the chunks of " + file.Path + " cover " + std::to_string(covered) + " of its " +
                   std::to_string(file.Size) + " bytes");
    }

    const TChunkIndexLimits FLimits;
    TChunkIndex FIndex;
    std::unordered_set<std::string> FPaths;
    std::size_t FChunkCount = 0;
};

void AppendLine(std::string& text, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first) text += ' ';
        text += field;
        first = false;
    }
    text += '\n';
}

}  // namespace

std::string ChunkStorePath(const TSha256Digest& hash) {
    const std::string hex = DigestHex(hash);
    return std::string(ChunkStoreFolder) + "/" + hex.substr(0, 2) + "/" + hex + ".zst";
}

std::string FormatChunkIndexText(const TChunkIndex& index) {
    using std::to_string;
    std::string text;
    AppendLine(text, {Magic, to_string(ChunkIndexVersion)});
    AppendLine(text, {ChunkerKey, to_string(index.Chunker.MinSize), to_string(index.Chunker.AverageSize),
                      to_string(index.Chunker.MaxSize)});
    for (const TChunkedFile& file : index.Files) {
        if (file.Path.empty() || std::any_of(file.Path.begin(), file.Path.end(), IsControl))
            throw std::invalid_argument("the chunk index cannot name the path \"" + file.Path + "\"");
        AppendLine(text, {FileKey, to_string(file.Size), DigestHex(file.Hash), file.Path});
        for (const TChunkRef& chunk : file.Chunks)
            AppendLine(text, {ChunkKey, DigestHex(chunk.Hash), to_string(chunk.Offset), to_string(chunk.Size),
                              to_string(chunk.CompressedSize)});
    }
    return text;
}

TParsed<TChunkIndex> ParseChunkIndexText(std::string_view text, const TChunkIndexLimits& limits) {
    if (text.size() > limits.TextSize)
        return TParsed<TChunkIndex>::Refused("chunk index: longer than " + std::to_string(limits.TextSize) + " bytes");
    TIndexBuilder builder(limits);
    std::size_t number = 0;
    try {
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\n', start);
            ++number;
            if (end == std::string_view::npos) Refuse("the line has no line end");
            const std::string_view line = text.substr(start, end - start);
            if (number == 1) builder.Header(line);
            else if (number == 2) builder.Chunker(line);
            else builder.Entry(line);
            start = end + 1;
        }
        if (number < 2) {
            ++number;
            Refuse(number == 1 ? "not a chunk index" : "no chunker line");
        }
        return {builder.Finish(), {}};
    } catch (const TRefusal& refusal) {
        return TParsed<TChunkIndex>::Refused("chunk index line " + std::to_string(number) + ": " + refusal.Reason);
    }
}

TParsed<TChunkIndex> ReadChunkIndex(const uint8_t* data, std::size_t size, const TChunkIndexLimits& limits) {
    std::vector<uint8_t> text;
    try {
        text = ZstdDecompress(data, size, std::nullopt, limits.TextSize);
    } catch (const EZstdError& error) {
        return TParsed<TChunkIndex>::Refused(std::string("chunk index: ") + error.what());
    }
    return ParseChunkIndexText({reinterpret_cast<const char*>(text.data()), text.size()}, limits);
}

}  // namespace orvex
