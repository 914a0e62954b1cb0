#include "update/InstallState.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/TempFile.h"
#include "base/WholeFile.h"
#include "base/Text.h"
#include "formats/md5.h"
#include "update/Leftovers.h"
#include "update/StateFolder.h"
#include "util/Backup.h"

namespace orvex {

namespace {

constexpr const char* JournalName = "journal";
constexpr const char* BackupRevisionName = "backup-revision";
constexpr const char* FullCheckName = "full-check-owed";
constexpr const char* ListedName = "listed";
constexpr const char* StagingName = "staging";
constexpr const char* PreloadName = "preload";
// The hash of the list of the release the preload folder holds files of.
constexpr const char* PreloadOfName = "preload-of";
constexpr const char* BackupFolderName = "backup";

std::string JournalText(const TCommit& commit) {
    std::string text = commit.Backup ? "backup 1\n" : "backup 0\n";
    if (commit.Partial) text += "partial\n";
    if (commit.Revision) text += "revision " + std::to_string(*commit.Revision) + "\n";
    for (const std::string& path : commit.Files) text += "file " + path + "\n";
    for (const std::string& path : commit.Removed) text += "remove " + path + "\n";
    for (const std::string& path : commit.Listed) text += "listed " + path + "\n";
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

// The journal is written whole, so it is complete when it is there. Still, nothing it names outside
// the installation or inside the updater's own folder is touched.
TCommit ParseJournal(const std::string& text) {
    const auto inside = [](const std::string& path) {
        return StaysInside(path) && !SameFileName(path.substr(0, path.find_first_of("\\/")), StateFolderName);
    };
    TCommit commit;
    for (const std::string& line : Lines(text)) {
        if (StartsWith(line, "file ") && inside(line.substr(5))) commit.Files.push_back(line.substr(5));
        else if (StartsWith(line, "remove ") && inside(line.substr(7))) commit.Removed.push_back(line.substr(7));
        else if (StartsWith(line, "listed ")) commit.Listed.push_back(line.substr(7));
        else if (line == "backup 1") commit.Backup = true;
        else if (line == "partial") commit.Partial = true;
        else if (int32_t revision = 0; StartsWith(line, "revision ") && TryStrToInt(line.substr(9), revision))
            commit.Revision = revision;
    }
    return commit;
}

}  // namespace

TInstallState::TInstallState(std::string baseDir)
    : FBaseDir(std::move(baseDir)), FFolder(EnsureStateFolder(FBaseDir)), FStaging(JoinPath(FFolder, StagingName)),
      FPreload(JoinPath(FFolder, PreloadName)) {}

std::string TInstallState::Staged(const std::string& path) const { return JoinPath(FStaging, path); }

bool TInstallState::HasStaged(const std::string& path, const std::string& md5) const {
    const std::string staged = Staged(path);
    return os::FileExists(staged) && DigestToHex(FileMD5(staged)) == md5;
}

std::string TInstallState::Preloaded(const std::string& path) const { return JoinPath(FPreload, path); }

bool TInstallState::HasPreloaded(const std::string& path, const std::string& md5) const {
    const std::string preloaded = Preloaded(path);
    return os::FileExists(preloaded) && DigestToHex(FileMD5(preloaded)) == md5;
}

bool TInstallState::TakePreloaded(const std::string& path, const std::string& md5) {
    if (!HasPreloaded(path, md5)) return false;
    MakeFolderOf(Staged(path));
    return os::ReplaceFile(Preloaded(path), Staged(path));
}

void TInstallState::BeginPreload(const std::string& listHash) {
    const std::string record = JoinPath(FFolder, PreloadOfName);
    if (ReadFileWhole(record) == listHash) return;
    DropPreloaded();
    WriteFileWhole(record, listHash);
}

void TInstallState::DropPreloaded() {
    if (!os::DirectoryExists(FPreload) && !os::FileExists(JoinPath(FFolder, PreloadOfName))) return;
    static_cast<void>(os::DeleteFolder(FPreload));
    RemoveIfPresent(JoinPath(FFolder, PreloadOfName));
}

std::vector<std::string> TInstallState::Listed() const {
    const auto text = ReadFileWhole(JoinPath(FFolder, ListedName));
    return text ? Lines(*text) : std::vector<std::string>();
}

bool TInstallState::FullCheckOwed() const { return os::FileExists(JoinPath(FFolder, FullCheckName)); }

void TInstallState::OweFullCheck(bool owed) {
    const std::string marker = JoinPath(FFolder, FullCheckName);
    if (owed && !os::FileExists(marker)) WriteFileWhole(marker, "");
    if (!owed) RemoveIfPresent(marker);
}

void TInstallState::Commit(const TCommit& commit, const TSaveRevision& saveRevision) {
    // Nothing to replace or remove: there is no half way to journal.
    if (commit.Files.empty() && commit.Removed.empty()) return Apply(commit, saveRevision);
    // A file in use (Windows) would stop the commit half way: then nothing is replaced.
    for (const std::string& path : commit.Files) {
        const std::string local = JoinPath(FBaseDir, path);
        if (!os::CanReplace(local))
            throw EFCreateError(Format(SFCreateError, local.c_str(), os::ErrorText(os::LastError()).c_str()));
    }
    WriteFileWhole(JoinPath(FFolder, JournalName), JournalText(commit));
    Apply(commit, saveRevision);
}

bool TInstallState::Recover(const TSaveRevision& saveRevision) {
    const auto journal = ReadFileWhole(JoinPath(FFolder, JournalName));
    if (!journal) return false;
    // Backup copies are made only inside a commit: one cut short may have left its temporaries. They
    // go before the commit is completed, while the journal still tells of it: a recovery cut short
    // after the journal went would leave them to no one.
    RemoveOwnTemporariesUnder(FBaseDir + BackupFolderName);
    Apply(ParseJournal(*journal), saveRevision);
    return true;
}

// Every step can be done again: a staged file still there has not been put in place yet, a backup
// already there is kept, and the backup folder is emptied once per revision.
void TInstallState::Apply(const TCommit& commit, const TSaveRevision& saveRevision) {
    if (commit.Backup && commit.Revision) PrepareBackup(*commit.Revision);
    const std::string backupFolder = FBaseDir + BackupFolderName;
    std::string refused;
    for (const std::string& path : commit.Files) {
        const std::string staged = Staged(path);
        if (!os::FileExists(staged)) continue;
        const std::string local = JoinPath(FBaseDir, path);
        // The backup is a courtesy: one that cannot be made does not hold the update back.
        if (commit.Backup && !os::FileExists(JoinPath(backupFolder, path)))
            static_cast<void>(CopyToBackup(local, backupFolder, path));
        MakeFolderOf(local);
        if (!os::ReplaceFile(staged, local))
            refused += (refused.empty() ? "" : ", ") + path + " (" + os::ErrorText(os::LastError()) + ")";
    }
    if (!refused.empty()) throw Exception("Not replaced yet, completed at the next start: " + refused);
    for (const std::string& path : commit.Removed) Remove(path, commit.Backup);
    if (!commit.Partial) {
        std::string listed;
        for (const std::string& path : commit.Listed) listed += path + "\n";
        const std::string record = JoinPath(FFolder, ListedName);
        if (ReadFileWhole(record) != listed) WriteFileWhole(record, listed);
        if (commit.Revision) saveRevision(*commit.Revision);
    }
    RemoveIfPresent(JoinPath(FFolder, JournalName));
    if (!commit.Partial) static_cast<void>(os::DeleteFolder(FStaging));
}

// A file dropped from the client goes, kept in the backup folder when backups are on; a link of its
// name is removed itself.
void TInstallState::Remove(const std::string& path, bool backup) {
    const std::string local = JoinPath(FBaseDir, path);
    if (os::IsLink(local)) {
        static_cast<void>(os::RemoveLink(local));
        return;
    }
    if (!os::FileExists(local)) return;
    const std::string backupFolder = FBaseDir + BackupFolderName;
    if (backup && !os::FileExists(JoinPath(backupFolder, path))) static_cast<void>(CopyToBackup(local, backupFolder, path));
    static_cast<void>(os::DeleteFile(local));
}

// The backup folder holds the files the commits of one revision replaced. A commit of a later
// revision empties it first, once: the revision it belongs to is recorded before anything is copied.
void TInstallState::PrepareBackup(int32_t revision) {
    const std::string record = JoinPath(FFolder, BackupRevisionName);
    const auto held = ReadFileWhole(record);
    if (held && *held == std::to_string(revision)) return;
    const std::string backupFolder = FBaseDir + BackupFolderName;
    static_cast<void>(os::DeleteFolder(backupFolder));
    if (!os::DirectoryExists(backupFolder) && !os::CreateDir(backupFolder)) RaiseInOutError(os::LastError());
    WriteFileWhole(record, std::to_string(revision));
}

}  // namespace orvex
