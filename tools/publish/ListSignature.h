#pragma once
// The signature beside the published list, files.lst.bz2.minisig, in minisign's format: over the
// bytes of files.lst.bz2, its trusted comment naming the list's Rev and a sequence number that grows
// with every signing (formats/Minisign.h).
#include "base/Text.h"
#include "formats/Minisign.h"
#include "formats/UpdateList.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TListSigning {
    minisign::TSecretKey Key;
    std::optional<uint64_t> Seq;      // otherwise the previous signature's plus 1
    std::optional<uint64_t> Expires;  // Unix seconds
};

// The previous signature's seq plus 1, whichever key made it; 1 when serverDir has none. Raises
// EPublishError when the signature there cannot be read, as counting from 1 again would make
// players who accepted a higher number refuse every list from now on.
uint64_t NextSequence(const std::string& serverDir);

// Whether serverDir holds key's signature of its files.lst.bz2 for rev, without expiry.
bool SignatureCurrent(const std::string& serverDir, const minisign::TSecretKey& key, int32_t rev);

// The signature of packedList (the bytes of files.lst.bz2) with fields as its trusted comment, the
// text of files.lst.bz2.minisig.
std::string SignatureOf(const std::string& packedList, const minisign::TSecretKey& key,
                        const minisign::TTrustedFields& fields);

// One line for each problem of the signature of packedList (the bytes of files.lst.bz2, whose Rev
// is listRev): missing, unreadable, by none of keys, not matching, a trusted comment without rev
// and seq or with another rev, or expired at now.
// What can be checked of serverDir's signature without a public key: one line when it cannot be
// read or signs another Rev than listRev (a list published unsigned over a signed one); none when
// it is absent.
TStringList CheckSignedRev(const std::string& serverDir, const std::string& listRev);

TStringList CheckListSignature(const std::string& serverDir, const std::string& packedList,
                               const std::string& listRev, const std::vector<minisign::TPublicKey>& keys,
                               std::time_t now);

}  // namespace orvex
