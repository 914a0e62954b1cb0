#include "formats/LstFile.h"

#include "base/MemoryStream.h"
#include "formats/UpdateList.h"
#include "util/Misc.h"
#include "util/TextReader.h"

#include <cstdint>
#include <vector>

namespace orvex {

namespace {

// The next non-empty trimmed line before the closing tag; false at the tag or the end of the file.
bool NextEntry(TTextReader& reader, const std::string& closingTag, std::string& entry) {
    std::string line;
    while (reader.ReadLine(line)) {
        entry = Trim(line);
        if (entry == closingTag) return false;
        if (!entry.empty()) return true;
    }
    return false;
}

// Skips to the line after the opening tag of name; false when the file has none.
bool FindSection(TTextReader& reader, const std::string& name) {
    const std::string openingTag = OpeningTag(name);
    std::string line;
    while (reader.ReadLine(line))
        if (Trim(line) == openingTag) return true;
    return false;
}

}  // namespace

TListFile::TListFile(const std::string& fileName) : FFileName(fileName), FFromFile(true) {}

TListFile::TListFile(TStream& stream) : FSource(&stream) {}

TListFile TListFile::FromText(const std::string& text) {
    TListFile list;
    list.FOwned = std::make_unique<TMemoryStream>(std::vector<uint8_t>(text.begin(), text.end()));
    list.FSource = list.FOwned.get();
    return list;
}

TListFile::~TListFile() = default;
TListFile::TListFile(TListFile&&) noexcept = default;
TListFile& TListFile::operator=(TListFile&&) noexcept = default;

TStream& TListFile::Rewind() {
    if (FFromFile) {
        FOwned.reset();
        FOwned = std::make_unique<TFileStream>(FFileName, FileMode::OpenRead);
        FSource = FOwned.get();
        return *FSource;
    }
    FSource->SetPosition(0);
    return *FSource;
}

TStringList TListFile::GetSection(const std::string& name) {
    TTextReader reader(Rewind());
    TStringList lines;
    if (FindSection(reader, name)) {
        const std::string closingTag = ClosingTag(name);
        std::string entry;
        while (NextEntry(reader, closingTag, entry)) lines.push_back(entry);
    }
    if (lines.empty()) lines.emplace_back(SFail);
    return lines;
}

std::string TListFile::GetValue(const std::string& section, const std::string& key) {
    TTextReader reader(Rewind());
    if (!FindSection(reader, section)) return std::string();
    const std::string closingTag = ClosingTag(section);
    std::string entry;
    while (NextEntry(reader, closingTag, entry)) {
        // Fields come last first: the line's first field is at the back.
        const TStringList fields = SplitStr(entry, "|");
        if (!fields.empty() && fields.back() == key) return fields.front();
    }
    return std::string();
}

}  // namespace orvex
