#include "update/RunSettings.h"

#include "base/Exceptions.h"
#include "formats/ReleaseAnnouncement.h"
#include "update/Settings.h"

namespace orvex {

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
    run.RolloutNumber = StrToIntDef(at(RolloutNumberPos), -1);
    if (run.RolloutNumber >= RolloutScale) run.RolloutNumber = -1;
    return run;
}

}  // namespace orvex
