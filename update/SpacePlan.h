#pragma once
// Whether an update fits the disk, worked out before its first byte is fetched: every file staged
// beside the installed ones until the commit, or one file replaced at a time, or not at all.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// One file to fetch: its download, the file it gives and the installed version it replaces.
struct TSpaceItem {
    uint64_t Copy = 0;
    uint64_t File = 0;
    uint64_t Installed = 0;
};

struct TSpaceNeed {
    uint64_t Staged = 0;      // every file staged, the largest download beside them
    uint64_t OneAtATime = 0;  // what the files replaced so far grew by, the largest with its download
};

// backups: each replaced version is kept in the backup folder.
TSpaceNeed SpaceNeeded(const std::vector<TSpaceItem>& items, bool backups);

enum class TSpaceVerdict { Staged, OneAtATime, Refused };

// available: the volume's free space beyond the reserve the run keeps.
TSpaceVerdict SpaceVerdict(const TSpaceNeed& need, uint64_t available);

// The notice that says why a run does not stage (nothing for Staged).
std::string SpaceNotice(TSpaceVerdict verdict, const TSpaceNeed& need, uint64_t available);

// The verdict for items on a volume with free bytes free (none: the volume cannot say, and the run
// stages), of which kept stay untouched. notice: why the run does not stage, or "".
TSpaceVerdict PlanSpace(const std::vector<TSpaceItem>& items, bool backups, std::optional<uint64_t> free,
                        uint64_t kept, std::string& notice);

}  // namespace orvex
