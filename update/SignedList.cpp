#include "update/SignedList.h"

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

// Why the trusted comment refuses the list; empty when it does not.
std::string CheckFields(const minisign::TTrustedFields& fields, const std::string& listSeq, uint64_t now) {
    const auto lastSeq = ParseCount(listSeq);
    if (!lastSeq) return "ListSeq \"" + listSeq + "\" in the settings is not a number";
    if (fields.Seq < *lastSeq)
        return "its sequence number " + std::to_string(fields.Seq) + " is lower than the last accepted, " +
               std::to_string(*lastSeq) + ": an older list";
    if (fields.Expires && *fields.Expires < now)
        return "it expired at " + std::to_string(*fields.Expires) + " (Unix time)";
    return {};
}

}  // namespace

TSignedList FetchSignedList(const TFetchBytes& fetchList, const TFetchBytes& fetchSignature,
                            const std::vector<minisign::TPublicKey>& trustedKeys, const std::string& listSeq,
                            uint64_t now) {
    for (int attempt = 0;; ++attempt) {
        TSignedList result;
        result.Packed = *fetchList();
        const auto signature = fetchSignature();
        if (!signature) {
            result.Refusal = std::string("its signature ") + ListSignatureName + " could not be fetched";
            return result;
        }
        const auto verification = minisign::Verify(trustedKeys, AsText(*signature), AsText(result.Packed));
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
        result.Refusal = CheckFields(*fields.Value, listSeq, now);
        result.Fields = *fields.Value;
        return result;
    }
}

TListTrust AcceptSignedList(const minisign::TTrustedFields& fields, TListFile& list, int32_t rev,
                            const std::string& updateKey) {
    TListTrust trust{{}, updateKey, fields.Seq};
    if (rev < 0 || static_cast<uint64_t>(rev) != fields.Rev) {
        trust.Refusal = "its signature is for revision " + std::to_string(fields.Rev) + ", the list is revision " +
                        std::to_string(rev);
        return trust;
    }
    const TStringList named = list.GetSection(KeysSection);
    if (IsEmptySection(named)) return trust;
    auto trusted = minisign::ParsePublicKeys(updateKey);
    for (const std::string& line : named) {
        const auto key = minisign::ParsePublicKey(line);
        if (!key) {
            trust.Refusal = "its keys section holds \"" + line + "\", not a public key (" + key.Error + ")";
            return trust;
        }
        const bool known = std::any_of(trusted.Value->begin(), trusted.Value->end(),
                                       [&](const minisign::TPublicKey& other) { return SameKey(other, *key.Value); });
        if (known) continue;
        trusted.Value->push_back(*key.Value);
        trust.UpdateKey += (trust.UpdateKey.empty() ? "" : " ") + minisign::PublicKeyLine(*key.Value);
    }
    return trust;
}

}  // namespace orvex
