#pragma once
// Directs host names of the game to fixed addresses through the hosts file.
#include "base/Text.h"

#include <functional>
#include <string>

namespace orvex {

using THostsReport = std::function<void(const std::string&)>;

// What a run reports when the list asks for host entries but there is no hosts file to edit.
inline constexpr const char* SHostsNotApplied =
    "the update list's host entries were not applied: no hosts file to edit";

// The beginning of the notice of host entries that could not be applied, before the reason.
inline constexpr const char* SHostsFailed = "the update list's host entries were not applied: ";

// Applies entries (ADDRESS "|" HOST, fields counted from the end; see ParseHostEntry) to fileName:
// active lines that name a host (or a name under it) with another address are commented out, and
// entries not yet present are appended in a marked block. Every other line stays as it was, line
// ends included (a commented-out line loses its surrounding blanks); the block takes the file's line end (CR LF for an empty file). The file is
// rewritten only when something is appended; showStatus hears of it before the file is opened and
// after it is written. Raises EListError for a bad entry and the file's error when it cannot be read
// or written, in every case with the file as it was.
void EditHosts(const TStringList& entries, const std::string& fileName, const THostsReport& showStatus);

// EditHosts on fileName; without a file, notify hears SHostsNotApplied and nothing else happens.
// An error of EditHosts is told to fail (SHostsFailed and its message), then raised.
void ApplyHosts(const TStringList& entries, const std::string& fileName, const THostsReport& showStatus,
                const THostsReport& notify, const THostsReport& fail);

// The hosts file of a folder: hosts.msn when it exists, else hosts; "" for an empty folder.
std::string HostsFileIn(const std::string& hostsFolder);

// The folder of the system's hosts file that the launcher edits; "" where runs edit a hosts file only
// when told which (Linux: orvex-update --hosts-file).
std::string DefaultHostsFolder();

}  // namespace orvex
