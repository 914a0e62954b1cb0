#pragma once
// The publisher's key files, in minisign's formats: the secret key (no password, so that
// `minisign -S -W -s FILE` signs with it too) and FILE.pub beside it.
#include "formats/Minisign.h"
#include "tools/publish/ServerFolder.h"

#include <string>
#include <vector>

namespace orvex {

// A key file that cannot be read, holds no key, or is in the way of a new one.
class EKeyFileError : public EPublishError {
public:
    using EPublishError::EPublishError;
};

// Makes a key pair: the secret key in keyFile, which only its owner may read, and the public key in
// keyFile + ".pub". Raises EKeyFileError, before writing anything, when either file exists.
minisign::TPublicKey CreateKeyFiles(const std::string& keyFile);

// Raise EKeyFileError naming the file when it cannot be read or holds no key.
minisign::TSecretKey LoadSecretKey(const std::string& keyFile);
// A public key file, or one or more key lines separated by spaces as UpdateKey holds them.
std::vector<minisign::TPublicKey> LoadPublicKeys(const std::string& keyFile);

// Creates fileName with content, readable and writable by its owner only. False, with
// os::LastError() telling why, when it cannot, the file existing included.
[[nodiscard]] bool CreateOwnerOnlyFile(const std::string& fileName, const std::string& content);

}  // namespace orvex
