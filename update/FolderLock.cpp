#include "update/FolderLock.h"

#include "base/Text.h"
#include "formats/md5.h"

#include <algorithm>

namespace orvex {

std::string InstanceKey(const std::string& baseDir) {
    std::string folded = LowerAscii(baseDir);
    std::replace(folded.begin(), folded.end(), '/', '\\');
    while (!folded.empty() && folded.back() == '\\') folded.pop_back();
    MD5_CTX context;
    MD5Init(context);
    MD5Update(context, folded.data(), static_cast<uint32_t>(folded.size()));
    MD5Digest digest;
    MD5Final(context, digest);
    // Kernel object names take no "\": the digest stands for the folder.
    return "OrvexUpdater." + DigestToHex(digest);
}

}  // namespace orvex
