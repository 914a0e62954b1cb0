#pragma once
// The MD5 digest of a text, as a list names it: 32 lowercase hexadecimal digits.
#include "formats/md5.h"

#include <string>

namespace orvex::test {

inline std::string Md5Hex(const std::string& text) {
    MD5_CTX context;
    MD5Init(context);
    MD5Update(context, text.data(), static_cast<uint32_t>(text.size()));
    MD5Digest digest;
    MD5Final(context, digest);
    return DigestToHex(digest);
}

}  // namespace orvex::test
