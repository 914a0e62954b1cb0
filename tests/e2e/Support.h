#pragma once
// Where the test web server is: ORVEX_E2E_DIR names the folder nginx_start started it in.
#include "common/WholeFile.h"

#include <memory>
#include <optional>
#include <string>

namespace orvex::test {

// The server's base URL, ending in "/".
const std::string& ServerUrl();
// The folder the server publishes, as a path this program can open, ending in a delimiter.
const std::string& WwwDir();

// A Unix path of the server's side as a path of this program (under Wine: Z:\x\y for /x/y).
std::string HostPath(const std::string& unixPath);

// Whether the HTTP client hands the body over in reads of exactly 1024 bytes (WinINet as driven
// by the download); other clients deliver blocks of their own size.
bool ReadsInBlocksOf1024();

// Whether the HTTP client tells a chunked body cut short from a complete one. WinINet (Wine 8)
// ends both with a successful read of 0 bytes.
bool SeesCutChunkedBodies();

// Whether the system's Internet cache holds an entry for url; empty where there is no such cache.
std::optional<bool> InInternetCache(const std::string& url);

// Keeps a file open in another process, without delete sharing, for as long as it lives.
class FileHolder {
public:
    virtual ~FileHolder() = default;
};
// Null where an open file does not stop its replacement, so there is nothing to hold.
std::unique_ptr<FileHolder> HoldOpenElsewhere(const std::string& path);

}  // namespace orvex::test
