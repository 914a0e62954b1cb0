#include "update/HostEntry.h"

#include "base/Exceptions.h"
#include "base/Text.h"
#include "util/Misc.h"

#include <cctype>
#include <vector>

namespace orvex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsLetterOrDigit(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80; }

std::vector<std::string> Split(const std::string& text, char delimiter) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == delimiter) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

bool IsDecimalOctet(const std::string& part) {
    if (part.empty() || part.size() > 3) return false;
    for (const char c : part)
        if (!IsDigit(c)) return false;
    // "010" is octal to some resolvers and decimal to others: refused.
    if (part.size() > 1 && part.front() == '0') return false;
    return std::stoi(part) <= 255;
}

// Whitespace-separated fields of a line before its comment.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    for (const char c : line) {
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            if (!field.empty()) fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty()) fields.push_back(field);
    return fields;
}

[[noreturn]] void Refuse(const std::string& entry, const char* reason) {
    throw EListError("Bad hosts entry \"" + entry + "\": " + reason);
}

}  // namespace

bool IsIpv4Address(const std::string& text) {
    const std::vector<std::string> parts = Split(text, '.');
    if (parts.size() != 4) return false;
    for (const std::string& part : parts)
        if (!IsDecimalOctet(part)) return false;
    return true;
}

bool IsIpv6Address(const std::string& text) {
    const std::size_t lastColon = text.rfind(':');
    if (text.size() < 2 || text.size() > 45 || lastColon == std::string::npos) return false;
    std::string groupsPart = text;
    int groups = 0;
    // An IPv4 address may stand for the last two groups.
    if (text.find('.', lastColon) != std::string::npos) {
        if (!IsIpv4Address(text.substr(lastColon + 1))) return false;
        groups = 2;
        groupsPart = text.substr(0, lastColon + 1);
        if (!EndsWith(groupsPart, "::")) groupsPart.pop_back();
    }
    const std::size_t gap = groupsPart.find("::");
    if (gap != std::string::npos && groupsPart.find("::", gap + 1) != std::string::npos) return false;
    const std::string head = gap == std::string::npos ? groupsPart : groupsPart.substr(0, gap);
    const std::string tail = gap == std::string::npos ? std::string() : groupsPart.substr(gap + 2);
    for (const std::string* side : {&head, &tail}) {
        if (side->empty()) continue;
        for (const std::string& group : Split(*side, ':')) {
            if (group.empty() || group.size() > 4) return false;
            for (const char c : group)
                if (!IsHexDigit(c)) return false;
            ++groups;
        }
    }
    return gap == std::string::npos ? groups == 8 : groups <= 7;
}

bool IsHostName(const std::string& text) {
    if (text.empty() || text.size() > 253) return false;
    for (const std::string& label : Split(text, '.')) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        for (const char c : label)
            if (!IsLetterOrDigit(c) && c != '-') return false;
    }
    return true;
}

bool IsLoopbackName(const std::string& name) {
    const std::string lower = LowerAscii(name);
    for (const char* loopback : {"localhost", "localhost.localdomain", "localhost4", "localhost4.localdomain4",
                                 "localhost6", "localhost6.localdomain6", "ip6-localhost", "ip6-loopback"})
        if (lower == loopback) return true;
    // Every name under "localhost." is this machine too.
    return EndsWith(lower, ".localhost");
}

THostEntry ParseHostEntry(const std::string& entry) {
    const TStringList fields = SplitStr(entry, "|");
    THostEntry parsed{ListAt(fields, 1), ListAt(fields, 0)};
    if (!IsIpv4Address(parsed.Address) && !IsIpv6Address(parsed.Address)) Refuse(entry, "not an IPv4 or IPv6 address");
    if (!IsHostName(parsed.Host)) Refuse(entry, "not a host name");
    if (!EndsWith(entry, "|" + parsed.Host)) Refuse(entry, "something after the host name");
    if (IsLoopbackName(parsed.Host)) Refuse(entry, "a loopback name is never redirected");
    return parsed;
}

HostLineMatch MatchHostLine(const std::string& line, const THostEntry& entry) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() < 2) return HostLineMatch::None;
    const std::string host = LowerAscii(entry.Host);
    bool exact = false;
    bool named = false;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string name = LowerAscii(fields[i]);
        if (name == host) exact = named = true;
        else if (EndsWith(name, "." + host)) named = true;
    }
    if (!named) return HostLineMatch::None;
    const bool sameAddress = LowerAscii(fields[0]) == LowerAscii(entry.Address);
    if (sameAddress) return exact ? HostLineMatch::SameEntry : HostLineMatch::None;
    return HostLineMatch::Conflict;
}

}  // namespace orvex
