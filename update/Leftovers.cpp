#include "update/Leftovers.h"

#include "base/Os.h"
#include "base/Path.h"
#include "base/Text.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"
#include "update/Download.h"
#include "update/ListedFiles.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace orvex {

namespace {

// A name of more than the suffix: the suffix alone names no file of the list.
bool HasSuffix(const std::string& name, std::string_view suffix) {
    return name.size() > suffix.size() && EndsWith(name, suffix);
}

// A partial copy stays for the run to continue while its file is listed.
bool IsStalePartialCopy(const std::string& name, const std::set<std::string>& listed) {
    for (const std::string& suffix : {std::string(PackedSuffix) + PartialSuffix, std::string(PackedSuffix) + PartialTagSuffix})
        if (HasSuffix(name, suffix)) return !listed.count(name.substr(0, name.size() - suffix.size()));
    return false;
}

// NAME.PID_COUNT.orvex-part, as os::TempNameBeside makes them.
bool IsTempNameBeside(const std::string& name) {
    if (!os::IsTempName(name)) return false;
    const std::string stem = name.substr(0, name.size() - std::string(os::TempSuffix).size());
    const std::size_t dot = stem.rfind('.');
    const std::size_t bar = stem.rfind('_');
    if (dot == std::string::npos || bar == std::string::npos || bar < dot + 2 || bar + 1 == stem.size()) return false;
    const auto digits = [&stem](std::size_t from, std::size_t to) {
        return stem.find_first_not_of("0123456789", from) >= to;
    };
    return digits(dot + 1, bar) && digits(bar + 1, stem.size());
}

bool IsOwnTemporary(const std::string& tempName, const std::vector<std::string>& ownNames) {
    if (ownNames.empty()) return true;
    const std::string stem = tempName.substr(0, tempName.rfind('.', tempName.rfind('.') - 1));
    return std::any_of(ownNames.begin(), ownNames.end(), [&](const std::string& own) { return SameFileName(stem, own); });
}

void RemoveEntry(const std::string& path) {
    // A file left over is removed again by the next run when it cannot go now.
    if (os::IsLink(path))
        static_cast<void>(os::RemoveLink(path));
    else
        static_cast<void>(os::DeleteFile(path));
}

// Walks folder and the real folders in it; links are never entered. ownNames: when not empty, only
// the temporaries of these files go.
void RemoveTemporariesIn(const std::string& folder, bool subfolders, const std::vector<std::string>& ownNames = {}) {
    std::vector<os::TFolderEntry> entries;
    if (os::IsLink(folder) || !os::ListFolder(folder, entries)) return;
    for (const os::TFolderEntry& entry : entries) {
        const std::string path = folder + os::PathDelim + entry.Name;
        if (entry.IsFolder) {
            if (subfolders) RemoveTemporariesIn(path, true);
        } else if (entry.Representable && IsTempNameBeside(entry.Name) && IsOwnTemporary(entry.Name, ownNames)) {
            RemoveEntry(path);
        }
    }
}

}  // namespace

void RemoveLeftovers(const std::string& baseDir, const TStringList& listedPaths) {
    // Each folder with the names listed in it; the installation folder is looked at in any case.
    std::map<std::string, std::set<std::string>> listedIn{{baseDir, {}}};
    for (const std::string& path : listedPaths) {
        if (!StaysInside(path)) continue;
        const std::string full = JoinPath(baseDir, path);
        const auto delim = full.find_last_of(os::PathDelim);
        if (delim == std::string::npos) continue;
        listedIn[full.substr(0, delim + 1)].insert(full.substr(delim + 1));
    }
    std::vector<os::TFolderEntry> entries;
    for (const auto& [folder, names] : listedIn) {
        if (!os::ListFolder(folder, entries)) continue;
        for (const os::TFolderEntry& entry : entries) {
            if (entry.IsFolder || !entry.Representable) continue;
            const std::string& name = entry.Name;
            const bool staleDownload = HasSuffix(name, PackedSuffix) && !names.count(name) &&
                                       names.count(name.substr(0, name.size() - std::string(PackedSuffix).size()));
            if (os::IsTempName(name) || staleDownload || IsStalePartialCopy(name, names)) RemoveEntry(folder + name);
        }
    }
}

void RemoveOwnTemporaries(const std::string& baseDir) {
    std::string folder = baseDir;
    while (!folder.empty() && folder.back() == os::PathDelim) folder.pop_back();
    // The files a run writes at the top level: the settings, the list and its signature.
    RemoveTemporariesIn(folder, false, {"_settings.ini", PackedListName, ListSignatureName});
    RemoveTemporariesIn(JoinPath(baseDir, StateFolderName), false);
}

void RemoveOwnTemporariesUnder(const std::string& folder) { RemoveTemporariesIn(folder, true); }

void RemoveLeftovers(const std::string& baseDir, TListFile& list) {
    RemoveLeftovers(baseDir, ListedPaths(list, {SelfSection, CriticalSection, NormalSection}));
}

}  // namespace orvex
