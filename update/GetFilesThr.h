#pragma once
// One update run: fetch the update list (with its signature when keys are set, checked first),
// apply its host entries, replace the launcher when the list names a new one, compare the file
// sets, fetch what differs, record the revision reached.
#include "base/Path.h"
#include "base/Text.h"
#include "formats/ReleaseAnnouncement.h"
#include "update/ChunkBuilder.h"
#include "update/Download.h"
#include "update/InstallState.h"
#include "update/ListedFiles.h"
#include "update/PrefetchedCopy.h"
#include "update/RunReports.h"
#include "update/RunResult.h"
#include "update/RunSettings.h"
#include "update/Servers.h"
#include "update/SignedList.h"
#include "update/SpacePlan.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TFetchedList;

class IDispatcher;
class IProgressView;
class TListFile;
class TStream;

class GFilesThread final {
public:
    // Created suspended: Resume() or call RunUpdate() directly.
    GFilesThread(IDispatcher& dispatcher, IProgressView& view, TRunSettings settings = {});
    ~GFilesThread();
    GFilesThread(const GFilesThread&) = delete;
    GFilesThread& operator=(const GFilesThread&) = delete;

    // Starts the run on its own detached thread; the object frees itself when the run ends.
    // Refused (false; the object is freed) while another run exists in this process.
    static bool Resume(std::unique_ptr<GFilesThread> thread);
    // True while a started run has not ended.
    static bool RunExists();

    // The thread body.
    void RunUpdate();

    // How the run (or the fetch pass alone) ended, and the status line that ends it.
    TRunResult Result() const { return FResult; }
    std::string Status() const { return StatusText(FResult); }

    // What the run fetched: copies installed and failed, and every byte downloaded (the list and
    // all tries included).
    struct TFetchSummary {
        int Installed = 0;
        int Failed = 0;
        int NotTried = 0;  // left when a server that could not be reached ended the pass
        uint64_t Bytes = 0;
        // Each file built from the chunk store.
        using TBuilt = TChunkBuilder::TBuilt;
        std::vector<TBuilt> Built;
    };
    TFetchSummary Fetched() const;

    // Steps of the run, public for the tests.
    // Downloads name (relative to the server folder) from the first server that has it, trying
    // again after a wait while failures are passing. maxBytes: the longest body taken; a longer one
    // fails the download. resumable: what arrived before a transfer broke is kept and continued by
    // the next try, in this run or a later one (DownloadToFile).
    TDownloadOutcome DownloadFile(const std::string& name, const std::string& fileName, bool showProgress,
                                  uint64_t maxBytes = MaxUnsizedBody, bool resumable = false);
    void UnpackFile(const std::string& source, const std::string& target);
    void CheckFiles(const TStringList& entries);
    // Stages every collected file, then commits them together with what commit holds (the
    // revision reached, the files to remove): Updated, Failed (nothing committed), or NothingToDo
    // when nothing was collected or removed.
    TRunResult FetchFiles(TCommit commit = {});
    void UpdateSelf(const std::string& line);
    const TStringList& FetchList() const { return FFetchList; }
    void SetBaseDir(const std::string& baseDir);

private:
    TRunResult RunSteps();
    TRunResult ApplyFetched(const TFetchedList& fetched);
    std::optional<TFetchedList> TakeRollout(const std::vector<TReleaseAnnouncement>& announced);
    void Preload(const std::vector<TReleaseAnnouncement>& announced);
    TRunResult ApplyList(TListFile& list);
    // A list entry's copy, on any thread; bar hears the file bar's positions, notify why it failed,
    // retrying each wait before another try.
    TDownloadOutcome DownloadCopy(const TListEntry& entry, const TServers::TBar& bar, const TServers::TNotify& notify,
                                  const TServers::TRetrying& retrying, const std::stop_token& stop = {});
    unsigned Threads() const;
    enum class FetchResult { NotOpened, Staged, Failed };
    FetchResult FetchEntry(const TListEntry& entry, std::unique_ptr<TPrefetchedCopy> prefetched,
                           const std::function<void()>& copyArrived);
    TPrefetchWindow::TStarted Prefetch(std::size_t next, const std::vector<std::string>& busy);
    void RecoverCommit();
    TRunResult CommitStaged(TCommit commit);
    bool Commit(const TCommit& commit);
    TSpaceVerdict PlanSpace();
    void SaveRevision(int32_t revision);
    void SetSelfEntry(const std::string& line);

    TRunSettings FSettings;
    TRunReports FReports;
    TServers FServers;
    TChunkBuilder FChunks;
    TRunResult FResult = TRunResult::NothingToDo;
    TStringList FFetchList;
    std::string FSelfEntry;
    std::string FBaseDir;
    TInstallPlace FPlace;  // the folder's place, its launcher named once the self entry is known
    TListedPathRule FPaths;  // the entries compared so far
    std::unique_ptr<TInstallState> FState;  // the updater's folder in FBaseDir
    bool FOneAtATime = false;               // too little room to stage every file
    bool FCopyMismatch = false;             // a copy was missing or did not match the list
    TFetchSummary FFetched;
    // The list's signature (trusted comment and signing key), once checked; none for an unsigned list.
    std::optional<TListSignature> FSigned;
    std::string FIndexAddress = ChunkIndexName;  // of the list the run applies
    std::string FTakenRelease;                   // the rollout this run takes; empty: the current release
};

}  // namespace orvex
