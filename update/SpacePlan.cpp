#include "update/SpacePlan.h"

#include <algorithm>

namespace orvex {

namespace {

// Whole MiB, rounded up, so that a need is never shown smaller than it is.
std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

}  // namespace

// Replaced one at a time, a file grows the installation by its new size when its old version is
// kept as a backup, by what it outgrew it otherwise; while it is replaced, its new version, its
// download and its backup stand beside the old one. The bound takes every other file as replaced.
TSpaceNeed SpaceNeeded(const std::vector<TSpaceItem>& items, bool backups) {
    const auto growth = [backups](const TSpaceItem& item) {
        return backups ? item.File : item.File - std::min(item.File, item.Installed);
    };
    uint64_t grown = 0, largestCopy = 0;
    TSpaceNeed need;
    for (const TSpaceItem& item : items) {
        grown += growth(item);
        largestCopy = std::max(largestCopy, item.Copy);
        need.Staged += item.File + (backups ? item.Installed : 0);
    }
    need.Staged += largestCopy;
    for (const TSpaceItem& item : items)
        need.OneAtATime = std::max(need.OneAtATime,
                                   grown - growth(item) + item.File + item.Copy + (backups ? item.Installed : 0));
    return need;
}

TSpaceVerdict SpaceVerdict(const TSpaceNeed& need, uint64_t available) {
    if (need.Staged <= available) return TSpaceVerdict::Staged;
    return need.OneAtATime <= available ? TSpaceVerdict::OneAtATime : TSpaceVerdict::Refused;
}

std::string SpaceNotice(TSpaceVerdict verdict, const TSpaceNeed& need, uint64_t available) {
    switch (verdict) {
        case TSpaceVerdict::OneAtATime:
            return "Too little free space to keep the update apart until it is complete (" + MiB(need.Staged) +
                   " needed, " + MiB(available) + " free beyond the reserve): files are replaced one at a time";
        case TSpaceVerdict::Refused:
            return "Too little free space for the update: " + MiB(need.OneAtATime) + " needed, " + MiB(available) +
                   " free beyond the reserve; nothing was downloaded";
        case TSpaceVerdict::Staged:
            break;
    }
    return "";
}

TSpaceVerdict PlanSpace(const std::vector<TSpaceItem>& items, bool backups, std::optional<uint64_t> free,
                        uint64_t kept, std::string& notice) {
    if (!free) return TSpaceVerdict::Staged;
    const uint64_t available = *free > kept ? *free - kept : 0;
    const TSpaceNeed need = SpaceNeeded(items, backups);
    const TSpaceVerdict verdict = SpaceVerdict(need, available);
    notice = SpaceNotice(verdict, need, available);
    return verdict;
}

}  // namespace orvex
