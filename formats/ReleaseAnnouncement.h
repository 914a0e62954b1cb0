#pragma once
// A release the current list announces without making it current, in the list's settings section:
//   Preload|NAME|SHA256          launchers stage the release's files ahead of its day
//   Rollout|NAME|SHARE|SHA256    launchers whose installation number falls within SHARE percent
//                                take the release instead of the current one
// NAME's list is releases/NAME/files.lst.bz2 of the server folder, SHA256 its hash in hex. Launchers
// that know nothing of releases pass these lines over.
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr const char* PreloadKey = "Preload";
inline constexpr const char* RolloutKey = "Rollout";
inline constexpr const char* ReleasesFolder = "releases";
// Installation numbers run from 0 to RolloutScale - 1; a share of P percent takes those below P * 100.
inline constexpr int RolloutScale = 10000;

struct TReleaseAnnouncement {
    enum class TKind { Preload, Rollout };
    TKind Kind = TKind::Preload;
    std::string Name;
    int Share = 0;  // 1 to 99 for a rollout
    std::string ListHash;

    bool operator==(const TReleaseAnnouncement&) const = default;
};

// 1 to 64 of A-Z a-z 0-9 . _ -, not starting with a dot: safe in an address and a path.
bool IsReleaseName(const std::string& name);

std::string FormatAnnouncement(const TReleaseAnnouncement& announcement);
// The announcement a settings line makes; none for any other line or a malformed one.
std::optional<TReleaseAnnouncement> ParseAnnouncement(const std::string& line);

// The announcements of a list's text (lines ending in CR LF), in order.
std::vector<TReleaseAnnouncement> AnnouncementsOf(const std::string& listText);
// The text without its announcements, and with these added at the end of its settings section.
std::string WithAnnouncements(const std::string& listText, const std::vector<TReleaseAnnouncement>& announcements);

// The release's list relative to the server folder, with "/" between folders.
std::string ReleaseListAddress(const std::string& name);

// Whether the installation numbered number (0 to RolloutScale - 1) takes a rollout of share percent.
inline bool TakesRollout(int number, int share) { return number >= 0 && number < share * (RolloutScale / 100); }

}  // namespace orvex
