#pragma once
// Reader of the update list files.lst: sections between "[name]" and "[/name]", one entry a line.
#include "base/Stream.h"
#include "base/Text.h"

#include <memory>
#include <string>

namespace orvex {

class TListFile {
public:
    // Binds the reader to the file; nothing is opened yet, and each read opens it again.
    explicit TListFile(const std::string& fileName);
    // Reads stream, which stays the caller's, from its start at each read.
    explicit TListFile(TStream& stream);
    // Reads a list held in memory.
    static TListFile FromText(const std::string& text);
    ~TListFile();
    TListFile(TListFile&&) noexcept;
    TListFile& operator=(TListFile&&) noexcept;
    TListFile(const TListFile&) = delete;
    TListFile& operator=(const TListFile&) = delete;

    // The non-empty lines of the first section called name, or the single line "FAIL" when it is
    // absent or empty. Raises when the file cannot be opened.
    TStringList GetSection(const std::string& name);
    // The last field of the first entry of section whose first field is key; "" when none is.
    std::string GetValue(const std::string& section, const std::string& key);

private:
    TListFile() = default;
    // Each read starts again at the top of the list.
    TStream& Rewind();

    std::string FFileName;
    bool FFromFile = false;
    std::unique_ptr<TStream> FOwned;
    TStream* FSource = nullptr;
};

}  // namespace orvex
