#include "update/SelfUpdate.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/TempFile.h"
#include "base/Path.h"
#include "formats/UpdateList.h"
#include "formats/md5.h"
#include "update/RunReports.h"
#include "util/Misc.h"

namespace orvex {

namespace {

// Update.bat ends this process and starts name in its place: only this launcher's own file.
bool TakenByBatchFile(const std::string& name, const TSelfUpdateSteps& steps) {
    if (SameFileName(name, steps.Launcher.FileName) && steps.Launcher.ProcessId != 0) return true;
    steps.Notify("The self entry \"" + name + "\" is not this launcher's file (" +
                 (steps.Launcher.FileName.empty() ? std::string("unknown") : "\"" + steps.Launcher.FileName + "\"") +
                 "): left out");
    return false;
}

void PutInPlace(const std::string& fresh, const std::string& localFile, const TSelfUpdateSteps& steps) {
    if (steps.Mode == SelfUpdateMode::ReplaceDirectly) {
        if (!os::ReplaceFile(fresh, localFile)) RaiseInOutError(os::LastError());
        return;
    }
    // The batch file names the launcher by the letters of its running file, which it swaps.
    os::SetCurrentDir(steps.BaseDir);
    WriteUpdateBat(steps.Launcher.FileName, steps.Launcher.ProcessId);
    if (!RunFile(steps.BaseDir + UpdateBatName)) throw Exception(std::string(UpdateBatName) + " did not start");
}

}  // namespace

void UpdateSelf(const std::string& line, const TSelfUpdateSteps& steps) {
    if (line.empty()) return;
    const TListEntry entry = ReadListEntry(line);
    const std::string& name = entry.Path;
    if (const auto reason = RefusedSelfName(name, LocalInstallPlace(steps.BaseDir, ""))) {
        steps.Notify("The self entry " + Refusal(name, *reason));
        return;
    }
    const bool batchFile = steps.Mode == SelfUpdateMode::BatchFile;
    if (batchFile && !TakenByBatchFile(name, steps)) return;
    const std::string localFile = JoinPath(steps.BaseDir, name);
    if (DigestToHex(FileMD5(localFile)) == entry.MD5) return;
    const std::string packed =
        (steps.StagingFolder.empty() ? localFile : JoinPath(steps.StagingFolder, name)) + PackedSuffix;
    MakeFolderOf(packed);
    const std::string fresh = localFile + ".New";
    if (!steps.Download(entry, packed)) return;
    try {
        steps.Unpack(packed, fresh);
        if (DigestToHex(FileMD5(fresh)) != entry.MD5) throw Exception("The new " + name + " does not match the update list");
        PutInPlace(fresh, localFile, steps);
        // A batch file swaps it only once the launcher has ended; a direct replacement is done now.
        if (!batchFile) steps.Notify("The launcher executable " + name + " was replaced by the update list's new version");
    } catch (const std::exception& error) {
        // Only the run's own files go; the running executable is never touched. A batch file that
        // did not start would otherwise swap the launcher at some later, unrelated start.
        if (batchFile) RemoveIfPresent(JoinPath(steps.BaseDir, UpdateBatName));
        RemoveIfPresent(fresh);
        RemoveIfPresent(packed);
        steps.Notify(std::string("The launcher was not replaced: ") + error.what());
    }
}

}  // namespace orvex
