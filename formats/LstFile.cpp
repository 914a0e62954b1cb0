#include "formats/LstFile.h"

#include "util/Misc.h"
#include "util/TextReader.h"

namespace orvex {

namespace {

const char* const SFail = "FAIL";

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
    const std::string openingTag = "[" + name + "]";
    std::string line;
    while (reader.ReadLine(line))
        if (Trim(line) == openingTag) return true;
    return false;
}

}  // namespace

TListFile::TListFile(const std::string& fileName) : FFileName(fileName) {}

TListFile::~TListFile() = default;

TFileStream& TListFile::Reopen() {
    FFile.reset();
    FFile = std::make_unique<TFileStream>(FFileName, FileMode::OpenRead);
    return *FFile;
}

TStringList TListFile::GetSection(const std::string& name) {
    TTextReader reader(Reopen());
    TStringList lines;
    if (FindSection(reader, name)) {
        const std::string closingTag = "[/" + name + "]";
        std::string entry;
        while (NextEntry(reader, closingTag, entry)) lines.push_back(entry);
    }
    if (lines.empty()) lines.emplace_back(SFail);
    return lines;
}

std::string TListFile::GetValue(const std::string& section, const std::string& key) {
    TTextReader reader(Reopen());
    if (!FindSection(reader, section)) return std::string();
    const std::string closingTag = "[/" + section + "]";
    std::string entry;
    while (NextEntry(reader, closingTag, entry)) {
        // Fields come last first: the line's first field is at the back.
        const TStringList fields = SplitStr(entry, "|");
        if (!fields.empty() && fields.back() == key) return fields.front();
    }
    return std::string();
}

}  // namespace orvex
