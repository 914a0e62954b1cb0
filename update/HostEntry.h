#pragma once
// One host entry of the update list (ADDRESS "|" HOST) and how lines of a hosts file name hosts.
#include <string>

namespace orvex {

struct THostEntry {
    std::string Address;
    std::string Host;
};

// The last two fields of entry as address and host name. Raises EListError, naming the entry, for
// fewer than two fields, an address that is not IPv4 or IPv6, a host name of bad syntax (letters,
// digits, hyphens and dots; labels of 1 to 63 characters not starting or ending with a hyphen; at
// most 253 characters; nothing else) and the loopback names, which must keep pointing at this machine.
THostEntry ParseHostEntry(const std::string& entry);

[[nodiscard]] bool IsIpv4Address(const std::string& text);
[[nodiscard]] bool IsIpv6Address(const std::string& text);
[[nodiscard]] bool IsHostName(const std::string& text);
[[nodiscard]] bool IsLoopbackName(const std::string& name);

// How a hosts file line (its end of line removed) stands to an entry, by its host-name fields: the
// fields after the address, before a "#" comment. A field names the host when it is the entry's
// name or a name under it ("eu.login.example" under "login.example"); letter case is ignored, as
// name lookups ignore it.
enum class HostLineMatch {
    None,       // a comment, or no field names the host
    SameEntry,  // the line's address and one of its fields is exactly the entry
    Conflict,   // names the host (or a name under it) with another address
};
[[nodiscard]] HostLineMatch MatchHostLine(const std::string& line, const THostEntry& entry);

}  // namespace orvex
