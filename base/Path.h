#pragma once
// Paths as the program writes them ("\" between folders, "/" taken too where a path comes from a
// list or a user): joining a folder and a relative path, and whether a relative path stays inside
// its folder.
#include <string>

namespace orvex {

// relative under dir with one delimiter between them; relative alone when dir is empty.
std::string JoinPath(const std::string& dir, const std::string& relative);

// True when a relative path, as an update list names it, stays inside the folder it is joined to:
// not empty, no drive or stream (":"), and no name between delimiters that is empty, "." or ".."
// (so no leading, doubled or trailing delimiter either). The launcher, the publisher and its check
// all hold list entries to this one rule.
bool StaysInside(const std::string& path);

// True when name stays inside and is a single name, without a folder.
bool IsNameInFolder(const std::string& name);

}  // namespace orvex
