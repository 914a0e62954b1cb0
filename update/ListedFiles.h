#pragma once
// The files a list names, and those an earlier list named that it no longer does.
#include "base/Path.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TListFile;

// Which paths of a run's list are left out: those the path rule refuses, and each path after the
// first that names the same file in other letter case (the publisher's rule, TCaseTwins).
class TListedPathRule {
public:
    // Each compared entry's path, in list order; true when it is left out as a case twin.
    bool Listed(const std::string& path);
    // Why path is left out; none when it is taken.
    std::optional<std::string> Refused(const std::string& path, const TInstallPlace& place) const;

private:
    TCaseTwins FSeen;
    std::map<std::string, std::string> FTwins;  // a path left out, and the earlier one taken
};

// The paths of the entries of the list's sections (critical and normal unless told), in list order.
std::vector<std::string> ListedPaths(TListFile& list);
std::vector<std::string> ListedPaths(TListFile& list, const std::vector<const char*>& sections);

// The MD5 (hex) of the installed file of a list entry's line; none when it is absent or not a
// regular file (a folder, a FIFO, a device, a link: never read, the fetched file replaces it), or
// when the list may not name its path (it is then collected, and the fetch pass refuses it).
std::optional<std::string> InstalledDigest(const std::string& baseDir, const std::string& line,
                                           const TInstallPlace& place);

// What before names and listed does not, as Windows compares names; never a path the list rule
// refuses, so nothing of the updater's own or outside the installation.
std::vector<std::string> DroppedFiles(const std::vector<std::string>& before, const std::vector<std::string>& listed,
                                      const TInstallPlace& place);

}  // namespace orvex
