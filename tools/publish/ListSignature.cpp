#include "tools/publish/ListSignature.h"

#include "base/Os.h"
#include "base/Path.h"
#include "formats/UpdateList.h"
#include "tools/publish/FileText.h"
#include "tools/publish/ServerFolder.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace orvex {
namespace {

std::string SignaturePath(const std::string& serverDir) { return JoinPath(serverDir, ListSignatureName); }

std::optional<minisign::TTrustedFields> SignedFields(const std::string& signatureText) {
    const auto signature = minisign::ParseSignature(signatureText);
    if (!signature) return std::nullopt;
    return minisign::ParseTrustedFields(signature.Value->TrustedComment).Value;
}

// The channel serverDir's signature names, whichever key made it; empty when none or no signature.
std::string PublishedChannel(const std::string& serverDir) {
    const std::string path = SignaturePath(serverDir);
    if (!os::FileExists(path)) return {};
    const auto fields = SignedFields(ReadWholeFile(path));
    return fields ? fields->Channel : std::string();
}

// The number seqFile keeps; 0 when there is none.
uint64_t KeptSequence(const std::string& seqFile) {
    if (seqFile.empty() || !os::FileExists(seqFile)) return 0;
    const std::string text = Trim(ReadWholeFile(seqFile));
    uint64_t seq = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seq);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw EPublishError(Format("\"%s\" does not hold a sequence number: give one with --seq", seqFile.c_str()));
    return seq;
}

// The checked trusted comment of serverDir's signature when key made it over the list there.
std::optional<minisign::TTrustedFields> KeySignedFields(const std::string& serverDir, const minisign::TSecretKey& key) {
    const std::string path = SignaturePath(serverDir);
    const std::string packed = JoinPath(serverDir, PackedListName);
    if (!os::FileExists(path) || !os::FileExists(packed)) return std::nullopt;
    const auto verification = minisign::Verify({key.PublicKey()}, ReadWholeFile(path), ReadWholeFile(packed));
    if (verification.Verdict != minisign::TVerdict::Ok) return std::nullopt;
    return minisign::ParseTrustedFields(verification.TrustedComment).Value;
}

}  // namespace

uint64_t NextSequence(const std::string& serverDir, const std::string& seqFile) {
    const std::string path = SignaturePath(serverDir);
    uint64_t last = KeptSequence(seqFile);
    if (os::FileExists(path)) {
        const auto fields = SignedFields(ReadWholeFile(path));
        if (!fields)
            throw EPublishError(Format("The published signature \"%s\" has no readable seq to count on from: "
                                       "give one with --seq",
                                       path.c_str()));
        last = std::max(last, fields->Seq);
    }
    if (last == UINT64_MAX) throw EPublishError("seq cannot be raised past its largest value");
    return last + 1;
}

void RecordSequence(const std::string& seqFile, uint64_t seq) {
    if (!seqFile.empty() && KeptSequence(seqFile) < seq) WriteFileInPlace(seqFile, std::to_string(seq) + "\n");
}

std::size_t TrustedKeyCount(const minisign::TPublicKey& key, const std::vector<minisign::TPublicKey>& named) {
    std::vector<minisign::TPublicKey> trusted{key};
    for (const minisign::TPublicKey& next : named)
        if (std::none_of(trusted.begin(), trusted.end(), [&](const minisign::TPublicKey& other) {
                return other.KeyId == next.KeyId && other.Key == next.Key;
            }))
            trusted.push_back(next);
    return trusted.size();
}

TSignedSummary SignOrKeep(const std::string& serverDir, const std::string& packed, const TListSigning& signing,
                          int32_t rev, bool listChanged, uint64_t seq) {
    const std::string channel = signing.Channel ? *signing.Channel : PublishedChannel(serverDir);
    if (!listChanged && !signing.Seq && !signing.Expires) {
        const auto current = KeySignedFields(serverDir, signing.Key);
        if (current && current->Rev == static_cast<uint64_t>(rev) && !current->Expires && current->Channel == channel) {
            RecordSequence(signing.SeqFile, current->Seq);
            return {false, current->Seq, ""};
        }
    }
    RecordSequence(signing.SeqFile, seq);
    const minisign::TTrustedFields fields{static_cast<uint64_t>(rev), seq, signing.Expires, channel};
    return {true, seq,
            minisign::Sign(signing.Key, packed, minisign::FormatTrustedFields(fields),
                           "signature from orvex-publish secret key")};
}

std::string UtcTimeText(uint64_t unixSeconds) {
    using namespace std::chrono;
    constexpr uint64_t LastSecondOfYear9999 = 253402300799;
    if (unixSeconds > LastSecondOfYear9999) return "after the year 9999";
    const sys_seconds time{seconds{static_cast<int64_t>(unixSeconds)}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<seconds> clock{time - day};
    return Format("%04d-%02u-%02u %02lld:%02lld:%02lld UTC", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
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
    if (!os::FileExists(path)) return {os::NativePath(path) + " is missing"};
    const std::string where = std::string(ListSignatureName) + ": ";
    const auto verification = minisign::Verify(keys, ReadWholeFile(path), packedList);
    if (verification.Verdict != minisign::TVerdict::Ok) return {where + verification.Reason};
    const auto fields = minisign::ParseTrustedFields(verification.TrustedComment);
    if (!fields) return {where + "trusted comment \"" + verification.TrustedComment + "\": " + fields.Error};
    TStringList problems;
    if (std::to_string(fields.Value->Rev) != listRev)
        problems.push_back(where + "signs rev " + std::to_string(fields.Value->Rev) + ", the list's Rev is " + listRev);
    if (fields.Value->Expires && *fields.Value->Expires <= static_cast<uint64_t>(now))
        problems.push_back(where + "expired at " + UtcTimeText(*fields.Value->Expires) + " (Unix time " +
                           std::to_string(*fields.Value->Expires) + ")");
    return problems;
}

}  // namespace orvex
