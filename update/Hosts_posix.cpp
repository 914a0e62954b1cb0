#include "update/Hosts.h"

namespace orvex {

// /etc/hosts is the whole machine's: a run edits it only when told to.
std::string DefaultHostsFolder() { return std::string(); }

}  // namespace orvex
