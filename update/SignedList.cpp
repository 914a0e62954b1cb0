#include "update/SignedList.h"

#include "base/IniText.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"

#include <algorithm>
#include <charconv>

namespace orvex {

namespace {

std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<uint64_t> ParseCount(const std::string& text) {
    if (text.empty()) return uint64_t{0};
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool SameKey(const minisign::TPublicKey& a, const minisign::TPublicKey& b) {
    return a.KeyId == b.KeyId && a.Key == b.Key;
}

// "key 1A2B, key 3C4D": those of keys that others does not hold.
std::string KeysMissingFrom(const std::vector<minisign::TPublicKey>& keys,
                            const std::vector<minisign::TPublicKey>& others) {
    std::string text;
    for (const minisign::TPublicKey& key : keys)
        if (std::none_of(others.begin(), others.end(), [&](const minisign::TPublicKey& other) { return SameKey(other, key); }))
            text += (text.empty() ? "key " : ", key ") + minisign::KeyIdText(key.KeyId);
    return text;
}

std::string TrustChange(const std::string& updateKey, const std::vector<minisign::TPublicKey>& trusted) {
    const auto parsed = minisign::ParsePublicKeys(WholeKeys(updateKey));
    const std::vector<minisign::TPublicKey> before = parsed ? *parsed.Value : std::vector<minisign::TPublicKey>{};
    const std::string added = KeysMissingFrom(trusted, before);
    const std::string retired = KeysMissingFrom(before, trusted);
    if (added.empty() && retired.empty()) return {};
    std::string text = "UpdateKey changed by the update list's keys section:";
    if (!added.empty()) text += " added " + added;
    if (!added.empty() && !retired.empty()) text += ";";
    if (!retired.empty()) text += " retired " + retired;
    return text;
}

std::string VerdictText(minisign::TVerdict verdict) {
    switch (verdict) {
        case minisign::TVerdict::Ok: return "good";
        case minisign::TVerdict::Malformed: return "missing or not a minisign signature";
        case minisign::TVerdict::KeyNotTrusted: return "made with a key not in UpdateKey";
        case minisign::TVerdict::SignatureWrong: return "not a signature of this list";
        case minisign::TVerdict::TrustedCommentWrong: return "over another trusted comment";
    }
    return "refused";
}

// Why the trusted comment refuses the list; empty when it does not. older: refused for a sequence
// number below ListSeq.
std::string CheckFields(const minisign::TTrustedFields& fields, const TListExpectation& expected, bool& older) {
    const auto lastSeq = ParseCount(expected.ListSeq);
    if (!lastSeq) return "ListSeq \"" + expected.ListSeq + "\" in the settings is not a number";
    const std::string seq = std::to_string(fields.Seq), last = std::to_string(*lastSeq);
    older = fields.Seq < *lastSeq;
    if (older) return "its sequence number " + seq + " is lower than the last accepted, " + last + ": an older list";
    if (fields.Seq - *lastSeq > MaxSequenceJump)
        return "its sequence number " + seq + " is more than 2^32 above the last accepted, " + last +
               ": no publisher counts that far, taking it would refuse every later list";
    if (fields.Expires && *fields.Expires < expected.Now)
        return "it expired at " + std::to_string(*fields.Expires) + " (Unix time)";
    if (!expected.Channel.empty() && fields.Channel != expected.Channel)
        return "it is signed for " + (fields.Channel.empty() ? "no channel" : "channel \"" + fields.Channel + "\"") +
               ", the settings' Channel is \"" + expected.Channel + "\"";
    return {};
}

}  // namespace

std::string WholeKeys(const std::string& updateKey) {
    if (updateKey.size() < ini::MaxValueLength || minisign::ParsePublicKeys(updateKey)) return updateKey;
    const std::size_t lastSpace = updateKey.find_last_of(" \t");
    return lastSpace == std::string::npos ? updateKey : updateKey.substr(0, lastSpace);
}

TSignedList FetchSignedList(const TFetchBytes& fetchList, const TFetchBytes& fetchSignature,
                            const TListExpectation& expected) {
    for (int attempt = 0;; ++attempt) {
        TSignedList result;
        result.Packed = *fetchList();
        const auto signature = fetchSignature();
        if (!signature) {
            result.Refusal = std::string("its signature ") + ListSignatureName + " could not be fetched";
            return result;
        }
        const auto verification = minisign::Verify(expected.Keys, AsText(*signature), AsText(result.Packed));
        if (verification.Verdict == minisign::TVerdict::SignatureWrong && attempt == 0) continue;
        if (verification.Verdict != minisign::TVerdict::Ok) {
            result.Refusal =
                std::string("its signature is ") + VerdictText(verification.Verdict) + " (" + verification.Reason + ")";
            return result;
        }
        const auto fields = minisign::ParseTrustedFields(verification.TrustedComment);
        if (!fields) {
            result.Refusal = "the signature's trusted comment is not readable (" + fields.Error + ")";
            return result;
        }
        result.Refusal = CheckFields(*fields.Value, expected, result.Older);
        result.Signature = {*fields.Value, verification.Key};
        return result;
    }
}

TListTrust AcceptSignedList(const TListSignature& signature, TListFile& list, int32_t rev,
                            const std::string& updateKey) {
    TListTrust trust{{}, updateKey, signature.Fields.Seq, {}};
    if (rev < 0 || static_cast<uint64_t>(rev) != signature.Fields.Rev) {
        trust.Refusal = "its signature is for revision " + std::to_string(signature.Fields.Rev) +
                        ", the list is revision " + std::to_string(rev);
        return trust;
    }
    const TStringList named = list.GetSection(KeysSection);
    if (IsEmptySection(named)) return trust;
    std::vector<minisign::TPublicKey> trusted{signature.Signer};
    for (const std::string& line : named) {
        const auto key = minisign::ParsePublicKey(line);
        if (!key) {
            trust.Refusal = "its keys section holds \"" + line + "\", not a public key (" + key.Error + ")";
            return trust;
        }
        if (std::none_of(trusted.begin(), trusted.end(),
                         [&](const minisign::TPublicKey& other) { return SameKey(other, *key.Value); }))
            trusted.push_back(*key.Value);
    }
    if (trusted.size() > MaxTrustedKeys) {
        trust.Refusal = "its keys section would leave " + std::to_string(trusted.size()) +
                        " keys trusted with the signing key, more than " + std::to_string(MaxTrustedKeys);
        return trust;
    }
    trust.Change = TrustChange(updateKey, trusted);
    trust.UpdateKey.clear();
    for (const minisign::TPublicKey& key : trusted)
        trust.UpdateKey += (trust.UpdateKey.empty() ? "" : " ") + minisign::PublicKeyLine(key);
    return trust;
}

}  // namespace orvex
