#include "update/ListedFiles.h"

#include "base/Os.h"
#include "base/Text.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"
#include "formats/md5.h"

#include <set>

namespace orvex {

std::optional<std::string> InstalledDigest(const std::string& baseDir, const std::string& line,
                                           const TInstallPlace& place) {
    const TListEntry entry = ReadListEntry(line);
    const std::string localFile = JoinPath(baseDir, entry.Path);
    if (RefusedListPath(entry.Path, place) || !os::IsRegularFile(localFile)) return std::nullopt;
    return DigestToHex(FileMD5(localFile));
}

bool TListedPathRule::Listed(const std::string& path) {
    const std::optional<std::string> earlier = FSeen.EarlierOf(path);
    if (earlier) FTwins.emplace(path, *earlier);
    return earlier.has_value();
}

std::optional<std::string> TListedPathRule::Refused(const std::string& path, const TInstallPlace& place) const {
    if (auto reason = RefusedListPath(path, place)) return reason;
    const auto twin = FTwins.find(path);
    if (twin == FTwins.end()) return std::nullopt;
    return "differs only in letter case from " + Quoted(twin->second) + ", listed before it";
}

std::vector<std::string> ListedPaths(TListFile& list) { return ListedPaths(list, {CriticalSection, NormalSection}); }

std::vector<std::string> ListedPaths(TListFile& list, const std::vector<const char*>& sections) {
    std::vector<std::string> paths;
    for (const char* section : sections)
        for (const std::string& line : list.GetSection(section)) {
            const TListEntry entry = SplitListEntry(line);
            if (entry.FieldCount >= 3) paths.push_back(entry.Path);
        }
    return paths;
}

std::vector<std::string> DroppedFiles(const std::vector<std::string>& before, const std::vector<std::string>& listed,
                                      const TInstallPlace& place) {
    std::set<std::string> kept;
    for (const std::string& path : listed) kept.insert(LowerAscii(path));
    std::vector<std::string> dropped;
    for (const std::string& path : before)
        if (!kept.count(LowerAscii(path)) && !RefusedListPath(path, place)) dropped.push_back(path);
    return dropped;
}

}  // namespace orvex
