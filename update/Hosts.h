#pragma once
// Directs host names of the game to fixed addresses through the hosts file.
#include "base/Text.h"

#include <functional>
#include <string>

namespace orvex {

// Applies entries (ADDRESS "|" HOST, fields counted from the end) to hosts.msn in hostsFolder when
// that file exists, else to hosts: active lines that name a host without its address are commented
// out, and entries not yet present are appended in a marked block. The file is rewritten only when
// something is appended; showStatus then hears of it. Nothing happens for an empty hostsFolder.
// Raises EListError for an entry with fewer than two fields and the file's error when it cannot be
// read or written, in both cases before the file is changed.
void EditHosts(const TStringList& entries, const std::string& hostsFolder,
               const std::function<void(const std::string&)>& showStatus);

// The folder of the system's hosts file; "" when the system does not say.
std::string DefaultHostsFolder();

}  // namespace orvex
