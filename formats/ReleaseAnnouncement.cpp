#include "formats/ReleaseAnnouncement.h"

#include "formats/UpdateList.h"

#include <algorithm>

namespace orvex {

namespace {

bool IsHexHash(const std::string& text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(line.substr(start, bar - start));
    fields.push_back(line.substr(start));
    return fields;
}

const std::string SettingsEnd = "[/" + std::string(SettingsSection) + "]\r\n";

// The lines of text (each with its line end, the last one without when it has none).
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

bool IsReleaseName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

std::string FormatAnnouncement(const TReleaseAnnouncement& announcement) {
    if (announcement.Kind == TReleaseAnnouncement::TKind::Preload)
        return std::string(PreloadKey) + "|" + announcement.Name + "|" + announcement.ListHash;
    return std::string(RolloutKey) + "|" + announcement.Name + "|" + std::to_string(announcement.Share) + "|" +
           announcement.ListHash;
}

std::optional<TReleaseAnnouncement> ParseAnnouncement(const std::string& line) {
    const std::vector<std::string> fields = Fields(line);
    TReleaseAnnouncement announcement;
    if (fields.size() == 3 && fields[0] == PreloadKey) {
        announcement.Kind = TReleaseAnnouncement::TKind::Preload;
    } else if (fields.size() == 4 && fields[0] == RolloutKey) {
        announcement.Kind = TReleaseAnnouncement::TKind::Rollout;
        const std::string& share = fields[2];
        if (share.empty() || share.size() > 2 || !std::all_of(share.begin(), share.end(), ::isdigit)) return std::nullopt;
        announcement.Share = std::stoi(share);
        if (announcement.Share < 1 || announcement.Share > 99) return std::nullopt;
    } else {
        return std::nullopt;
    }
    announcement.Name = fields[1];
    announcement.ListHash = fields.back();
    if (!IsReleaseName(announcement.Name) || !IsHexHash(announcement.ListHash)) return std::nullopt;
    return announcement;
}

std::vector<TReleaseAnnouncement> AnnouncementsOf(const std::string& listText) {
    std::vector<TReleaseAnnouncement> found;
    for (const std::string& line : LinesOf(listText.substr(0, listText.find(SettingsEnd))))
        if (auto announcement = ParseAnnouncement(WithoutLineEnd(line))) found.push_back(std::move(*announcement));
    return found;
}

std::string WithAnnouncements(const std::string& listText, const std::vector<TReleaseAnnouncement>& announcements) {
    const std::size_t end = listText.find(SettingsEnd);
    if (end == std::string::npos) return listText;
    std::string settings;
    for (const std::string& line : LinesOf(listText.substr(0, end)))
        if (!ParseAnnouncement(WithoutLineEnd(line))) settings += line;
    for (const TReleaseAnnouncement& announcement : announcements) settings += FormatAnnouncement(announcement) + "\r\n";
    return settings + listText.substr(end);
}

std::string ReleaseListAddress(const std::string& name) {
    return std::string(ReleasesFolder) + "/" + name + "/" + PackedListName;
}

}  // namespace orvex
