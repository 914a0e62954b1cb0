#include "tools/publish/PublishConfig.h"

#include "base/CodePage.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "tools/publish/FileText.h"

#include <algorithm>

namespace orvex {
namespace {

constexpr const char* Section = "publish";
// Never a value anybody writes: tells a missing key from an empty one.
constexpr const char* Missing = "\x01missing";

std::string Read(const std::string& fileName, const std::string& key) {
    return ReadProfileString(fileName, Section, key, Missing);
}

TStringList SplitList(const std::string& text) {
    TStringList items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(';', start);
        const std::string item = Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!item.empty()) items.push_back(item);
        if (end == std::string::npos) return items;
        start = end + 1;
    }
}

[[noreturn]] void Bad(const std::string& fileName, const std::string& key, const std::string& value,
                      const std::string& why) {
    throw EPublishConfigError(
        Format("%s: [%s] %s=\"%s\": %s", fileName.c_str(), Section, key.c_str(), value.c_str(), why.c_str()));
}

// The number of the line that sets key in the section, counting from 1; 0 when none does.
int LineOf(const std::string& fileName, const std::string& key) {
    const std::string text = ReadWholeFile(fileName);
    bool inSection = false;
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.starts_with('[')) inSection = SameTextAscii(line, std::string("[") + Section + "]");
        else if (inSection && SameTextAscii(Trim(line.substr(0, line.find('='))), key)) return number;
    }
    return 0;
}

// A ";" after a value separates entries, so a comment there would be taken for a pattern or a
// name: an entry of several words without a wildcard, a dot or a folder is taken for one.
bool LooksLikeComment(const std::string& item) {
    return item.find_first_of(" \t") != std::string::npos && item.find_first_of("*?.\\/") == std::string::npos;
}

[[noreturn]] void CommentAfterValue(const std::string& fileName, const std::string& key, const std::string& value,
                                    const std::string& comment, const char* hint = "") {
    const int line = LineOf(fileName, key);
    Bad(fileName + (line > 0 ? ", line " + std::to_string(line) : std::string()), key, value,
        Quoted(comment) + " looks like a comment: comments go on lines of their own" + hint);
}

TStringList SplitValue(const std::string& fileName, const std::string& key, const std::string& value) {
    TStringList items = SplitList(value);
    for (const std::string& item : items)
        if (LooksLikeComment(item))
            CommentAfterValue(fileName, key, value, item,
                              " (a pattern of several words without a dot: write ? for each space)");
    return items;
}

// key, then key1, key2, ... up to the first that is missing.
TStringList ReadList(const std::string& fileName, const std::string& key) {
    TStringList items;
    std::string value = Read(fileName, key);
    if (value != Missing) items = SplitValue(fileName, key, value);
    for (int n = 1; (value = Read(fileName, key + std::to_string(n))) != Missing; ++n) {
        const TStringList more = SplitValue(fileName, key + std::to_string(n), value);
        items.insert(items.end(), more.begin(), more.end());
    }
    return items;
}

THostEntry ParseHost(const std::string& fileName, const std::string& item) {
    const std::size_t gap = item.find_first_of(" \t");
    const std::size_t host = gap == std::string::npos ? std::string::npos : item.find_first_not_of(" \t", gap);
    if (host == std::string::npos || item.find_first_of(" \t", host) != std::string::npos)
        Bad(fileName, "Hosts", item, "write each entry as ADDRESS HOST, entries separated by \";\"");
    return THostEntry{item.substr(0, gap), item.substr(host)};
}

std::string NormalizedPattern(std::string pattern) {
    std::replace(pattern.begin(), pattern.end(), '/', '\\');
    return pattern;
}

bool Match(const char* p, const char* s) {
    for (; *p; ++p, ++s) {
        if (*p == '*') {
            const bool crossFolders = p[1] == '*';
            while (*p == '*') ++p;
            for (const char* rest = s;; ++rest) {
                if (Match(p, rest)) return true;
                if (!*rest || (!crossFolders && *rest == '\\')) return false;
            }
        }
        if (!*s || (*p == '?' ? *s == '\\' : LowerAscii(*p) != LowerAscii(*s))) return false;
    }
    return !*s;
}

bool MatchesAny(const TStringList& patterns, const std::string& path) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&path](const std::string& pattern) { return MatchGlob(pattern, path); });
}

}  // namespace

TPublishConfig LoadPublishConfig(const std::string& fileName) {
    TPublishConfig config;
    const std::string self = Read(fileName, "Self");
    if (self != Missing) config.SelfName = Trim(self);
    if (const std::size_t semicolon = config.SelfName.find(';'); semicolon != std::string::npos)
        CommentAfterValue(fileName, "Self", self, Trim(config.SelfName.substr(semicolon + 1)));
    if (config.SelfName.find_first_of("\\/:|") != std::string::npos)
        Bad(fileName, "Self", self, "the launcher's own file must be a bare file name in the client folder");

    const std::string modHosts = Read(fileName, "ModHosts");
    if (modHosts != Missing && !TryStrToInt(modHosts, config.ModHosts))
        Bad(fileName, "ModHosts", modHosts, "not a whole number");
    for (const std::string& item : ReadList(fileName, "Hosts")) config.Hosts.push_back(ParseHost(fileName, item));
    if (config.ModHosts == 1 && config.Hosts.empty())
        Bad(fileName, "ModHosts", modHosts, "ModHosts=1 needs at least one Hosts entry, or clients fail");

    const std::string codePage = Read(fileName, "CodePage");
    if (codePage != Missing) {
        int32_t number = 0;
        if (!TryStrToInt(codePage, number) || number <= 0) Bad(fileName, "CodePage", codePage, "not a code page number");
        if (const auto unusable = UnusableCodePage(static_cast<unsigned>(number)))
            Bad(fileName, "CodePage", codePage, *unusable);
        config.CodePage = static_cast<unsigned>(number);
    }

    config.Critical = ReadList(fileName, "Critical");
    config.Exclude = ReadList(fileName, "Exclude");
    return config;
}

bool MatchGlob(const std::string& pattern, const std::string& path) {
    const std::string normalized = NormalizedPattern(pattern);
    if (normalized.find('\\') == std::string::npos) {
        const std::size_t delim = path.rfind('\\');
        return Match(normalized.c_str(), path.c_str() + (delim == std::string::npos ? 0 : delim + 1));
    }
    return Match(normalized.c_str(), path.c_str());
}

TPublishDescription DescribeClient(const TPublishConfig& config, const TStringList& clientFiles,
                                   const TStringList& neverPublished) {
    TPublishDescription description;
    description.ModHosts = config.ModHosts;
    description.Hosts = config.Hosts;
    description.SelfName = config.SelfName;
    if (!config.SelfName.empty() &&
        std::find(clientFiles.begin(), clientFiles.end(), config.SelfName) == clientFiles.end())
        throw EPublishError(Format("The self file \"%s\" is not in the client folder", config.SelfName.c_str()));
    for (const std::string& path : clientFiles) {
        if (path == config.SelfName || MatchesAny(config.Exclude, path)) continue;
        if (std::find(neverPublished.begin(), neverPublished.end(), path) != neverPublished.end()) continue;
        (MatchesAny(config.Critical, path) ? description.CriticalFiles : description.NormalFiles).push_back(path);
    }
    return description;
}

}  // namespace orvex
