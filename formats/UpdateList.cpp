#include "formats/UpdateList.h"

#include "base/CodePage.h"
#include "base/Exceptions.h"
#include "formats/LstFile.h"
#include "util/Misc.h"

#include <algorithm>

namespace orvex {

namespace {

// Positions in SplitStr's answer, which gives the last field first.
constexpr std::size_t SizeField = 0;
constexpr std::size_t Md5Field = 1;
constexpr std::size_t PathField = 2;

std::string FieldOrEmpty(const TStringList& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string();
}

}  // namespace

bool IsEmptySection(const TStringList& section) { return section.size() == 1 && section[0] == SFail; }

std::string OpeningTag(const std::string& section) { return "[" + section + "]"; }

std::string ClosingTag(const std::string& section) { return "[/" + section + "]"; }

uint64_t TListEntry::CopySize() const { return static_cast<uint64_t>(std::max<int32_t>(0, StrToInt(Size))); }

uint64_t TListEntry::MaxCopyBody(bool exactSize) const {
    const uint64_t size = CopySize();
    return exactSize ? size : size + std::max(CopySizeSlack, size / 8);
}

std::string TListEntry::CopyAddress() const {
    std::string address = CopyName();
    std::replace(address.begin(), address.end(), '\\', '/');
    return address;
}

std::string TListEntry::CopyRequest() const { return PercentEncodedPath(Utf8Name(CopyAddress())); }

unsigned ListCodePage(TListFile& list) {
    int32_t named = 0;
    if (TryStrToInt(list.GetValue(SettingsSection, CodePageKey), named) && named > 0)
        return static_cast<unsigned>(named);
    return UnnamedListCodePage();
}

std::string LocalListName(const std::string& name, unsigned codePage) {
    return LocalNameFrom(codePage, name).value_or(name);
}

// Line by line only when the whole text will not convert: a line this system cannot name keeps its
// bytes, and the others still convert.
std::string LocalListText(const std::string& text) {
    TListFile list = TListFile::FromText(text);
    const unsigned codePage = ListCodePage(list);
    if (auto whole = LocalNameFrom(codePage, text)) return *whole;
    std::string local;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        local += LocalListName(text.substr(start, end - start), codePage);
        start = end;
    }
    return local;
}

TListEntry SplitListEntry(const std::string& line) {
    const TStringList fields = SplitStr(line, "|");
    TListEntry entry;
    entry.Path = FieldOrEmpty(fields, PathField);
    entry.MD5 = FieldOrEmpty(fields, Md5Field);
    entry.Size = FieldOrEmpty(fields, SizeField);
    entry.FieldCount = fields.size();
    return entry;
}

TListEntry ReadListEntry(const std::string& line) {
    TListEntry entry = SplitListEntry(line);
    if (entry.FieldCount <= PathField) throw EListError(Format(SListIndexError, static_cast<int>(PathField)));
    return entry;
}

std::string FormatListEntry(const std::string& path, const std::string& md5, int64_t size) {
    return path + "|" + md5 + "|" + IntToStr(size);
}

TUpdateList ReadUpdateList(TListFile& list) {
    TUpdateList sections;
    sections.Rev = list.GetValue(SettingsSection, RevKey);
    sections.ModHosts = list.GetValue(SettingsSection, ModHostsKey);
    sections.Hosts = list.GetSection(HostsSection);
    sections.Self = list.GetSection(SelfSection);
    sections.Critical = list.GetSection(CriticalSection);
    sections.Normal = list.GetSection(NormalSection);
    sections.Keys = list.GetSection(KeysSection);
    return sections;
}

TUpdateList ReadUpdateList(const std::string& text) {
    TListFile list = TListFile::FromText(text);
    return ReadUpdateList(list);
}

}  // namespace orvex
