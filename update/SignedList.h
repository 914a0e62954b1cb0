#pragma once
// The check of a signed update list: its signature, the trusted comment, the sequence number, the
// expiry and the keys it names. Returns verdicts; what the player hears is the caller's.
#include "formats/Minisign.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class TListFile;

// A signature file is a few hundred bytes; anything near this is not one.
inline constexpr uint64_t MaxSignatureBytes = 16 * 1024;

// A server file's bytes; the list's fetch raises when it fails, the signature's gives nothing.
using TFetchBytes = std::function<std::optional<std::vector<uint8_t>>()>;

struct TSignedList {
    std::vector<uint8_t> Packed;
    std::string Refusal;                 // why the list is refused; empty when it is not
    minisign::TTrustedFields Fields;     // the signature's trusted comment, when not refused
};

// Fetches the list and its signature and checks them before anything of the list is unpacked. A
// list and a signature of different publishes (one made between the two downloads) are fetched
// once more. listSeq: the settings' ListSeq; now: Unix seconds.
TSignedList FetchSignedList(const TFetchBytes& fetchList, const TFetchBytes& fetchSignature,
                            const std::vector<minisign::TPublicKey>& trustedKeys, const std::string& listSeq,
                            uint64_t now);

// What a signed list leaves trusted from now on: the keys (UpdateKey) and its sequence number.
struct TListTrust {
    std::string Refusal;  // why the decoded list is refused; empty when it is not
    std::string UpdateKey;
    uint64_t ListSeq = 0;
};

// The decoded list must be the revision its signature names; keys it names are added to updateKey.
TListTrust AcceptSignedList(const minisign::TTrustedFields& fields, TListFile& list, int32_t rev,
                            const std::string& updateKey);

}  // namespace orvex
