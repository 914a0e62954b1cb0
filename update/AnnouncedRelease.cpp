#include "update/AnnouncedRelease.h"

#include "base/Disk.h"
#include "base/Os.h"
#include "base/Path.h"
#include "formats/LstFile.h"
#include "formats/Sha256.h"
#include "formats/UpdateList.h"
#include "update/InstallState.h"
#include "update/ListedFiles.h"
#include "update/RunReports.h"
#include "update/RunSettings.h"
#include "update/SignedList.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>

namespace orvex {

std::string ListText(const TFetchedList& fetched) {
    const std::vector<uint8_t>& bytes = fetched.Text->Bytes();
    return std::string(bytes.begin(), bytes.end());
}

std::string ReleaseIndexAddress(const std::string& name) {
    return std::string(ReleasesFolder) + "/" + name + "/" + ChunkIndexName;
}

// Seeded from the clock and this process's addresses rather than std::random_device, which would
// bring the C++ locale machinery into the launcher; a rollout needs spread, not secrecy.
int NewRolloutNumber() {
    static std::atomic<uint64_t> drawn{0};
    const int local = 0;
    std::seed_seq seed{static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()),
                       static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(&local)), ++drawn};
    std::mt19937 generator(seed);
    return std::uniform_int_distribution<int>(0, RolloutScale - 1)(generator);
}

std::optional<TFetchedList> FetchAnnouncedList(const TReleaseAnnouncement& announcement, const TRunSettings& settings,
                                               const std::string& baseDir, TServers& servers, TRunReports& reports) {
    const std::string what = "The list of release " + announcement.Name;
    try {
        TFetchedList fetched =
            FetchUpdateList(settings, baseDir, servers, reports, ReleaseListAddress(announcement.Name), what);
        if (Sha256Hex(fetched.Packed.data(), fetched.Packed.size()) != announcement.ListHash)
            RefuseList(reports, "it is not the list the update list names", what, false);
        if (fetched.Signed) {
            TListFile list(*fetched.Text);
            const int32_t rev = StrToInt(list.GetValue(SettingsSection, RevKey));
            const TListTrust trust = AcceptSignedList(*fetched.Signed, list, rev, settings.UpdateKey);
            if (!trust.Refusal.empty()) RefuseList(reports, trust.Refusal, what, false);
        }
        return fetched;
    } catch (const ERefusedList&) {
        return std::nullopt;  // the player was told why
    } catch (const std::exception& error) {
        reports.Notify(what + " could not be had (" + error.what() + ")");
        return std::nullopt;
    }
}

std::size_t PreloadFiles(const TFetchedList& fetched, const std::string& name, TChunkBuilder& builder,
                         const TPreloadSteps& steps) {
    TListFile list(*fetched.Text);
    builder.UseIndex(steps.BaseDir, list.GetValue(SettingsSection, IndexKey), ReleaseIndexAddress(name));
    std::vector<TListEntry> wanted;
    TListedPathRule paths;
    for (const char* section : {CriticalSection, NormalSection})
        for (const std::string& line : list.GetSection(section)) {
            if (line == SFail) continue;
            const TListEntry entry = SplitListEntry(line);
            if (entry.FieldCount < 3 || paths.Listed(entry.Path) || paths.Refused(entry.Path, steps.Place)) continue;
            if (InstalledDigest(steps.BaseDir, line, steps.Place) == entry.MD5) continue;
            if (steps.State.HasPreloaded(entry.Path, entry.MD5)) continue;
            wanted.push_back(entry);
        }
    if (wanted.empty()) return 0;
    steps.Reports.TotalBarMax(static_cast<int32_t>(wanted.size()) - 1);
    std::size_t preloaded = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const TListEntry& entry = wanted[i];
        steps.Reports.TotalBar(static_cast<int32_t>(i));
        const std::optional<uint64_t> size = builder.FileSize(entry.Path);
        if (!size) continue;  // not in the index: fetched on the release's day
        if (const auto free = os::FreeSpace(steps.BaseDir); free && *free < steps.FreeSpaceReserve + *size) {
            steps.Reports.Notify("The preload of release " + name + " stopped: the disk keeps too little free space");
            break;
        }
        steps.Reports.Show("Downloading " + entry.Path);
        const std::string target = steps.State.Preloaded(entry.Path);
        MakeFolderOf(target);
        if (builder.Build(entry, JoinPath(steps.BaseDir, entry.Path), target).Built) ++preloaded;
    }
    steps.Reports.TotalBar(0);
    return preloaded;
}

}  // namespace orvex
