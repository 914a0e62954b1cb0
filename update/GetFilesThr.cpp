#include "update/GetFilesThr.h"

#include "base/Disk.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "formats/BZip2.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"
#include "update/Hosts.h"
#include "update/AnnouncedRelease.h"
#include "update/InstallState.h"
#include "update/Leftovers.h"
#include "update/ListFetch.h"
#include "update/ListedFiles.h"
#include "update/SelfUpdate.h"
#include "update/SignedList.h"
#include "update/SpacePlan.h"
#include "util/Misc.h"
#include "util/OrderedAhead.h"
#include "util/Parallel.h"

#include <algorithm>

namespace orvex {

GFilesThread::GFilesThread(IDispatcher& dispatcher, IProgressView& view, TRunSettings settings)
    : FSettings(std::move(settings)),
      FReports(dispatcher, view),
      FServers(FSettings.UpdatesUrl, FSettings.Mirrors, TransferLimitsOf(FSettings.Limits), FSettings.Limits.Retry),
      FChunks(FServers, FReports, [this](const std::string& name, const std::string& fileName, uint64_t maxBytes) {
          return static_cast<bool>(DownloadFile(name, fileName, false, maxBytes));
      }, FSettings.Limits) {}

GFilesThread::~GFilesThread() = default;

GFilesThread::TFetchSummary GFilesThread::Fetched() const {
    TFetchSummary summary = FFetched;
    summary.Bytes = FServers.BytesDownloaded();
    return summary;
}

unsigned GFilesThread::Threads() const {
    return FSettings.Limits.Threads == 0 ? CoreCount() : FSettings.Limits.Threads;
}

void GFilesThread::SetBaseDir(const std::string& baseDir) {
    FBaseDir = baseDir;
    FPlace = LocalInstallPlace(FBaseDir, FSettings.Launcher.FileName);
    FState = std::make_unique<TInstallState>(FBaseDir);
}

// The launcher's own executable is the launcher's file name; a tool that is not the launcher takes
// the list's self entry for it.
void GFilesThread::SetSelfEntry(const std::string& line) {
    FSelfEntry = line;
    if (FSettings.Launcher.FileName.empty() && FSelfEntry != SFail)
        FPlace = LocalInstallPlace(FBaseDir, SplitListEntry(FSelfEntry).Path);
}

// --- the run ---------------------------------------------------------------------------------------

void GFilesThread::RunUpdate() {
    try {
        FReports.LockButtons();
        try {
            SetBaseDir(os::GetCurrentDir() + os::PathDelim);
            FResult = RunSteps();
        } catch (const ERefusedList&) {
            FResult = TRunResult::Refused;
        } catch (const std::exception&) {
            // Whatever ended the steps, the player gets the buttons back and can still play.
            FResult = TRunResult::Failed;
        }
        FReports.Show(StatusText(FResult));
        FReports.UnlockButtons();
    } catch (...) {
        // The view itself failed; nothing is left to report to.
    }
}

TRunResult GFilesThread::RunSteps() {
    RecoverCommit();
    TFetchedList fetched = FetchUpdateList(FSettings, FBaseDir, FServers, FReports);
    const std::vector<TReleaseAnnouncement> announced = AnnouncementsOf(ListText(fetched));
    if (std::optional<TFetchedList> release = TakeRollout(announced)) fetched = std::move(*release);
    TRunResult result = ApplyFetched(fetched);
    // A copy that does not match its list may be one a publish replaced meanwhile: when the server's
    // list changed since, the run starts over on it, once (staged files it still names are kept).
    if (result == TRunResult::Failed && FCopyMismatch && ListChangedSince(fetched, FSettings, FBaseDir, FServers)) {
        FReports.Notify("The update list changed on the server during the update; it starts again with the new list");
        FFetched = {};
        FPaths = {};
        FIndexAddress = ChunkIndexName;
        FTakenRelease.clear();
        result = ApplyFetched(FetchUpdateList(FSettings, FBaseDir, FServers, FReports));
    }
    FFetchList.clear();
    if (Succeeded(result)) Preload(announced);
    return result;
}

// The first rollout announced, when this installation's number falls within its share (the number
// is made once, when a rollout first asks for it) and its list can be had.
std::optional<TFetchedList> GFilesThread::TakeRollout(const std::vector<TReleaseAnnouncement>& announced) {
    const auto rollout = std::find_if(announced.begin(), announced.end(), [](const TReleaseAnnouncement& a) {
        return a.Kind == TReleaseAnnouncement::TKind::Rollout;
    });
    if (rollout == announced.end()) return std::nullopt;
    if (FSettings.RolloutNumber < 0) {
        FSettings.RolloutNumber = NewRolloutNumber();
        FReports.SaveRolloutNumber(FSettings.RolloutNumber);
    }
    if (!TakesRollout(FSettings.RolloutNumber, rollout->Share)) return std::nullopt;
    std::optional<TFetchedList> release = FetchAnnouncedList(*rollout, FSettings, FBaseDir, FServers, FReports);
    if (!release) return std::nullopt;
    FReports.Notify("This installation takes release " + rollout->Name + ", rolled out to " +
                    std::to_string(rollout->Share) + "% of the installations");
    FIndexAddress = ReleaseIndexAddress(rollout->Name);
    FTakenRelease = rollout->Name;
    return release;
}

// After a run that succeeded: the files of a release announced for preload are staged ahead of its
// day, the player's buttons given back first (the game can be played meanwhile).
void GFilesThread::Preload(const std::vector<TReleaseAnnouncement>& announced) {
    const auto preload = std::find_if(announced.begin(), announced.end(), [](const TReleaseAnnouncement& a) {
        return a.Kind == TReleaseAnnouncement::TKind::Preload;
    });
    if (preload == announced.end() || !FTakenRelease.empty()) {
        FState->DropPreloaded();
        return;
    }
    FState->BeginPreload(preload->ListHash);
    const std::optional<TFetchedList> release = FetchAnnouncedList(*preload, FSettings, FBaseDir, FServers, FReports);
    if (!release) return;
    FReports.UnlockButtons();
    TChunkBuilder builder(FServers, FReports, [this](const std::string& name, const std::string& fileName, uint64_t maxBytes) {
        return static_cast<bool>(DownloadFile(name, fileName, false, maxBytes));
    }, FSettings.Limits);
    const std::size_t preloaded = PreloadFiles(
        *release, preload->Name, builder,
        TPreloadSteps{FBaseDir, FPlace, *FState, FReports, FSettings.Limits.FreeSpaceReserve});
    if (preloaded)
        FReports.Notify("Release " + preload->Name + " preloaded: " + std::to_string(preloaded) +
                        (preloaded == 1 ? " file waits" : " files wait") + " for its day");
}

TRunResult GFilesThread::ApplyFetched(const TFetchedList& fetched) {
    FSigned = fetched.Signed;
    FCopyMismatch = false;
    const std::vector<uint8_t>& bytes = fetched.Text->Bytes();
    TListFile list = TListFile::FromText(LocalListText(std::string(bytes.begin(), bytes.end())));
    return ApplyList(list);
}

// A commit an earlier run left cut short is completed before anything else.
void GFilesThread::RecoverCommit() {
    try {
        if (FState->Recover([this](int32_t revision) { SaveRevision(revision); }))
            FReports.Notify("An update an earlier run left cut short was completed");
        RemoveOwnTemporaries(FBaseDir);
    } catch (const std::exception& error) {
        FReports.Fail(error.what());
        throw;
    }
}

// Acts on the decoded list: trust, leftovers, host entries, the launcher, then the file sets.
TRunResult GFilesThread::ApplyList(TListFile& list) {
    const int32_t rev = StrToInt(list.GetValue(SettingsSection, RevKey));
    if (FSigned) {
        // Keys the list names are trusted from now on, with its sequence number, before anything
        // of the list is acted on.
        const TListTrust trust = AcceptSignedList(*FSigned, list, rev, FSettings.UpdateKey);
        if (!trust.Refusal.empty()) RefuseList(FReports, trust.Refusal);
        FReports.SaveListTrust(trust.UpdateKey, trust.ListSeq);
        if (!trust.Change.empty()) FReports.Notify(trust.Change);
        FSettings.UpdateKey = trust.UpdateKey;
        FSettings.ListSeq = std::to_string(trust.ListSeq);
    }
    FChunks.UseIndex(FBaseDir, list.GetValue(SettingsSection, IndexKey), FIndexAddress);
    RemoveLeftovers(FState->StagingFolder() + os::PathDelim, list);
    if (StrToInt(list.GetValue(SettingsSection, ModHostsKey)) == 1)
        ApplyHosts(
            list.GetSection(HostsSection),
            FSettings.HostsFile.empty() ? HostsFileIn(FSettings.HostsFolder) : FSettings.HostsFile,
            [this](const std::string& status) { FReports.Show(status); },
            [this](const std::string& text) { FReports.Notify(text); },
            [this](const std::string& text) { FReports.Fail(text); });
    SetSelfEntry(list.GetSection(SelfSection).front());
    if (FSelfEntry != SFail) UpdateSelf(FSelfEntry);
    FFetchList.clear();
    CheckFiles(list.GetSection(CriticalSection));
    // A full check cut short is carried on by the next runs until one completes it.
    const bool fullCheck = FSettings.FullCheck || FState->FullCheckOwed();
    if (FSettings.FullCheck) FState->OweFullCheck(true);
    if (fullCheck || FSettings.AtRevision < rev) CheckFiles(list.GetSection(NormalSection));
    // A revision is reached only when every collected file arrived intact.
    TCommit commit;
    if (FSettings.AtRevision < rev) commit.Revision = rev;
    commit.Listed = ListedPaths(list);
    if (StrToIntDef(list.GetValue(SettingsSection, RemoveUnlistedKey), 0) == 1)
        commit.Removed = DroppedFiles(FState->Listed(), commit.Listed, FPlace);
    const TRunResult result = FetchFiles(std::move(commit));
    if (result != TRunResult::Failed && fullCheck) FState->OweFullCheck(false);
    return result;
}

void GFilesThread::SaveRevision(int32_t revision) {
    FSettings.AtRevision = revision;
    FReports.SaveRevision(revision);
}

// --- downloads and unpacking -----------------------------------------------------------------------

TDownloadOutcome GFilesThread::DownloadFile(const std::string& name, const std::string& fileName, bool showProgress,
                                            uint64_t maxBytes, bool resumable) {
    return FServers.FetchToFile(
        name, fileName, maxBytes, resumable, [this](uint64_t position) { FReports.FileBar(position); }, showProgress,
        [this](const std::string& text) { FReports.Notify(text); });
}

// A signed list's copy is as long as the list says, never longer.
TDownloadOutcome GFilesThread::DownloadCopy(const TListEntry& entry, const TServers::TBar& bar,
                                            const TServers::TNotify& notify, const TServers::TRetrying& retrying,
                                            const std::stop_token& stop) {
    return FServers.FetchToFile(entry.CopyRequest(), FState->Staged(entry.Path) + PackedSuffix,
                                entry.MaxCopyBody(FSigned.has_value()), true, bar, true, notify, stop, retrying);
}

void GFilesThread::UnpackFile(const std::string& source, const std::string& target) {
    UnpackBZip2File(source, target, &FReports, FSettings.Limits.FreeSpaceReserve, FSettings.Limits.Threads);
}

void GFilesThread::UpdateSelf(const std::string& line) {
    orvex::UpdateSelf(
        line, {.BaseDir = FBaseDir,
               .StagingFolder = FState->StagingFolder(),
               .Mode = FSettings.SelfUpdate,
               .Launcher = FSettings.Launcher,
               .Download = [this](const TListEntry& entry, const std::string& packed) {
                   return static_cast<bool>(
                       DownloadFile(entry.CopyName(), packed, true, entry.MaxCopyBody(FSigned.has_value()), true));
               },
               .Unpack = [this](const std::string& packed, const std::string& target) { UnpackFile(packed, target); },
               .Notify = [this](const std::string& text) { FReports.Notify(text); }});
}

// --- file sets ---------------------------------------------------------------------------------

void GFilesThread::CheckFiles(const TStringList& entries) {
    if (entries.empty() || entries.front() == SFail) return;
    FReports.Show("Checking files");
    FReports.TotalBarMax(static_cast<int32_t>(entries.size()) - 1);
    // With more than one thread, the entries after the one reported are digested meanwhile, two per
    // thread ahead; each is still reported, and raises, at its own place.
    const unsigned threads = Threads() < 2 ? 0 : Threads();
    TOrderedAhead<std::optional<std::string>> digests(
        entries.size(), threads, 2 * std::size_t{threads},
        [&](std::size_t i, std::stop_token) { return InstalledDigest(FBaseDir, entries[i], FPlace); });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FReports.TotalBar(static_cast<int32_t>(i));
        const TListEntry entry = ReadListEntry(entries[i]);
        FReports.Show("Checking " + entry.Path);
        const bool caseTwin = FPaths.Listed(entry.Path);  // collected, so the fetch pass says why it is left out
        if (digests.Take() != entry.MD5 || caseTwin) {
            StrToInt(entry.Size);
            FFetchList.push_back(entries[i]);
        }
    }
    FReports.TotalBar(0);
    FReports.Show("");
}

TRunResult GFilesThread::FetchFiles(TCommit commit) {
    if (FFetchList.empty()) return FResult = CommitStaged(std::move(commit));
    const TSpaceVerdict space = PlanSpace();
    if (space == TSpaceVerdict::Refused) return FResult = TRunResult::Failed;
    FOneAtATime = space == TSpaceVerdict::OneAtATime;
    FReports.TotalBarMax(static_cast<int32_t>(FFetchList.size()) - 1);
    bool failed = false;
    TPrefetchWindow ahead(Threads(), [this](std::size_t next, const std::vector<std::string>& busy) {
        return Prefetch(next, busy);
    });
    for (std::size_t i = 0; i < FFetchList.size(); ++i) {
        const TListEntry entry = ReadListEntry(FFetchList[i]);
        std::unique_ptr<TPrefetchedCopy> prefetched = ahead.Take(i);
        FetchResult result = FetchResult::Failed;
        if (const auto reason = FPaths.Refused(entry.Path, FPlace)) {
            FReports.Fail(Refusal(entry.Path, *reason));
        } else {
            FReports.Show("Downloading " + entry.Path);
            FReports.FileBarMax(StrToInt(entry.Size));
            result = FetchEntry(entry, std::move(prefetched), [&] { ahead.FillAfter(i, entry.Path); });
            // With too little room to stage every file, each goes in place as soon as it is staged.
            const TCommit one{.Files = {entry.Path}, .Revision = commit.Revision, .Backup = FSettings.CreateBackup == 1,
                              .Removed = {}, .Listed = {}, .Partial = true};
            if (result == FetchResult::Staged && FOneAtATime && !Commit(one)) result = FetchResult::Failed;
        }
        ++(result == FetchResult::Staged ? FFetched.Installed : FFetched.Failed);
        failed = failed || result != FetchResult::Staged;
        // A server that cannot be reached ends the pass.
        if (result == FetchResult::NotOpened) {
            FFetched.NotTried = static_cast<int>(FFetchList.size() - i - 1);
            break;
        }
        FReports.TotalBar(static_cast<int32_t>(i) + 1);
    }
    FReports.TotalBar(0);
    return FResult = failed ? TRunResult::Failed : CommitStaged(std::move(commit));
}

// Every collected file is staged: they go in place together, with the files dropped from the client.
TRunResult GFilesThread::CommitStaged(TCommit commit) {
    for (const std::string& line : FFetchList) commit.Files.push_back(ReadListEntry(line).Path);
    commit.Backup = FSettings.CreateBackup == 1;
    if (!Commit(commit)) return TRunResult::Failed;
    return commit.Files.empty() && commit.Removed.empty() ? TRunResult::NothingToDo : TRunResult::Updated;
}

// A commit that cannot be made (a file in use) says why; the next start completes it.
bool GFilesThread::Commit(const TCommit& commit) {
    try {
        FState->Commit(commit, [this](int32_t revision) { SaveRevision(revision); });
        return true;
    } catch (const std::exception& error) {
        FReports.Fail(error.what());
        return false;
    }
}

// Each copy's size comes from the list; each file's from the chunk index when it holds it, or else
// the larger of its copy and its installed version.
TSpaceVerdict GFilesThread::PlanSpace() {
    std::vector<TSpaceItem> items;
    for (const std::string& line : FFetchList) {
        const TListEntry entry = ReadListEntry(line);
        if (FPaths.Refused(entry.Path, FPlace)) continue;
        const uint64_t copy = entry.CopySize();
        const uint64_t installed = static_cast<uint64_t>(std::max<int64_t>(os::FileSize(JoinPath(FBaseDir, entry.Path)), 0));
        items.push_back({copy, FChunks.FileSize(entry.Path).value_or(std::max(copy, installed)), installed});
    }
    // The unpacking keeps the reserve and room for what it writes before it looks again.
    std::string notice;
    const TSpaceVerdict verdict = orvex::PlanSpace(items, FSettings.CreateBackup == 1, os::FreeSpace(FBaseDir),
                                                   FSettings.Limits.FreeSpaceReserve + FreeSpaceCheckInterval, notice);
    if (notice.empty()) return verdict;
    if (verdict == TSpaceVerdict::Refused)
        FReports.Fail(notice);
    else
        FReports.Notify(notice);
    return verdict;
}

// Downloads and stages one entry: its copy from prefetched when that holds it. copyArrived is
// called once the copy is in, before it unpacks.
GFilesThread::FetchResult GFilesThread::FetchEntry(const TListEntry& entry, std::unique_ptr<TPrefetchedCopy> prefetched,
                                                   const std::function<void()>& copyArrived) {
    const std::string localFile = JoinPath(FBaseDir, entry.Path);
    const std::string staged = FState->Staged(entry.Path);
    if (!prefetched) {
        if (FState->HasStaged(entry.Path, entry.MD5) || FState->TakePreloaded(entry.Path, entry.MD5))
            return FetchResult::Staged;
        MakeFolderOf(staged);
        auto built = FChunks.Build(entry, localFile, staged);
        if (built.NoRoom) return FetchResult::Failed;
        if (built.Built) {
            FFetched.Built.push_back(std::move(*built.Built));
            return FetchResult::Staged;
        }
    }
    const std::string packed = staged + PackedSuffix;
    const TServers::TBar bar = [this](uint64_t position) { FReports.FileBar(position); };
    const TServers::TNotify fail = [this](const std::string& text) { FReports.Fail(text); };
    const TServers::TRetrying retrying = [this](int nextTry, int tries) { FReports.ShowRetry(nextTry, tries); };
    const TDownloadOutcome downloaded =
        prefetched ? prefetched->Follow(FReports) : DownloadCopy(entry, bar, fail, retrying);
    // An answer the server gave (an error status, a body too long) fails this entry.
    if (downloaded.TooLong || downloaded.Refused) {
        FCopyMismatch = true;
        return FetchResult::Failed;
    }
    if (!downloaded) return FetchResult::NotOpened;
    copyArrived();
    FetchResult result = FetchResult::Failed;
    try {
        FReports.Show("Extracting " + entry.Path);
        if (prefetched)
            prefetched->Install(FReports);
        else
            UnpackVerified(packed, staged, entry.MD5, FReports, FSettings.Limits.FreeSpaceReserve,
                           FSettings.Limits.Threads)
                ->CommitOrRaise();
        result = FetchResult::Staged;
    } catch (const std::exception&) {
        // Counted as failed; the pass goes on with the next entry.
        FCopyMismatch = true;
        FReports.Fail(InstallFailure(downloaded.Url));
    }
    RemoveIfPresent(packed);
    return result;
}

// The copy of the entry next, started now when it can download and unpack beside the entries
// being fetched (busy): more than one thread, a whole copy (not built from chunks), a path apart
// from each of theirs. Nothing otherwise; the pass then fetches it in turn.
TPrefetchWindow::TStarted GFilesThread::Prefetch(std::size_t next, const std::vector<std::string>& busy) {
    if (Threads() < 2 || FOneAtATime || next >= FFetchList.size()) return {};
    try {
        const TListEntry entry = ReadListEntry(FFetchList[next]);
        const std::string staged = FState->Staged(entry.Path);
        if (FPaths.Refused(entry.Path, FPlace) || FChunks.Holds(entry.Path) || os::FileExists(staged) ||
            os::FileExists(FState->Preloaded(entry.Path)))
            return {};
        for (const std::string& path : busy)
            if (!Apart(entry.Path, path)) return {};
        StrToInt(entry.Size);  // a size that is not a number stops the pass at its entry, in turn
        MakeFolderOf(staged);
        const std::string packed = staged + PackedSuffix;
        auto download = [this, entry](TRecordedReports& reports, std::stop_token stop) {
            return DownloadCopy(
                entry, [&reports](uint64_t position) { reports.FileBar(position); },
                [&reports](const std::string& text) { reports.Fail(text); },
                [&reports](int nextTry, int tries) { reports.ShowRetry(nextTry, tries); }, stop);
        };
        auto unpack = [this, packed, staged, md5 = entry.MD5](IUnpackObserver& observer) {
            return UnpackVerified(packed, staged, md5, observer, FSettings.Limits.FreeSpaceReserve,
                                  FSettings.Limits.Threads);
        };
        return {entry.Path, std::make_unique<TPrefetchedCopy>(packed, download, unpack)};
    } catch (const std::exception&) {
        return {};  // whatever it is, the pass meets it at that entry
    }
}

}  // namespace orvex
