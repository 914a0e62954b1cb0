#pragma once
// The signature beside the published list, files.lst.bz2.minisig, in minisign's format: over the
// bytes of files.lst.bz2, its trusted comment naming the list's Rev and a sequence number that grows
// with every signing (formats/Minisign.h).
#include "base/Text.h"
#include "formats/Minisign.h"
#include "formats/UpdateList.h"

#include <cstdint>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TListSigning {
    minisign::TSecretKey Key;
    std::optional<uint64_t> Seq;      // otherwise the next after the previous signature's and SeqFile's
    std::optional<uint64_t> Expires;  // Unix seconds
    // Named in the trusted comment; empty: none. Not given: the published signature's, so that a
    // later publish cannot lock out the launchers that take only that channel.
    std::optional<std::string> Channel;
    // The last sequence number signed with the key (KEYFILE.seq), so that counting goes on when the
    // server folder is lost; empty: none kept.
    std::string SeqFile;
};

// The larger of the previous signature's seq (whichever key made it) and the one seqFile keeps,
// plus 1; 1 when there is neither. Raises EPublishError when either cannot be read, as counting
// from 1 again would make players who accepted a higher number refuse every list from now on.
uint64_t NextSequence(const std::string& serverDir, const std::string& seqFile = {});

// Keeps seq in seqFile unless it holds a larger one; nothing when seqFile is empty.
void RecordSequence(const std::string& seqFile, uint64_t seq);

// How many keys a list signed with key and naming named (its keys section) leaves trusted.
std::size_t TrustedKeyCount(const minisign::TPublicKey& key, const std::vector<minisign::TPublicKey>& named);

struct TSignedSummary {
    bool Written = false;   // a new signature is to be written
    uint64_t Seq = 0;       // the sequence number signed, or the kept signature's
    std::string Signature;  // the new files.lst.bz2.minisig when Written
};

// The signature of packed (the new files.lst.bz2) for rev with seq, kept in signing.SeqFile first;
// or the one serverDir holds, when the list did not change and it already signs it for rev with
// that key and channel, without expiry, and neither signing.Seq nor signing.Expires asks for a new
// one.
TSignedSummary SignOrKeep(const std::string& serverDir, const std::string& packed, const TListSigning& signing,
                          int32_t rev, bool listChanged, uint64_t seq);

// "2026-12-09 21:24:00 UTC": a time the trusted comment gives in Unix seconds, for people.
std::string UtcTimeText(uint64_t unixSeconds);

// What can be checked of serverDir's signature without a public key: one line when it cannot be
// read or signs another Rev than listRev (a list published unsigned over a signed one); none when
// it is absent.
TStringList CheckSignedRev(const std::string& serverDir, const std::string& listRev);

// One line for each problem of the signature of packedList (the bytes of files.lst.bz2, whose Rev
// is listRev): missing, unreadable, by none of keys, not matching, a trusted comment without rev
// and seq or with another rev, or expired at now.
TStringList CheckListSignature(const std::string& serverDir, const std::string& packedList,
                               const std::string& listRev, const std::vector<minisign::TPublicKey>& keys,
                               std::time_t now);

}  // namespace orvex
