#pragma once
// Checks a published server folder the way clients will use it.
#include "base/Text.h"
#include "formats/Minisign.h"

#include <string>
#include <vector>

namespace orvex {

// One line for every fault found: list settings, entries, paths and copies (presence, a single
// whole bzip2 stream, its digest and its size). Empty when the folder is sound. Copies are
// decoded on up to threads threads (0: one per core). With keys, the list's signature is checked
// too: made by one of them, matching files.lst.bz2, signing its Rev, not expired; without, a
// signature present must still read and sign the list's Rev. When the list
// names a chunk index, the chunk store is checked too (tools/publish/ChunkVerify.h); deep
// decompresses every chunk.
TStringList VerifyServerFolder(const std::string& serverDir, unsigned threads = 0,
                               const std::vector<minisign::TPublicKey>& keys = {}, bool deep = false);

}  // namespace orvex
