#include "tools/publish/ListSignature.h"

#include "base/Os.h"
#include "base/Path.h"
#include "formats/UpdateList.h"
#include "tools/publish/FileText.h"
#include "tools/publish/ServerFolder.h"

namespace orvex {
namespace {

std::string SignaturePath(const std::string& serverDir) { return JoinPath(serverDir, ListSignatureName); }

std::optional<minisign::TTrustedFields> SignedFields(const std::string& signatureText) {
    const auto signature = minisign::ParseSignature(signatureText);
    if (!signature) return std::nullopt;
    return minisign::ParseTrustedFields(signature.Value->TrustedComment).Value;
}

}  // namespace

uint64_t NextSequence(const std::string& serverDir) {
    const std::string path = SignaturePath(serverDir);
    if (!os::FileExists(path)) return 1;
    const auto fields = SignedFields(ReadWholeFile(path));
    if (!fields)
        throw EPublishError(Format("The published signature \"%s\" has no readable seq to count on from: "
                                   "give one with --seq",
                                   path.c_str()));
    if (fields->Seq == UINT64_MAX) throw EPublishError("seq cannot be raised past its largest value");
    return fields->Seq + 1;
}

bool SignatureCurrent(const std::string& serverDir, const minisign::TSecretKey& key, int32_t rev) {
    const std::string path = SignaturePath(serverDir);
    const std::string packed = JoinPath(serverDir, PackedListName);
    if (!os::FileExists(path) || !os::FileExists(packed)) return false;
    const auto verification = minisign::Verify({key.PublicKey()}, ReadWholeFile(path), ReadWholeFile(packed));
    if (verification.Verdict != minisign::TVerdict::Ok) return false;
    const auto fields = minisign::ParseTrustedFields(verification.TrustedComment);
    return fields && fields.Value->Rev == static_cast<uint64_t>(rev) && !fields.Value->Expires;
}

std::string SignatureOf(const std::string& packedList, const minisign::TSecretKey& key,
                        const minisign::TTrustedFields& fields) {
    return minisign::Sign(key, packedList, minisign::FormatTrustedFields(fields), "signature from orvex-publish secret key");
}

TStringList CheckSignedRev(const std::string& serverDir, const std::string& listRev) {
    const std::string path = SignaturePath(serverDir);
    if (!os::FileExists(path)) return {};
    const std::string where = std::string(ListSignatureName) + ": ";
    const auto fields = SignedFields(ReadWholeFile(path));
    if (!fields) return {where + "cannot be read as a signature with rev and seq"};
    if (std::to_string(fields->Rev) == listRev) return {};
    return {where + "signs rev " + std::to_string(fields->Rev) + ", the list's Rev is " + listRev +
            ": it does not match the list"};
}

TStringList CheckListSignature(const std::string& serverDir, const std::string& packedList,
                               const std::string& listRev, const std::vector<minisign::TPublicKey>& keys,
                               std::time_t now) {
    const std::string path = SignaturePath(serverDir);
    if (!os::FileExists(path)) return {path + " is missing"};
    const std::string where = std::string(ListSignatureName) + ": ";
    const auto verification = minisign::Verify(keys, ReadWholeFile(path), packedList);
    if (verification.Verdict != minisign::TVerdict::Ok) return {where + verification.Reason};
    const auto fields = minisign::ParseTrustedFields(verification.TrustedComment);
    if (!fields) return {where + "trusted comment \"" + verification.TrustedComment + "\": " + fields.Error};
    TStringList problems;
    if (std::to_string(fields.Value->Rev) != listRev)
        problems.push_back(where + "signs rev " + std::to_string(fields.Value->Rev) + ", the list's Rev is " + listRev);
    if (fields.Value->Expires && *fields.Value->Expires <= static_cast<uint64_t>(now))
        problems.push_back(where + "expired at " + std::to_string(*fields.Value->Expires) + " (Unix time)");
    return problems;
}

}  // namespace orvex
