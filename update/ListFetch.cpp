#include "update/ListFetch.h"

#include "base/Path.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "formats/LstFile.h"
#include "formats/Unpack.h"
#include "formats/UpdateList.h"
#include "update/RunReports.h"
#include "update/RunSettings.h"
#include "update/Servers.h"

#include <chrono>

namespace orvex {

namespace {

uint64_t UnixNow() {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

// One run's fetches of the list from its servers.
class TListFetch {
public:
    TListFetch(const TRunSettings& settings, const std::string& baseDir, TServers& servers, TRunReports& reports,
               const std::string& listAddress, const std::string& what)
        : FSettings(settings), FBaseDir(baseDir), FServers(servers), FReports(reports), FListAddress(listAddress),
          FWhat(what) {}

    // The packed list from the first server that has it; Server tells which.
    std::vector<uint8_t> Download() {
        const std::string packedList = JoinPath(FBaseDir, PackedListName);
        const TRemovedOnExit removed(packedList);
        const bool downloaded = Fetch(FListAddress, packedList, true, FSettings.Limits.MaxPackedList);
        RemoveIfPresent(JoinPath(FBaseDir, ListFileName));
        if (!downloaded) throw Exception(FWhat + " could not be fetched");
        return ReadFileBytes(packedList);
    }

    std::optional<std::vector<uint8_t>> DownloadSignature() {
        const std::string signatureFile = JoinPath(FBaseDir, ListSignatureName);
        const TRemovedOnExit removed(signatureFile);
        if (!Fetch(FListAddress + SignatureSuffix, signatureFile, false, MaxSignatureBytes)) return std::nullopt;
        return ReadFileBytes(signatureFile);
    }

    std::unique_ptr<TMemoryStream> Unpack(const std::vector<uint8_t>& packed) {
        FReports.Show("");
        TMemoryStream source(packed);
        TUnpackLimits limits;
        limits.MaxOutput = FSettings.Limits.MaxListText;
        auto text = std::make_unique<TMemoryStream>();
        UnpackBZip2Stream(source, *text, &FReports, limits);
        return text;
    }

    // Why the list from Server is skipped: a mirror behind the installation. Empty: taken.
    std::string BehindOnMirror(TMemoryStream& text) {
        if (!FServers.IsMirror(Server)) return {};
        TListFile list(text);
        const int32_t rev = StrToInt(list.GetValue(SettingsSection, RevKey));
        if (rev >= FSettings.AtRevision) return {};
        return "its revision " + std::to_string(rev) + " is lower than the installed " +
               std::to_string(FSettings.AtRevision);
    }

    void Skip(const std::string& why) {
        FReports.Notify(FWhat + " of the mirror " + Server + " was skipped: " + why +
                        "; the next server is asked");
        FServers.PassOver(Server);
        FReports.Show("Downloading updates list");
    }

    std::string Server;  // of the last list downloaded

private:
    bool Fetch(const std::string& name, const std::string& fileName, bool showProgress, uint64_t maxBytes) {
        const TDownloadOutcome outcome = FServers.FetchToFile(
            name, fileName, maxBytes, false, [this](uint64_t position) { FReports.FileBar(position); }, showProgress,
            [this](const std::string& text) { FailsRun() ? FReports.Fail(text) : FReports.Notify(text); }, {},
            [this](int nextTry, int tries) { FReports.ShowRetry(nextTry, tries); });
        if (outcome && name == FListAddress) Server = outcome.Url.substr(0, outcome.Url.size() - name.size());
        return static_cast<bool>(outcome);
    }

    const TRunSettings& FSettings;
    const std::string& FBaseDir;
    TServers& FServers;
    TRunReports& FReports;
    // Only the update list's troubles fail the run; without an announced release's list it goes on.
    bool FailsRun() const { return FListAddress == PackedListName; }

    std::string FListAddress;
    std::string FWhat;
};

}  // namespace

void RefuseList(TRunReports& reports, const std::string& why, const std::string& what, bool failsRun) {
    if (failsRun) reports.Fail(what + " was refused: " + why);
    else reports.Notify(what + " was refused: " + why);
    throw ERefusedList(what + " was refused");
}

TFetchedList FetchUpdateList(const TRunSettings& settings, const std::string& baseDir, TServers& servers,
                             TRunReports& reports, const std::string& listAddress, const std::string& what) {
    const auto trustedKeys = minisign::ParsePublicKeys(WholeKeys(settings.UpdateKey));
    if (!trustedKeys) RefuseList(reports, "UpdateKey in the settings is not readable (" + trustedKeys.Error + ")");
    if (trustedKeys.Value->empty() && listAddress == PackedListName)
        reports.Notify("The update list is not signed: no UpdateKey in the settings");
    reports.Show("Downloading updates list");
    if (settings.UpdatesUrl.empty()) throw Exception("no UpdatesUrl in the settings");
    TListFetch fetch(settings, baseDir, servers, reports, listAddress, what);
    const TListExpectation expected{*trustedKeys.Value, settings.ListSeq, settings.Channel, UnixNow()};
    for (;;) {
        TFetchedList fetched;
        std::vector<uint8_t> packed;
        if (trustedKeys.Value->empty()) {
            packed = fetch.Download();
        } else {
            TSignedList list = FetchSignedList([&] { return std::optional(fetch.Download()); },
                                               [&] { return fetch.DownloadSignature(); }, expected);
            if (list.Older && servers.IsMirror(fetch.Server)) {
                fetch.Skip(list.Refusal);
                continue;
            }
            if (!list.Refusal.empty()) RefuseList(reports, list.Refusal, what, listAddress == PackedListName);
            packed = std::move(list.Packed);
            fetched.Signed = list.Signature;
        }
        fetched.Text = fetch.Unpack(packed);
        if (const std::string behind = fetch.BehindOnMirror(*fetched.Text); !behind.empty()) {
            fetch.Skip(behind);
            continue;
        }
        if (servers.IsMirror(fetch.Server)) reports.Notify("The update list was served by the mirror " + fetch.Server);
        fetched.Packed = std::move(packed);
        return fetched;
    }
}

bool ListChangedSince(const TFetchedList& fetched, const TRunSettings& settings, const std::string& baseDir,
                      TServers& servers) {
    const std::string packedList = JoinPath(baseDir, PackedListName);
    const TRemovedOnExit removed(packedList);
    const TDownloadOutcome outcome = servers.FetchToFile(
        PackedListName, packedList, settings.Limits.MaxPackedList, false, [](uint64_t) {}, false,
        [](const std::string&) {});
    return outcome && ReadFileBytes(packedList) != fetched.Packed;
}

}  // namespace orvex
