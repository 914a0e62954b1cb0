#pragma once
// The check of a signed update list: its signature, the trusted comment, the sequence number, the
// expiry, the channel and the keys it names. Returns verdicts; what the player hears is the caller's.
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
// A sequence number this far above the last accepted comes from no publisher counting up: taken,
// it would make every later list look older.
inline constexpr uint64_t MaxSequenceJump = uint64_t{1} << 32;

// A server file's bytes; the list's fetch raises when it fails, the signature's gives nothing.
using TFetchBytes = std::function<std::optional<std::vector<uint8_t>>()>;

// UpdateKey as its settings value reads: one that earlier versions let grow past the longest value
// a read returns was cut inside a key, which goes; the whole keys before it still count.
std::string WholeKeys(const std::string& updateKey);

// What the installation already trusts and expects of a signed list.
struct TListExpectation {
    std::vector<minisign::TPublicKey> Keys;  // UpdateKey
    std::string ListSeq;                     // the settings' ListSeq
    std::string Channel;                     // the settings' Channel; empty: any
    uint64_t Now = 0;                        // Unix seconds
};

// A list's signature, once checked: its trusted comment and the trusted key that made it.
struct TListSignature {
    minisign::TTrustedFields Fields;
    minisign::TPublicKey Signer;
};

struct TSignedList {
    std::vector<uint8_t> Packed;
    std::string Refusal;  // why the list is refused; empty when it is not
    bool Older = false;   // refused for its sequence number below ListSeq
    TListSignature Signature;  // when not refused
};

// Fetches the list and its signature and checks them before anything of the list is unpacked. A
// list and a signature of different publishes (one made between the two downloads) are fetched
// once more.
TSignedList FetchSignedList(const TFetchBytes& fetchList, const TFetchBytes& fetchSignature,
                            const TListExpectation& expected);

// What a signed list leaves trusted from now on: the keys (UpdateKey) and its sequence number.
struct TListTrust {
    std::string Refusal;  // why the decoded list is refused; empty when it is not
    std::string UpdateKey;
    uint64_t ListSeq = 0;
    // The keys the list's keys section added to UpdateKey and retired from it, in words; empty
    // when the trusted keys stay the same.
    std::string Change;
};

// The decoded list must be the revision its signature names. A keys section makes the trusted keys
// exactly the signing key and the keys it names, at most MaxTrustedKeys; without one, updateKey stays.
TListTrust AcceptSignedList(const TListSignature& signature, TListFile& list, int32_t rev,
                            const std::string& updateKey);

}  // namespace orvex
