#include "tools/publish/KeyFiles.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "tools/publish/FileText.h"

namespace orvex {
namespace {

std::string ReadKeyFile(const std::string& keyFile) {
    try {
        return ReadWholeFile(keyFile);
    } catch (const Exception& error) {
        throw EKeyFileError(error.what());
    }
}

}  // namespace

minisign::TPublicKey CreateKeyFiles(const std::string& keyFile) {
    const std::string publicFile = keyFile + ".pub";
    for (const std::string& file : {keyFile, publicFile})
        if (os::FileExists(file) || os::DirectoryExists(file))
            throw EKeyFileError(Format("\"%s\" exists: a key is never overwritten", file.c_str()));
    const minisign::TKeyPair pair = minisign::GenerateKeyPair();
    if (!CreateOwnerOnlyFile(keyFile, minisign::SecretKeyFile(pair.Secret)))
        throw EKeyFileError(Format("\"%s\" cannot be created: %s", keyFile.c_str(), os::ErrorText(os::LastError()).c_str()));
    WriteFileInPlace(publicFile, minisign::PublicKeyFile(pair.Public));
    return pair.Public;
}

minisign::TSecretKey LoadSecretKey(const std::string& keyFile) {
    const std::string text = ReadKeyFile(keyFile);
    const auto key = minisign::ParseSecretKey(text);
    // Told by its content, whatever the file is called: KEYFILE.pub is easily taken for the key.
    if (!key && minisign::ParsePublicKey(text))
        throw EKeyFileError(Format("\"%s\": this is a public key; --sign takes the secret key", keyFile.c_str()));
    if (!key) throw EKeyFileError(Format("\"%s\": %s", keyFile.c_str(), key.Error.c_str()));
    return *key.Value;
}

std::vector<minisign::TPublicKey> LoadPublicKeys(const std::string& keyFile) {
    const std::string text = ReadKeyFile(keyFile);
    if (const auto key = minisign::ParsePublicKey(text)) return {*key.Value};
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const auto keys = minisign::ParsePublicKeys(line);
    if (!keys || keys.Value->empty())
        throw EKeyFileError(Format("\"%s\" holds no public key: %s", keyFile.c_str(),
                                   keys ? "it is empty" : keys.Error.c_str()));
    return *keys.Value;
}

}  // namespace orvex
