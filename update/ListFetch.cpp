#include "update/ListFetch.h"

#include "base/Path.h"
#include "base/Stream.h"
#include "base/TempFile.h"
#include "formats/UpdateList.h"
#include "update/RunReports.h"
#include "update/RunSettings.h"
#include "update/SignedList.h"

#include <chrono>

namespace orvex {

namespace {

uint64_t UnixNow() {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

std::vector<uint8_t> DownloadList(const TRunSettings& settings, const std::string& baseDir, const TDownloadTo& download) {
    const std::string packedList = JoinPath(baseDir, PackedListName);
    const TRemovedOnExit removed(packedList);
    const bool downloaded = download(PackedListName, packedList, true, settings.Limits.MaxPackedList);
    RemoveIfPresent(JoinPath(baseDir, ListFileName));
    if (!downloaded) throw Exception("The update list could not be fetched");
    return ReadFileBytes(packedList);
}

std::optional<std::vector<uint8_t>> DownloadSignature(const std::string& baseDir, const TDownloadTo& download) {
    const std::string signatureFile = JoinPath(baseDir, ListSignatureName);
    const TRemovedOnExit removed(signatureFile);
    if (!download(ListSignatureName, signatureFile, false, MaxSignatureBytes)) return std::nullopt;
    return ReadFileBytes(signatureFile);
}

}  // namespace

void RefuseList(TRunReports& reports, const std::string& why) {
    reports.Notify("The update list was refused: " + why);
    throw ERefusedList("The update list was refused");
}

TFetchedList FetchUpdateList(const TRunSettings& settings, const std::string& baseDir, const TDownloadTo& download,
                             TRunReports& reports) {
    const auto trustedKeys = minisign::ParsePublicKeys(settings.UpdateKey);
    if (!trustedKeys) RefuseList(reports, "UpdateKey in the settings is not readable (" + trustedKeys.Error + ")");
    if (trustedKeys.Value->empty()) reports.Notify("The update list is not signed: no UpdateKey in the settings");
    reports.Show("Downloading updates list");
    if (settings.UpdatesUrl.empty()) throw Exception("no UpdatesUrl in the settings");
    if (trustedKeys.Value->empty()) return {DownloadList(settings, baseDir, download), std::nullopt};
    TSignedList list = FetchSignedList([&] { return std::optional(DownloadList(settings, baseDir, download)); },
                                       [&] { return DownloadSignature(baseDir, download); }, *trustedKeys.Value,
                                       settings.ListSeq, UnixNow());
    if (!list.Refusal.empty()) RefuseList(reports, list.Refusal);
    return {std::move(list.Packed), list.Fields};
}

}  // namespace orvex
