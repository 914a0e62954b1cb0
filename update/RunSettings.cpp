#include "update/RunSettings.h"

#include "base/Exceptions.h"
#include "formats/ReleaseAnnouncement.h"
#include "update/Settings.h"

namespace orvex {

std::optional<uint64_t> RateValue(const std::string& text) {
    uint64_t rate = 0;
    std::size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        rate = rate * 10 + static_cast<uint64_t>(text[at] - '0');
        if (rate > MaxRateLimit) return std::nullopt;
    }
    if (at == 0 && !text.empty()) return std::nullopt;
    if (at < text.size()) {
        const char unit = text[at];
        if (at + 1 != text.size()) return std::nullopt;
        if (unit == 'K' || unit == 'k')
            rate *= 1024;
        else if (unit == 'M' || unit == 'm')
            rate *= 1024 * 1024;
        else
            return std::nullopt;
    }
    if (rate > MaxRateLimit) return std::nullopt;
    return rate;
}

TRunSettings RunSettingsFrom(const TStringList& settings, bool fullCheck) {
    const auto at = [&settings](std::size_t pos) { return ListAt(settings, pos); };
    TRunSettings run;
    run.UpdatesUrl = at(UpdatesUrlPos);
    run.Mirrors = at(MirrorsPos);
    run.CreateBackup = StrToInt(at(CreateBackupPos));
    run.AtRevision = StrToInt(at(AtRevisionPos));
    run.FullCheck = fullCheck;
    run.UpdateKey = at(UpdateKeyPos);
    run.ListSeq = at(ListSeqPos);
    run.Channel = at(ChannelPos);
    // A list made before these keys came (a caller's own) has no place for them.
    run.RolloutNumber = settings.size() > RolloutNumberPos ? StrToIntDef(at(RolloutNumberPos), -1) : -1;
    if (run.RolloutNumber >= RolloutScale) run.RolloutNumber = -1;
    const std::string maxRate = settings.size() > MaxRatePos ? at(MaxRatePos) : std::string();
    const std::optional<uint64_t> rate = RateValue(maxRate);
    if (!rate)
        throw EConvertError("MaxRate: '" + maxRate + "' is not a rate (bytes per second, e.g. 512K or 2M)");
    run.Limits.MaxRate = *rate;
    return run;
}

}  // namespace orvex
