#include "update/Hosts.h"

namespace orvex {

std::string DefaultHostsFolder() { return "/etc"; }

}  // namespace orvex
