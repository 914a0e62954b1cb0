#pragma once
// Fetching the update list into memory: with keys in the settings, its signature too, checked
// before anything of the list is unpacked. A mirror's list older than the installation is skipped.
#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "formats/UpdateList.h"
#include "update/SignedList.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TRunReports;
class TServers;
struct TRunSettings;

// A list the run refuses (its signature, sequence number, revision or keys); the player was told why.
struct ERefusedList : Exception {
    using Exception::Exception;
};

// Tells the player why the list is refused, then raises ERefusedList.
// failsRun: the refusal is the run's failure (the update list's), not only a notice.
[[noreturn]] void RefuseList(TRunReports& reports, const std::string& why, const std::string& what = "The update list",
                             bool failsRun = true);

struct TFetchedList {
    std::vector<uint8_t> Packed;          // as the server sent it
    std::unique_ptr<TMemoryStream> Text;  // the unpacked list
    // The list's signature, once checked; none for an unsigned list.
    std::optional<TListSignature> Signed;
};

// The list, unpacked. Raises when it cannot be fetched or unpacked; ERefusedList when it is refused.
// A mirror's list whose Rev is below AtRevision, or whose signature's seq is below ListSeq, is
// skipped with a notice and the mirror passed over; UpdatesUrl's list is taken as it is. The files
// downloaded into baseDir go on every way out, as does a files.lst earlier launchers left there.
// listAddress: the list's address in the server folder (its signature's adds ".minisig"); what names
// it in the notices.
TFetchedList FetchUpdateList(const TRunSettings& settings, const std::string& baseDir, TServers& servers,
                             TRunReports& reports, const std::string& listAddress = PackedListName,
                             const std::string& what = "The update list");

// Whether the server now has another list than fetched, asked once more without a report. False
// when it cannot tell (the list does not arrive).
bool ListChangedSince(const TFetchedList& fetched, const TRunSettings& settings, const std::string& baseDir,
                      TServers& servers);

}  // namespace orvex
