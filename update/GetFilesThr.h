#pragma once
// One update run: fetch the update list (with its signature when keys are set, checked first),
// apply its host entries, replace the launcher when the list names a new one, compare the file
// sets, fetch what differs, record the revision reached.
#include "base/Text.h"
#include "formats/ChunkIndex.h"
#include "formats/Minisign.h"
#include "formats/Unpack.h"
#include "update/Download.h"
#include "update/Limits.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace orvex {

class IDispatcher;
class IProgressView;
class TStream;
struct TListEntry;
class TListFile;
class TPrefetchedCopy;

inline constexpr const char* SUpdateFailed = "Update Failed";
inline constexpr const char* SAllFilesUpdated = "All the files have been updated";

// How a differing launcher executable is put in place.
enum class SelfUpdateMode {
    BatchFile,        // the launcher: Update.bat ends this process and swaps the executable
    ReplaceDirectly,  // a tool that is not the running executable: rename the verified new file over it
};

// The launcher a run works for: its executable's file name (ANSI code page; "" when not known) and
// its process, the one Update.bat ends (0 when not known).
struct TLauncherProcess {
    std::string FileName;
    uint32_t ProcessId = 0;
};

class GFilesThread final : private IUnpackObserver {
public:
    // Created suspended: set the inputs, then Resume() or call RunUpdate() directly.
    GFilesThread(IDispatcher& dispatcher, IProgressView& view);
    ~GFilesThread() override = default;
    GFilesThread(const GFilesThread&) = delete;
    GFilesThread& operator=(const GFilesThread&) = delete;

    // Starts the run on its own detached thread; the object frees itself when the run ends.
    // Refused (false; the object is freed) while another run exists in this process.
    static bool Resume(std::unique_ptr<GFilesThread> thread);
    // True while a started run has not ended.
    static bool RunExists();

    // The thread body.
    void RunUpdate();

    // Inputs.
    std::string FUpdatesUrl;
    // Further base addresses of the same server folder, separated by spaces: each download goes
    // to them in turn when the ones before fail.
    std::string FMirrors;
    int32_t FCreateBackup = 0;
    int32_t FAtRevision = 0;
    bool FFullCheck = false;
    // The settings' UpdateKey and ListSeq. With keys, a list counts only when its signature
    // (files.lst.bz2.minisig) is by one of them, is not older than ListSeq, has not expired and
    // names the list's revision; without, lists are taken unsigned.
    std::string FUpdateKey;
    std::string FListSeq;
    // Folder of the hosts file (hosts.msn, else hosts); defaults to the system's where the launcher
    // edits it. With neither this nor HostsFile, host entries are not applied and the view hears so.
    std::string HostsFolder;
    // The hosts file to edit, exactly as named; takes the place of HostsFolder when set.
    std::string HostsFile;
    SelfUpdateMode SelfUpdate = SelfUpdateMode::BatchFile;
    // The batch-file self-update takes only a self entry of the launcher's name; without a name,
    // file entries are kept off the self entry's name instead.
    TLauncherProcess Launcher;
    // When the run gives up on a server or a copy (README, "Limits").
    TRunLimits Limits;

    // The last status shown (the final status line once the run has ended).
    const std::string& Status() const { return FStatus; }

    // What the run fetched: copies installed and failed, and every byte downloaded (the list and
    // all tries included).
    struct TFetchSummary {
        int Installed = 0;
        int Failed = 0;
        uint64_t Bytes = 0;
        // Each file built from the chunk store: the bytes its previous version gave, those
        // downloaded, and the size of the whole copy that was not needed.
        struct TBuilt {
            std::string Path;
            uint64_t Reused = 0;
            uint64_t Downloaded = 0;
            uint64_t WholeCopy = 0;
        };
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
    void FetchFiles();
    void UpdateSelf(const std::string& entry);
    const TStringList& FetchList() const { return FFetchList; }
    void SetBaseDir(const std::string& baseDir) { FBaseDir = baseDir; }

private:
    // The progress sink: hands the run's fields to the view on the user-interface thread. The status
    // and the bars are posted with their values; the rest waits until the view has taken it.
    void ShowStatus();
    void SetGaugeMax();
    void SetFileProgress();
    void ShowFileBar(uint64_t position);
    void SetTotalProgress();
    void SaveRevision();
    void SaveListTrust(const std::string& updateKey, uint64_t listSeq);
    void LockButtons();
    void UnlockButtons();
    void Show(const std::string& status);
    void Notify(const std::string& text);

    void UnpackStarted(uint64_t packedSize) override;
    void UnpackProgress(uint64_t packedDone) override;
    void UnpackFinished() override;

    void RunSteps();
    using TBar = std::function<void(uint64_t position)>;
    // One try at url; bar hears the body's bytes at each read. Ends at a read once stop is requested.
    TDownloadOutcome DownloadOnce(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                  bool resumable, const TBar& bar, const std::stop_token& stop = {});
    // DownloadFile's rounds and tries, on any thread: what the player is to hear goes to notices.
    using TTry = std::function<TDownloadOutcome(const std::string& url)>;
    TDownloadOutcome Retried(const std::string& name, const TTry& once, TStringList& notices,
                             const std::stop_token& stop = {});
    // A list entry's copy, on any thread; bar hears the file bar's positions.
    TDownloadOutcome DownloadCopy(const TListEntry& entry, const TBar& bar, TStringList& notices,
                                  const std::stop_token& stop = {});
    std::vector<std::string> Servers() const;
    unsigned Threads() const;
    enum class FetchResult { NotOpened, Installed, Failed };
    FetchResult FetchEntry(const TListEntry& entry, std::unique_ptr<TPrefetchedCopy> prefetched,
                           const std::function<void()>& copyArrived);
    std::unique_ptr<TPrefetchedCopy> Prefetch(const std::vector<std::string>& busy, std::size_t next);
    void LoadIndex();
    bool FetchThroughChunks(const TListEntry& entry, const std::string& localFile);
    void UnpackList(const std::vector<uint8_t>& packed, TStream& text);
    std::vector<uint8_t> DownloadList(const std::string& packedList);
    std::vector<uint8_t> FetchSignedList(const std::string& packedList,
                                         const std::vector<minisign::TPublicKey>& trustedKeys);
    void AcceptSignedList(TListFile& list, int32_t rev);
    [[noreturn]] void Refuse(const std::string& why);
    void InstallVerified(const std::string& packed, const std::string& target, const std::string& md5);

    IDispatcher& FDispatcher;
    IProgressView& FView;

    int32_t FGaugeValue = 0;
    std::string FStatus;
    TStringList FFetchList;
    int32_t FGauge = 0;
    std::string FSelfEntry;
    std::string FBaseDir;
    bool FFetchFailed = false;
    TFetchSummary FFetched;
    std::atomic<uint64_t> FBytes{0};  // FFetched.Bytes, counted by every download thread
    // Servers that did not answer during this run: later downloads try them last.
    mutable std::mutex FServersLock;
    std::vector<std::string> FDeadServers;
    // The chunk index the list names (Index): fetched when the first copy is needed, checked
    // against the list; none when the list names none or it cannot be used.
    std::string FIndexHash;
    bool FIndexLoaded = false;
    std::optional<TChunkIndex> FIndex;
    std::map<std::string, std::size_t> FIndexFiles;  // list path -> its place in FIndex
    // The trusted comment of the list's signature, once checked; none for an unsigned list.
    std::optional<minisign::TTrustedFields> FSigned;
};

}  // namespace orvex
