#include "update/GetFilesThr.h"

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "formats/BZip2.h"
#include "formats/Sha256.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"
#include "formats/md5.h"
#include "update/BackgroundDownload.h"
#include "update/ChunkedCopy.h"
#include "update/Dispatcher.h"
#include "update/Download.h"
#include "update/Hosts.h"
#include "update/Leftovers.h"
#include "update/ProgressView.h"
#include "util/Backup.h"
#include "util/Misc.h"
#include "util/OrderedAhead.h"
#include "util/Parallel.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <sstream>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

namespace orvex {

namespace {

// Runs started and not yet ended; at most one at a time.
std::atomic<int> gRunsAlive{0};

int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

std::string FileMD5Hex(const std::string& fileName) { return DigestToHex(FileMD5(fileName)); }

std::string FolderOf(const std::string& path) {
    const auto delim = path.find_last_of(os::PathDelim);
    return delim == std::string::npos ? std::string() : path.substr(0, delim);
}

// Removes a download or a partial file of the run. One that cannot be removed stays harmless: the
// next run downloads or unpacks it afresh over it.
void RemoveIfPresent(const std::string& name) {
    if (os::FileExists(name)) static_cast<void>(os::DeleteFile(name));
}

// Removes a file of the run on the way out, e.g. the downloaded list once it has been read.
class RemovedOnExit {
public:
    explicit RemovedOnExit(std::string name) : FName(std::move(name)) {}
    ~RemovedOnExit() { RemoveIfPresent(FName); }
    RemovedOnExit(const RemovedOnExit&) = delete;
    RemovedOnExit& operator=(const RemovedOnExit&) = delete;

private:
    std::string FName;
};

// The installation the run writes into. The launcher's own executable is the launcher's file
// name; a tool that is not the launcher takes the list's self entry for it.
TInstallPlace RunPlace(const std::string& baseDir, const std::string& launcherName, const std::string& selfLine) {
    std::string ownName = launcherName;
    if (ownName.empty() && !selfLine.empty() && selfLine != SFail) ownName = SplitListEntry(selfLine).Path;
    return LocalInstallPlace(baseDir, ownName);
}

// A hostile list may name megabytes: the notice shows the beginning and the length.
std::string Refusal(const std::string& path, const std::string& reason) {
    constexpr std::size_t Shown = 300;
    const std::string name = path.size() <= Shown
                                 ? path
                                 : path.substr(0, Shown) + "... (" + std::to_string(path.size()) + " characters)";
    return "\"" + name + "\" " + reason + ": left out";
}

// A signature file is a few hundred bytes; anything near this is not one.
constexpr uint64_t MaxSignatureBytes = 16 * 1024;

std::vector<uint8_t> ReadFileBytes(const std::string& name) {
    TFileStream file(name, FileMode::OpenRead);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(file.GetSize()));
    if (!bytes.empty()) file.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<uint64_t> ParseCount(const std::string& text) {
    if (text.empty()) return uint64_t{0};
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

uint64_t UnixNow() {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

bool SameKey(const minisign::TPublicKey& a, const minisign::TPublicKey& b) {
    return a.KeyId == b.KeyId && a.Key == b.Key;
}

std::string VerdictText(minisign::TVerdict verdict) {
    switch (verdict) {
        case minisign::TVerdict::Ok: return "good";
        case minisign::TVerdict::Malformed: return "missing or not a minisign signature";
        case minisign::TVerdict::KeyNotTrusted: return "made with a key not in UpdateKey";
        case minisign::TVerdict::SignatureWrong: return "not a signature of this list";
        case minisign::TVerdict::TrustedCommentWrong: return "over another trusted comment";
    }
    return "refused";
}

// Thrown from a read of a download whose stop was requested: the transfer ends there.
struct TStopped {};

// A path as Windows may take it: delimiters alike, ASCII letters folded, and every other letter
// alike too, since the system folds those as well.
std::string FoldedPath(const std::string& path) {
    std::string folded = path;
    for (char& c : folded) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/') c = '\\';
        else if (u >= 0x80) c = '?';
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// Whether two listed files may be fetched at once: neither names the other, its copy or a file in
// it (the same file named twice, "a" and "a.bz2", "a" and "a\\b").
bool Apart(const std::string& a, const std::string& b) {
    const std::string x = FoldedPath(a), y = FoldedPath(b);
    return x.compare(0, y.size(), y) != 0 && y.compare(0, x.size(), x) != 0;
}

// Chunks asked for at once, and how many may wait to be written.
constexpr unsigned ChunksInFlight = 4;
constexpr std::size_t ChunksAhead = 8;

// Unpacks packed beside target and checks the file against md5; putting it in place is the caller's.
std::unique_ptr<TTempFile> UnpackVerified(const std::string& packed, const std::string& target, const std::string& md5,
                                          IUnpackObserver& observer, uint64_t freeSpaceReserve, unsigned threads) {
    auto unpacked = std::make_unique<TTempFile>(target);
    UnpackBZip2File(packed, unpacked->Name(), &observer, freeSpaceReserve, threads);
    if (FileMD5Hex(unpacked->Name()) != md5) throw Exception("the unpacked file does not match the update list");
    return unpacked;
}

// What an unpacking reported, kept to be shown later; it ends the unpacking once stop is requested.
class TUnpackRecorder final : public IUnpackObserver {
public:
    explicit TUnpackRecorder(std::stop_token stop) : FStop(std::move(stop)) {}
    void UnpackStarted(uint64_t packedSize) override { Record(Started, packedSize); }
    void UnpackProgress(uint64_t packedDone) override { Record(Progress, packedDone); }
    void UnpackFinished() override { FReports.push_back({Finished, 0}); }

    void ShowTo(IUnpackObserver& observer) const {
        for (const auto& [kind, value] : FReports) {
            if (kind == Started) observer.UnpackStarted(value);
            else if (kind == Progress) observer.UnpackProgress(value);
            else observer.UnpackFinished();
        }
    }

private:
    enum Kind { Started, Progress, Finished };
    void Record(Kind kind, uint64_t value) {
        if (FStop.stop_requested()) throw TStopped{};
        FReports.push_back({kind, value});
    }
    std::stop_token FStop;
    std::vector<std::pair<Kind, uint64_t>> FReports;
};

}  // namespace

// The next entry's copy, downloading and then unpacking beside its file on a thread of its own
// while the current entry unpacks. The pass follows it when it reaches the entry, and is shown
// what it reported as if it had waited for each step; only then is the file put in place. When
// the pass ends before that, it is stopped and what it fetched goes: the run leaves what a pass
// fetching one copy after the other would.
class TPrefetchedCopy {
public:
    using TUnpack = std::function<std::unique_ptr<TTempFile>(IUnpackObserver& observer)>;

    TPrefetchedCopy(std::string packed, TBackgroundDownload::TWork work, TUnpack unpack)
        : FPacked(std::move(packed)),
          FDownload(std::make_unique<TBackgroundDownload>(
              std::move(work), [this, unpack = std::move(unpack)](const TDownloadOutcome& outcome, std::stop_token stop) {
                  UnpackAhead(unpack, outcome, std::move(stop));
              })) {}
    ~TPrefetchedCopy() {
        FDownload.reset();
        FUnpacked.reset();  // a file not put in place goes
        if (FFollowed) return;
        RemoveIfPresent(FPacked);
        DiscardPartialCopy(FPacked);
    }
    TPrefetchedCopy(const TPrefetchedCopy&) = delete;
    TPrefetchedCopy& operator=(const TPrefetchedCopy&) = delete;

    TDownloadOutcome Follow(const TBackgroundDownload::TBar& bar, const std::function<void(const std::string&)>& notify) {
        FFollowed = true;
        return FDownload->Follow(bar, notify);
    }

    // After Follow gave a copy: shows observer the unpacking's reports, then puts the file in
    // place or raises what the unpacking raised.
    void Install(IUnpackObserver& observer) {
        FDownload->WaitForThen();
        if (FRecorder) FRecorder->ShowTo(observer);
        if (FError) std::rethrow_exception(FError);
        if (!FUnpacked) throw Exception("the copy was not unpacked");
        FUnpacked->CommitOrRaise();
    }

private:
    void UnpackAhead(const TUnpack& unpack, const TDownloadOutcome& outcome, std::stop_token stop) {
        if (!outcome || outcome.TooLong || outcome.Refused) return;
        FRecorder.emplace(std::move(stop));
        try {
            FUnpacked = unpack(*FRecorder);
        } catch (...) {
            FError = std::current_exception();
        }
    }

    std::string FPacked;
    // Written by the download's thread before its step ends, read by the pass after WaitForThen.
    std::optional<TUnpackRecorder> FRecorder;
    std::unique_ptr<TTempFile> FUnpacked;
    std::exception_ptr FError;
    std::unique_ptr<TBackgroundDownload> FDownload;  // last: its thread uses the members above
    bool FFollowed = false;
};

GFilesThread::GFilesThread(IDispatcher& dispatcher, IProgressView& view)
    : HostsFolder(DefaultHostsFolder()), FDispatcher(dispatcher), FView(view) {}

bool GFilesThread::Resume(std::unique_ptr<GFilesThread> thread) {
    int none = 0;
    if (!gRunsAlive.compare_exchange_strong(none, 1)) return false;
    try {
        std::thread([run = std::move(thread)]() mutable {
            run->RunUpdate();
            run.reset();
            gRunsAlive.store(0);
        }).detach();
    } catch (...) {
        gRunsAlive.store(0);
        throw;
    }
    return true;
}

bool GFilesThread::RunExists() { return gRunsAlive.load() != 0; }

GFilesThread::TFetchSummary GFilesThread::Fetched() const {
    TFetchSummary summary = FFetched;
    summary.Bytes = FBytes.load();
    return summary;
}

unsigned GFilesThread::Threads() const { return Limits.Threads == 0 ? CoreCount() : Limits.Threads; }

// --- the progress sink -----------------------------------------------------------------------

void GFilesThread::ShowStatus() {
    FDispatcher.Post([&view = FView, status = FStatus] { view.ShowStatus(status); });
}
void GFilesThread::SetGaugeMax() {
    FDispatcher.Post([&view = FView, gauge = FGauge, value = FGaugeValue] { view.SetGaugeMax(gauge, value); });
}
void GFilesThread::SetFileProgress() {
    FDispatcher.Post([&view = FView, value = FGaugeValue] { view.SetFileProgress(value); });
}
void GFilesThread::ShowFileBar(uint64_t position) {
    // Beyond 2 GiB the 32-bit position wraps instead of overflowing.
    FGaugeValue = Low32(static_cast<int64_t>(position));
    SetFileProgress();
}
void GFilesThread::SetTotalProgress() {
    FDispatcher.Post([&view = FView, value = FGaugeValue] { view.SetTotalProgress(value); });
}
void GFilesThread::SaveRevision() {
    FDispatcher.Invoke([this] { FView.SaveRevision(IntToStr(FAtRevision)); });
}
void GFilesThread::SaveListTrust(const std::string& updateKey, uint64_t listSeq) {
    const std::string seq = std::to_string(listSeq);
    FDispatcher.Invoke([this, &updateKey, &seq] { FView.SaveListTrust(updateKey, seq); });
}
void GFilesThread::LockButtons() {
    FDispatcher.Invoke([this] { FView.LockButtons(); });
}
void GFilesThread::UnlockButtons() {
    FDispatcher.Invoke([this] { FView.UnlockButtons(); });
}
void GFilesThread::Notify(const std::string& text) {
    FDispatcher.Invoke([this, &text] { FView.Notice(text); });
}
void GFilesThread::Show(const std::string& status) {
    FStatus = status;
    ShowStatus();
}

// --- download and unpacking ----------------------------------------------------------------------

TDownloadOutcome GFilesThread::DownloadOnce(const std::string& url, const std::string& fileName, uint64_t maxBytes,
                                            bool resumable, const TBar& bar, const std::stop_token& stop) {
    const TReadReport onRead = [&](uint64_t bodyBytes, uint32_t received) {
        if (stop.stop_requested()) throw TStopped{};
        FBytes += received;
        bar(bodyBytes);
    };
    return DownloadToFile(url, fileName, maxBytes, Limits.Transfer, onRead, resumable);
}

// The servers in the order to ask them: UpdatesUrl and the mirrors as the settings give them, those
// that did not answer earlier in the run last.
std::vector<std::string> GFilesThread::Servers() const {
    std::vector<std::string> servers{FUpdatesUrl};
    std::istringstream mirrors(FMirrors);
    for (std::string mirror; mirrors >> mirror;) servers.push_back(mirror.back() == '/' ? mirror : mirror + '/');
    const std::lock_guard<std::mutex> lock(FServersLock);
    std::stable_partition(servers.begin(), servers.end(), [this](const std::string& server) {
        return std::find(FDeadServers.begin(), FDeadServers.end(), server) == FDeadServers.end();
    });
    return servers;
}

// Each round asks every server in turn; a round that ended in passing failures only is tried again
// after a wait. A round that brought a partial copy a good deal further does not count against the
// tries, so a link that breaks every few megabytes still delivers a large copy. The last round's
// failures are told with their addresses and how often they were tried.
TDownloadOutcome GFilesThread::Retried(const std::string& name, const TTry& once, TStringList& notices,
                                       const std::stop_token& stop) {
    constexpr uint64_t Progress = 64 * 1024;
    for (int tries = 1, failedRounds = 0;; ++tries) {
        // What the round ends with: a server's answer (an error status, a body too long) rather
        // than a server that could not be reached, so a copy one server lacks fails only its entry.
        TDownloadOutcome result;
        bool answered = false, passing = true, progressed = false;
        TStringList failures;
        for (const std::string& server : Servers()) {
            if (stop.stop_requested()) throw TStopped{};
            const TDownloadOutcome outcome = once(server + name);
            if (outcome) return outcome;
            failures.push_back(server + name + ": " + outcome.Reason);
            passing = passing && outcome.Transient;
            progressed = progressed || outcome.KeptBytes >= Progress;
            if (!answered) result = outcome;
            answered = answered || outcome.Refused || outcome.TooLong;
            const std::lock_guard<std::mutex> lock(FServersLock);
            if (outcome.Status == 0 && outcome.Transient &&
                std::find(FDeadServers.begin(), FDeadServers.end(), server) == FDeadServers.end())
                FDeadServers.push_back(server);
        }
        result.Transient = passing;
        failedRounds = progressed ? 0 : failedRounds + 1;
        const auto wait = RetryWait(result, std::max(failedRounds, 1), Limits.Retry);
        if (!wait) {
            for (const std::string& failure : failures)
                notices.push_back(failure + (tries > 1 ? ", given up after " + std::to_string(tries) + " tries" : ", not retried"));
            return result;
        }
        std::mutex sleeping;
        std::unique_lock<std::mutex> lock(sleeping);
        if (std::condition_variable_any().wait_for(lock, stop, *wait, [] { return false; }) || stop.stop_requested())
            throw TStopped{};
    }
}

TDownloadOutcome GFilesThread::DownloadFile(const std::string& name, const std::string& fileName, bool showProgress,
                                            uint64_t maxBytes, bool resumable) {
    const TBar bar = [this](uint64_t position) { ShowFileBar(position); };
    const TBar quiet = [](uint64_t) {};
    TStringList notices;
    const TDownloadOutcome outcome = Retried(
        name,
        [&](const std::string& url) {
            FGaugeValue = 0;
            const TDownloadOutcome tried = DownloadOnce(url, fileName, maxBytes, resumable, showProgress ? bar : quiet);
            bar(0);
            return tried;
        },
        notices);
    for (const std::string& notice : notices) Notify(notice);
    return outcome;
}

// As DownloadFile with progress does for the copy, wherever bar leads.
TDownloadOutcome GFilesThread::DownloadCopy(const TListEntry& entry, const TBar& bar, TStringList& notices,
                                            const std::stop_token& stop) {
    const std::string packed = JoinPath(FBaseDir, entry.Path) + PackedSuffix;
    // The copy is as long as the list says, never longer.
    const uint64_t copySize = static_cast<uint64_t>(std::max<int32_t>(0, StrToInt(entry.Size)));
    return Retried(
        entry.CopyAddress(),
        [&](const std::string& url) {
            const TDownloadOutcome tried = DownloadOnce(url, packed, copySize, true, bar, stop);
            bar(0);
            return tried;
        },
        notices, stop);
}

void GFilesThread::UnpackFile(const std::string& source, const std::string& target) {
    UnpackBZip2File(source, target, this, Limits.FreeSpaceReserve, Limits.Threads);
}

void GFilesThread::UnpackStarted(uint64_t packedSize) {
    FGaugeValue = Low32(static_cast<int64_t>(packedSize));
    FGauge = 0;
    SetGaugeMax();
}

void GFilesThread::UnpackProgress(uint64_t packedDone) {
    FGaugeValue = Low32(static_cast<int64_t>(packedDone));
    SetFileProgress();
}

void GFilesThread::UnpackFinished() {
    FGaugeValue = 0;
    SetFileProgress();
}

void GFilesThread::UnpackList(const std::vector<uint8_t>& packed, TStream& text) {
    TMemoryStream source(packed);
    TUnpackLimits limits;
    limits.MaxOutput = Limits.MaxListText;
    UnpackBZip2Stream(source, text, this, limits);
}

// The list is read in memory: its download goes on every way out, as does a files.lst that
// earlier launchers unpacked beside the game. Raises when the list cannot be fetched.
std::vector<uint8_t> GFilesThread::DownloadList(const std::string& packedList) {
    const RemovedOnExit download(packedList);
    const bool downloaded = static_cast<bool>(DownloadFile(PackedListName, packedList, true, Limits.MaxPackedList));
    RemoveIfPresent(JoinPath(FBaseDir, ListFileName));
    if (!downloaded) throw Exception("The update list could not be fetched");
    return ReadFileBytes(packedList);
}

// The list and its signature, checked before anything of the list is unpacked. A list and a
// signature of different publishes (one made between the two downloads) are fetched once more.
std::vector<uint8_t> GFilesThread::FetchSignedList(const std::string& packedList,
                                                   const std::vector<minisign::TPublicKey>& trustedKeys) {
    const std::string signatureFile = JoinPath(FBaseDir, ListSignatureName);
    for (int attempt = 0;; ++attempt) {
        std::vector<uint8_t> packed = DownloadList(packedList);
        const RemovedOnExit download(signatureFile);
        if (!DownloadFile(ListSignatureName, signatureFile, false, MaxSignatureBytes))
            Refuse(std::string("its signature ") + ListSignatureName + " could not be fetched");
        const std::vector<uint8_t> signature = ReadFileBytes(signatureFile);
        const minisign::TVerification verification = minisign::Verify(trustedKeys, AsText(signature), AsText(packed));
        if (verification.Verdict == minisign::TVerdict::SignatureWrong && attempt == 0) continue;
        if (verification.Verdict != minisign::TVerdict::Ok)
            Refuse(std::string("its signature is ") + VerdictText(verification.Verdict) + " (" + verification.Reason + ")");
        const auto fields = minisign::ParseTrustedFields(verification.TrustedComment);
        if (!fields) Refuse("the signature's trusted comment is not readable (" + fields.Error + ")");
        const auto lastSeq = ParseCount(FListSeq);
        if (!lastSeq) Refuse("ListSeq \"" + FListSeq + "\" in the settings is not a number");
        if (fields.Value->Seq < *lastSeq)
            Refuse("its sequence number " + std::to_string(fields.Value->Seq) + " is lower than the last accepted, " +
                   std::to_string(*lastSeq) + ": an older list");
        if (fields.Value->Expires && *fields.Value->Expires < UnixNow())
            Refuse("it expired at " + std::to_string(*fields.Value->Expires) + " (Unix time)");
        FSigned = fields.Value;
        return packed;
    }
}

// The decoded list must be the revision its signature names. Keys it names are trusted from now
// on, with the sequence number recorded before anything of the list is acted on.
void GFilesThread::AcceptSignedList(TListFile& list, int32_t rev) {
    if (!FSigned) return;
    if (rev < 0 || static_cast<uint64_t>(rev) != FSigned->Rev)
        Refuse("its signature is for revision " + std::to_string(FSigned->Rev) + ", the list is revision " +
               std::to_string(rev));
    std::string updateKey = FUpdateKey;
    const TStringList named = list.GetSection(KeysSection);
    if (!IsEmptySection(named)) {
        auto trusted = minisign::ParsePublicKeys(FUpdateKey);
        for (const std::string& line : named) {
            const auto key = minisign::ParsePublicKey(line);
            if (!key) Refuse("its keys section holds \"" + line + "\", not a public key (" + key.Error + ")");
            const bool known = std::any_of(trusted.Value->begin(), trusted.Value->end(),
                                           [&](const minisign::TPublicKey& other) { return SameKey(other, *key.Value); });
            if (known) continue;
            trusted.Value->push_back(*key.Value);
            updateKey += (updateKey.empty() ? "" : " ") + minisign::PublicKeyLine(*key.Value);
        }
    }
    SaveListTrust(updateKey, FSigned->Seq);
}

void GFilesThread::Refuse(const std::string& why) {
    Notify("The update list was refused: " + why);
    throw Exception("The update list was refused");
}

// Unpacks beside target and puts the result in place only when it has the listed digest, so a
// wrong or damaged copy never replaces a file. Raises, saying why, when it does not.
void GFilesThread::InstallVerified(const std::string& packed, const std::string& target, const std::string& md5) {
    UnpackVerified(packed, target, md5, *this, Limits.FreeSpaceReserve, Limits.Threads)->CommitOrRaise();
}

// --- file sets ---------------------------------------------------------------------------------

void GFilesThread::CheckFiles(const TStringList& entries) {
    if (entries.empty() || entries.front() == SFail) return;
    Show("Checking files");
    const TInstallPlace place = RunPlace(FBaseDir, Launcher.FileName, FSelfEntry);
    FGauge = 1;
    FGaugeValue = static_cast<int32_t>(entries.size()) - 1;
    SetGaugeMax();
    // The local file's digest; none when it is absent. A path the list may not name is not read:
    // it is collected and the fetch pass refuses it. With more than one thread, the entries after
    // the one reported are digested meanwhile, two per thread ahead; each is still reported, and
    // raises, at its own place.
    using TLocalDigest = std::optional<std::string>;
    const unsigned threads = Threads() < 2 ? 0 : Threads();
    TOrderedAhead<TLocalDigest> digests(entries.size(), threads, 2 * std::size_t{threads},
                                        [&](std::size_t i, std::stop_token) -> TLocalDigest {
                                            const TListEntry entry = ReadListEntry(entries[i]);
                                            const std::string localFile = JoinPath(FBaseDir, entry.Path);
                                            if (RefusedListPath(entry.Path, place) || !os::FileExists(localFile))
                                                return std::nullopt;
                                            return FileMD5Hex(localFile);
                                        });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FGaugeValue = static_cast<int32_t>(i);
        SetTotalProgress();
        const TListEntry entry = ReadListEntry(entries[i]);
        Show("Checking " + entry.Path);
        const bool differs = digests.Take() != entry.MD5;
        if (differs) {
            StrToInt(entry.Size);
            FFetchList.push_back(entries[i]);
        }
    }
    FGaugeValue = 0;
    SetTotalProgress();
    Show("");
}

void GFilesThread::FetchFiles() {
    if (FFetchList.empty()) {
        FStatus.clear();
        return;
    }
    FGaugeValue = static_cast<int32_t>(FFetchList.size()) - 1;
    FGauge = 1;
    SetGaugeMax();
    const TInstallPlace place = RunPlace(FBaseDir, Launcher.FileName, FSelfEntry);
    bool failed = false;
    // The copies of the entries after this one, downloading and unpacking while this one
    // unpacks: one per thread at most, for the entries that follow one another from i + 1.
    struct TAhead {
        std::size_t Index;
        std::string Path;
        std::unique_ptr<TPrefetchedCopy> Copy;
    };
    std::deque<TAhead> ahead;
    const auto prefetchAfter = [&](const TListEntry& current, std::size_t i) {
        std::vector<std::string> busy{current.Path};
        for (const TAhead& copy : ahead) busy.push_back(copy.Path);
        for (std::size_t next = ahead.empty() ? i + 1 : ahead.back().Index + 1; ahead.size() < Threads(); ++next) {
            std::unique_ptr<TPrefetchedCopy> copy = Prefetch(busy, next);
            if (!copy) return;
            busy.push_back(ReadListEntry(FFetchList[next]).Path);
            ahead.push_back({next, busy.back(), std::move(copy)});
        }
    };
    for (std::size_t i = 0; i < FFetchList.size(); ++i) {
        const TListEntry entry = ReadListEntry(FFetchList[i]);
        std::unique_ptr<TPrefetchedCopy> prefetched;
        if (!ahead.empty() && ahead.front().Index == i) {
            prefetched = std::move(ahead.front().Copy);
            ahead.pop_front();
        }
        if (const auto reason = RefusedListPath(entry.Path, place)) {
            Notify(Refusal(entry.Path, *reason));
            ++FFetched.Failed;
            failed = true;
        } else {
            Show("Downloading " + entry.Path);
            FGauge = 0;
            FGaugeValue = StrToInt(entry.Size);
            SetGaugeMax();
            const FetchResult result =
                FetchEntry(entry, std::move(prefetched), [&] { prefetchAfter(entry, i); });
            ++(result == FetchResult::Installed ? FFetched.Installed : FFetched.Failed);
            if (result == FetchResult::NotOpened) {
                FStatus = SUpdateFailed;
                failed = true;
                break;
            }
            if (result == FetchResult::Failed) failed = true;
        }
        FGaugeValue = static_cast<int32_t>(i) + 1;
        SetTotalProgress();
    }
    FGaugeValue = 0;
    SetTotalProgress();
    FStatus = failed ? SUpdateFailed : SAllFilesUpdated;
    FFetchFailed = failed;
}

// Downloads, backs up and installs one entry: its copy from prefetched when that holds it.
// copyArrived is called once the copy is in, before it unpacks.
GFilesThread::FetchResult GFilesThread::FetchEntry(const TListEntry& entry, std::unique_ptr<TPrefetchedCopy> prefetched,
                                                   const std::function<void()>& copyArrived) {
    const std::string& path = entry.Path;
    const std::string localFile = JoinPath(FBaseDir, path);
    const std::string folder = FolderOf(localFile);
    // A folder that cannot be made shows as the download's file that cannot be created.
    if (!prefetched && !folder.empty() && !os::DirectoryExists(folder)) static_cast<void>(os::ForceDirectories(folder));
    if (!prefetched && FetchThroughChunks(entry, localFile)) return FetchResult::Installed;
    const std::string packed = localFile + PackedSuffix;
    const TBar bar = [this](uint64_t position) { ShowFileBar(position); };
    TDownloadOutcome downloaded;
    if (prefetched) {
        downloaded = prefetched->Follow(bar, [this](const std::string& text) { Notify(text); });
    } else {
        TStringList notices;
        downloaded = DownloadCopy(entry, bar, notices);
        for (const std::string& notice : notices) Notify(notice);
    }
    // An answer the server gave (an error status, a body too long) fails this entry; a server that
    // cannot be reached ends the pass.
    if (downloaded.TooLong || downloaded.Refused) return FetchResult::Failed;
    if (!downloaded) return FetchResult::NotOpened;
    copyArrived();
    FetchResult result = FetchResult::Failed;
    try {
        if (FCreateBackup == 1) {
            // The backup is a courtesy: one that cannot be made (or a file not there yet to back up)
            // does not hold the update back.
            static_cast<void>(CopyToBackup(localFile, FBaseDir + "backup", path));
        }
        Show("Extracting " + path);
        if (prefetched)
            prefetched->Install(*this);
        else
            InstallVerified(packed, localFile, entry.MD5);
        result = FetchResult::Installed;
    } catch (const EBZDecompressionError& error) {
        // Counted as failed; the pass goes on with the next entry.
        Notify(downloaded.Url + ": the copy does not unpack (bzip2 " + error.what() + "), not retried");
    } catch (const EStreamError& error) {
        Notify(error.what());  // the installation's own file: the message names it
    } catch (const EInOutError& error) {
        Notify(error.what());
    } catch (const std::exception& error) {
        Notify(downloaded.Url + ": " + error.what() + ", not retried");
    }
    RemoveIfPresent(packed);
    return result;
}

// The copy of the entry next, started now when it can download and unpack beside the entries
// being fetched (busy): more than one thread, a whole copy (not built from chunks), a path apart
// from each of theirs. Nothing otherwise; the pass then fetches it in turn.
std::unique_ptr<TPrefetchedCopy> GFilesThread::Prefetch(const std::vector<std::string>& busy, std::size_t next) {
    if (Threads() < 2 || next >= FFetchList.size()) return nullptr;
    try {
        const TListEntry entry = ReadListEntry(FFetchList[next]);
        if (RefusedListPath(entry.Path, RunPlace(FBaseDir, Launcher.FileName, FSelfEntry))) return nullptr;
        if (FIndex && FIndexFiles.count(entry.Path) != 0) return nullptr;
        for (const std::string& path : busy)
            if (!Apart(entry.Path, path)) return nullptr;
        StrToInt(entry.Size);  // a size that is not a number stops the pass at its entry, in turn
        const std::string localFile = JoinPath(FBaseDir, entry.Path);
        const std::string folder = FolderOf(localFile);
        if (!folder.empty() && !os::DirectoryExists(folder)) static_cast<void>(os::ForceDirectories(folder));
        const std::string packed = localFile + PackedSuffix;
        return std::make_unique<TPrefetchedCopy>(
            packed,
            [this, entry](const TBar& bar, TStringList& notices, std::stop_token stop) {
                return DownloadCopy(entry, bar, notices, stop);
            },
            [this, packed, localFile, md5 = entry.MD5](IUnpackObserver& observer) {
                return UnpackVerified(packed, localFile, md5, observer, Limits.FreeSpaceReserve, Limits.Threads);
            });
    } catch (const std::exception&) {
        return nullptr;  // whatever it is, the pass meets it at that entry
    }
}

// --- chunks ----------------------------------------------------------------------------------------

// The chunk index, fetched once per run and only when the list names one. Any trouble with it
// leaves the run fetching whole copies, as it does from a folder without chunks.
void GFilesThread::LoadIndex() {
    if (FIndexLoaded || FIndexHash.empty()) return;
    FIndexLoaded = true;
    const std::string name = FBaseDir + ChunkIndexName;
    const RemovedOnExit removed(name);
    const auto expected = DigestFromHex(FIndexHash);
    std::string why;
    if (!expected) {
        why = "the list's Index is not a SHA-256";
    } else if (!DownloadFile(ChunkIndexName, name, false, Limits.MaxPackedList)) {
        why = "it could not be downloaded";
    } else {
        const std::vector<uint8_t> bytes = ReadFileBytes(name);
        auto index = ReadChunkIndex(bytes.data(), bytes.size());
        if (Sha256(bytes.data(), bytes.size()) != *expected)
            why = "it is not the one the list names";
        else if (!index)
            why = index.Error;
        else
            FIndex = std::move(index.Value);
    }
    if (!why.empty()) {
        Notify(std::string("The chunk index was not used (") + why + "): copies are fetched whole");
        return;
    }
    for (std::size_t i = 0; i < FIndex->Files.size(); ++i) FIndexFiles.emplace(FIndex->Files[i].Path, i);
}

// Builds the entry from the chunks its previous version lacks. False when the index does not hold
// the entry, and, after a notice, when building failed: its whole copy is fetched then.
bool GFilesThread::FetchThroughChunks(const TListEntry& entry, const std::string& localFile) {
    LoadIndex();
    if (!FIndex) return false;
    const auto found = FIndexFiles.find(entry.Path);
    if (found == FIndexFiles.end()) return false;
    const TChunkedFile& file = FIndex->Files[found->second];
    uint64_t downloaded = 0;
    try {
        const TChunkSources sources = FindChunkSources(file, FIndex->Chunker, localFile);
        FGauge = 0;
        FGaugeValue = Low32(static_cast<int64_t>(sources.DownloadBytes));
        SetGaugeMax();
        TTempFile built(localFile);
        // A few chunks on the way at once, each into memory; they are written in the file's order.
        struct TFetchedChunk {
            TDownloadOutcome Outcome;
            std::vector<uint8_t> Frame;
            TStringList Notices;
        };
        const unsigned threads = Threads() < 2 ? 0 : ChunksInFlight;
        TOrderedAhead<TFetchedChunk> fetching(
            sources.ToFetch.size(), threads, ChunksAhead, [&](std::size_t i, std::stop_token stop) {
                const TChunkRef& chunk = file.Chunks[sources.ToFetch[i]];
                TFetchedChunk fetched;
                const TReadReport counted = [&](uint64_t, uint32_t received) {
                    if (stop.stop_requested()) throw TStopped{};
                    FBytes += received;
                };
                fetched.Outcome = Retried(
                    ChunkStorePath(chunk.Hash),
                    [&](const std::string& url) {
                        return DownloadToMemory(url, fetched.Frame, chunk.CompressedSize, Limits.Transfer, counted);
                    },
                    fetched.Notices, stop);
                return fetched;
            });
        const MD5Digest md5 = AssembleChunkedFile(file, sources, localFile, built.Name(), [&](const TChunkRef& chunk) {
            TFetchedChunk fetched = fetching.Take();
            for (const std::string& notice : fetched.Notices) Notify(notice);
            if (!fetched.Outcome) throw Exception(ChunkStorePath(chunk.Hash) + " could not be downloaded");
            downloaded += chunk.CompressedSize;
            ShowFileBar(downloaded);
            return std::move(fetched.Frame);
        });
        if (DigestToHex(md5) != entry.MD5) throw Exception("the built file does not match the update list");
        // As for a whole copy: a backup that cannot be made does not hold the update back.
        if (FCreateBackup == 1) static_cast<void>(CopyToBackup(localFile, FBaseDir + "backup", entry.Path));
        built.CommitOrRaise();
        FFetched.Built.push_back({entry.Path, sources.ReusedBytes, downloaded,
                                  static_cast<uint64_t>(std::max<int32_t>(0, StrToInt(entry.Size)))});
        return true;
    } catch (const std::exception& error) {
        Notify("\"" + entry.Path + "\" was not built from chunks (" + error.what() + "): its whole copy is fetched");
        FGauge = 0;
        FGaugeValue = StrToInt(entry.Size);
        SetGaugeMax();
        return false;
    }
}

// --- the launcher itself -------------------------------------------------------------------------

void GFilesThread::UpdateSelf(const std::string& line) {
    if (line.empty()) return;
    const TListEntry entry = ReadListEntry(line);
    const std::string& name = entry.Path;
    const std::string& md5 = entry.MD5;
    const bool batchFile = SelfUpdate == SelfUpdateMode::BatchFile;
    if (const auto reason = RefusedSelfName(name, LocalInstallPlace(FBaseDir, ""))) {
        Notify("The self entry " + Refusal(name, *reason));
        return;
    }
    // Update.bat ends this process and starts name in its place: only this launcher's own file.
    if (batchFile && (!SameFileName(name, Launcher.FileName) || Launcher.ProcessId == 0)) {
        Notify("The self entry \"" + name + "\" is not this launcher's file (" +
               (Launcher.FileName.empty() ? std::string("unknown") : "\"" + Launcher.FileName + "\"") +
               "): left out");
        return;
    }
    const std::string localFile = JoinPath(FBaseDir, name);
    if (FileMD5Hex(localFile) == md5) return;
    const uint64_t copySize = static_cast<uint64_t>(std::max<int32_t>(0, StrToInt(entry.Size)));
    const std::string packed = localFile + PackedSuffix;
    const std::string fresh = localFile + ".New";
    if (!DownloadFile(entry.CopyName(), packed, true, copySize, true)) return;
    try {
        UnpackFile(packed, fresh);
        if (FileMD5Hex(fresh) != md5) throw Exception("The new " + name + " does not match the update list");
        if (!batchFile) {
            if (!os::ReplaceFile(fresh, localFile)) RaiseInOutError(os::LastError());
        } else {
            // The batch file names the launcher by the letters of its running file, which it swaps.
            os::SetCurrentDir(FBaseDir);
            WriteUpdateBat(Launcher.FileName, Launcher.ProcessId);
            if (!RunFile(FBaseDir + UpdateBatName)) throw Exception(std::string(UpdateBatName) + " did not start");
        }
    } catch (const std::exception& error) {
        // Only the run's own files go; the running executable is never touched. A batch file that
        // did not start would otherwise swap the launcher at some later, unrelated start.
        if (batchFile) RemoveIfPresent(JoinPath(FBaseDir, UpdateBatName));
        RemoveIfPresent(fresh);
        RemoveIfPresent(packed);
        Notify(std::string("The launcher was not replaced: ") + error.what());
    }
}

// --- the run ---------------------------------------------------------------------------------------

void GFilesThread::RunUpdate() {
    try {
        FBaseDir = os::GetCurrentDir() + os::PathDelim;
        LockButtons();
        try {
            RunSteps();
        } catch (const std::exception&) {
            // Whatever ended the steps, the player gets the buttons back and can still play.
            FStatus = SUpdateFailed;
        }
        ShowStatus();
        UnlockButtons();
    } catch (...) {
        // The view itself failed; nothing is left to report to.
    }
}

void GFilesThread::RunSteps() {
    const auto trustedKeys = minisign::ParsePublicKeys(FUpdateKey);
    if (!trustedKeys) Refuse("UpdateKey in the settings is not readable (" + trustedKeys.Error + ")");
    if (trustedKeys.Value->empty()) Notify("The update list is not signed: no UpdateKey in the settings");
    Show("Downloading updates list");
    if (FUpdatesUrl.empty()) {
        FStatus = SUpdateFailed;
        return;
    }
    if (FUpdatesUrl.back() != '/') FUpdatesUrl += '/';

    const std::string packedList = JoinPath(FBaseDir, PackedListName);
    FSigned.reset();
    std::vector<uint8_t> packed;
    if (trustedKeys.Value->empty()) {
        try {
            packed = DownloadList(packedList);
        } catch (const std::exception&) {
            FStatus = SUpdateFailed;
            return;
        }
    } else {
        packed = FetchSignedList(packedList, *trustedKeys.Value);
    }
    Show("");
    TMemoryStream listText;
    try {
        UnpackList(packed, listText);
    } catch (const std::exception&) {
        Show(SUpdateFailed);
        return;
    }

    FFetchList.clear();
    FFetchFailed = false;
    int32_t rev = 0;
    {
        TListFile list(listText);
        rev = StrToInt(list.GetValue(SettingsSection, RevKey));
        AcceptSignedList(list, rev);
        FIndexHash = list.GetValue(SettingsSection, IndexKey);
        FIndexLoaded = false;
        FIndex.reset();
        FIndexFiles.clear();
        RemoveLeftovers(FBaseDir, list);
        if (StrToInt(list.GetValue(SettingsSection, ModHostsKey)) == 1)
            ApplyHosts(list.GetSection(HostsSection), HostsFile.empty() ? HostsFileIn(HostsFolder) : HostsFile,
                       [this](const std::string& status) { Show(status); }, [this](const std::string& text) { Notify(text); });

        FSelfEntry = list.GetSection(SelfSection).front();
        if (FSelfEntry != SFail) UpdateSelf(FSelfEntry);

        CheckFiles(list.GetSection(CriticalSection));
        if (FFullCheck || FAtRevision < rev) {
            if (FCreateBackup == 1) {
                const std::string backupFolder = FBaseDir + "backup";
                // The previous backup goes; false also when there is none yet. One that cannot go
                // stays and takes this run's backups too.
                static_cast<void>(DeleteFolder(backupFolder));
                if (!os::DirectoryExists(backupFolder) && !os::CreateDir(backupFolder))
                    RaiseInOutError(os::LastError());
            }
            CheckFiles(list.GetSection(NormalSection));
        }
        FetchFiles();
    }
    FFetchList.clear();
    // A revision is reached only when every collected file arrived intact.
    if (FAtRevision < rev && !FFetchFailed) {
        FAtRevision = rev;
        SaveRevision();
    }
}

}  // namespace orvex
