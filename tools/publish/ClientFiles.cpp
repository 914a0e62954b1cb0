// The files of a client folder as the list names them, and every entry that cannot be published.
#include "tools/publish/ServerFolder.h"

#include "base/CodePage.h"
#include "base/Os.h"
#include "base/Path.h"

#include <algorithm>

namespace orvex {
namespace {

struct TClientWalk {
    const std::function<bool(const std::string&)>& Excluded;
    TStringList Files;
    TStringList Refusals;
};

// A link is refused wherever it points: followed, a link to /etc/passwd would go to every player
// and one to the server folder would pack that folder into itself. A FIFO would hang the publish
// and a device publish as an empty file.
void ListFolderInto(const std::string& dir, const std::string& prefix, TClientWalk& walk) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) RaiseInOutError(os::LastError(), dir);
    for (const os::TFolderEntry& entry : entries) {
        const std::string listed = prefix + entry.Name;
        const std::string path = JoinPath(dir, entry.Name);
        const os::TEntryKind kind = os::EntryKind(path);
        if (!entry.Representable)
            walk.Refusals.push_back(Format("The name \"%s\" is not in this system's encoding (%s)", listed.c_str(),
                                           LocalNameEncoding().c_str()));
        else if (kind == os::TEntryKind::Folder)
            ListFolderInto(path, listed + "\\", walk);
        else if (kind == os::TEntryKind::File)
            walk.Files.push_back(listed);
        else if (kind == os::TEntryKind::Missing)  // Wine shows a name it cannot map by a short one
            walk.Refusals.push_back(Format("\"%s\" is in its folder but does not open by that name (a name this "
                                           "system cannot map back; under Wine: is the locale LANG names installed?)", listed.c_str()));
        else if (walk.Excluded && walk.Excluded(listed))
            continue;
        else if (const auto refused = RefusedKind(path, listed))
            walk.Refusals.push_back(*refused);
    }
}

void RefuseCaseTwins(const TStringList& sortedFiles, TStringList& refusals) {
    TCaseTwins twins;
    for (const std::string& file : sortedFiles)
        if (const auto earlier = twins.EarlierOf(file))
            refusals.push_back(Format("\"%s\" and \"%s\" differ only in letter case: a Windows client cannot hold both",
                                      os::NativePath(*earlier).c_str(), os::NativePath(file).c_str()));
}

}  // namespace

std::optional<std::string> RefusedKind(const std::string& path, const std::string& listed) {
    switch (os::EntryKind(path)) {
    case os::TEntryKind::File:
    case os::TEntryKind::Missing:  // fails where it is opened
        return std::nullopt;
    case os::TEntryKind::Link:
        return Format("\"%s\" is a link: only plain files are published", os::NativePath(listed).c_str());
    default:
        return Format("\"%s\" is not a regular file: only plain files are published", os::NativePath(listed).c_str());
    }
}

void RaiseRefusals(const TStringList& refusals) {
    if (refusals.empty()) return;
    std::string message;
    for (const std::string& refusal : refusals) message += (message.empty() ? "" : "\n") + refusal;
    throw EPublishError(message);
}

TStringList ListClientFiles(const std::string& clientDir, const std::function<bool(const std::string&)>& excluded) {
    TClientWalk walk{excluded, {}, {}};
    ListFolderInto(clientDir, "", walk);
    std::sort(walk.Files.begin(), walk.Files.end());
    std::sort(walk.Refusals.begin(), walk.Refusals.end());  // folders list in no fixed order
    RefuseCaseTwins(walk.Files, walk.Refusals);
    RaiseRefusals(walk.Refusals);
    return walk.Files;
}

}  // namespace orvex
