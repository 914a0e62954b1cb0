#pragma once
// Releases the current list announces without making them current: a rollout an installation may
// take instead of the current release, a preload staged ahead of its day.
#include "formats/ReleaseAnnouncement.h"
#include "update/ChunkBuilder.h"
#include "update/ListFetch.h"

#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TInstallState;
class TRunReports;
class TServers;
struct TInstallPlace;
struct TRunSettings;

// The unpacked text of a fetched list.
std::string ListText(const TFetchedList& fetched);

// The release's chunk index relative to the server folder.
std::string ReleaseIndexAddress(const std::string& name);

// A new installation number for rollouts, 0 to RolloutScale - 1, at random.
int NewRolloutNumber();

// The release's list, fetched and checked as the current one is (with keys: its signature, key,
// channel, sequence number, expiry and Rev) and against the hash the current list gives; none,
// after a notice saying why, when it cannot be had or is refused.
std::optional<TFetchedList> FetchAnnouncedList(const TReleaseAnnouncement& announcement, const TRunSettings& settings,
                                               const std::string& baseDir, TServers& servers, TRunReports& reports);

struct TPreloadSteps {
    const std::string& BaseDir;
    const TInstallPlace& Place;
    TInstallState& State;
    TRunReports& Reports;
    uint64_t FreeSpaceReserve;
};

// Stages into the preload folder every file of the release's list (fetched) that the installation
// does not hold as listed, built from the chunk store through the release's index (builder), while
// the disk keeps the reserve free; nothing is put in place. The number of files preloaded.
std::size_t PreloadFiles(const TFetchedList& fetched, const std::string& name, TChunkBuilder& builder,
                         const TPreloadSteps& steps);

}  // namespace orvex
