#pragma once
// Fetching the update list into memory: with keys in the settings, its signature too, checked
// before anything of the list is unpacked.
#include "base/Exceptions.h"
#include "formats/Minisign.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TRunReports;
struct TRunSettings;

// A list the run refuses (its signature, sequence number, revision or keys); the player was told why.
struct ERefusedList : Exception {
    using Exception::Exception;
};

// Tells the player why the list is refused, then raises ERefusedList.
[[noreturn]] void RefuseList(TRunReports& reports, const std::string& why);

// Downloads a server file into a local one, telling its failures; false when it could not.
using TDownloadTo = std::function<bool(const std::string& name, const std::string& fileName, bool showProgress,
                                       uint64_t maxBytes)>;

struct TFetchedList {
    std::vector<uint8_t> Packed;
    // The trusted comment of the list's signature, once checked; none for an unsigned list.
    std::optional<minisign::TTrustedFields> Signed;
};

// The packed list. Raises when it cannot be fetched; ERefusedList when it is refused. The files
// downloaded into baseDir go on every way out, as does a files.lst earlier launchers left there.
TFetchedList FetchUpdateList(const TRunSettings& settings, const std::string& baseDir, const TDownloadTo& download,
                             TRunReports& reports);

}  // namespace orvex
