#pragma once
// Checks a published server folder the way clients will use it.
#include "base/Text.h"
#include "formats/Minisign.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// How far a check has come through the copies, or through the chunked files when deep.
struct TVerifyProgress {
    const char* Stage = "copies";  // "copies" or "chunked files"
    std::size_t Done = 0;
    std::size_t Total = 0;
    int64_t BytesDone = 0;
    int64_t BytesTotal = 0;
};

struct TVerifyOptions {
    unsigned Threads = 0;  // 0: one per core
    std::vector<minisign::TPublicKey> Keys;
    bool Deep = false;
    // Called after each copy (and each chunked file when deep), one call at a time, from the
    // checking threads.
    std::function<void(const TVerifyProgress&)> OnProgress;
};

// What the signature beside the list says, as read (checked against a key only when Checked).
struct TSignatureFacts {
    std::string KeyId;  // as minisign shows it
    uint64_t Rev = 0;
    uint64_t Seq = 0;
    std::string Channel;  // empty: none named
    std::optional<uint64_t> Expires;  // Unix seconds
    bool Checked = false;  // made by one of the keys given, over the list
};

struct TServerCheck {
    TStringList Problems;  // one line for every fault; empty when the folder is sound
    std::string Rev;       // the list's, as written
    std::size_t Files = 0;   // entries the list names
    std::size_t Copies = 0;  // copies read whole
    int64_t CopyBytes = 0;
    std::size_t Chunks = 0;  // distinct chunks the index names; 0 without a chunk store
    std::optional<TSignatureFacts> Signature;  // when a signature that reads is there
};

// Every fault found: list settings, entries, paths and copies (presence, a single whole bzip2
// stream, its digest and its size). Copies are decoded on up to options.Threads threads. With
// keys, the list's signature is checked too: made by one of them, matching files.lst.bz2, signing
// its Rev, not expired; without, a signature present must still read and sign the list's Rev. When
// the list names a chunk index, the chunk store is checked too (tools/publish/ChunkVerify.h); Deep
// decompresses every chunk.
TServerCheck CheckServerFolder(const std::string& serverDir, const TVerifyOptions& options = {});

// CheckServerFolder's problems alone.
TStringList VerifyServerFolder(const std::string& serverDir, unsigned threads = 0,
                               const std::vector<minisign::TPublicKey>& keys = {}, bool deep = false);

}  // namespace orvex
