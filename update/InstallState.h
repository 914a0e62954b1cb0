#pragma once
// What the updater keeps in its own folder between runs, and the commit that makes a run one step.
// A run stages every file it fetches in the staging folder, verified against the list, and changes
// nothing else of the installation. Only when every file is staged does it commit: it writes a
// journal, backs up and replaces each file by a rename, records the revision and removes the
// journal. A commit cut short (the process killed) is completed at the next start from its journal,
// so the installation is at one revision or the next, never a mix, once the updater starts again.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TCommit {
    // Listed paths whose staged files go in place, in this order.
    std::vector<std::string> Files;
    // The revision reached, when it is higher than the installation's: recorded, and the backup
    // folder then belongs to it (emptied first when it held an earlier revision's files).
    std::optional<int32_t> Revision;
    // The replaced files are kept in the backup folder; one already there is never replaced.
    bool Backup = false;
    // Files dropped from the client, removed (kept in the backup folder when backups are on).
    std::vector<std::string> Removed;
    // Every file the committed list names, recorded for the next list to be compared with.
    std::vector<std::string> Listed;
    // One file of an update put in place file by file: the revision is recorded by the last commit.
    bool Partial = false;
};

class TInstallState {
public:
    // Records a revision reached where the settings keep it.
    using TSaveRevision = std::function<void(int32_t revision)>;

    // baseDir ends with a delimiter. Makes the state folder when missing.
    explicit TInstallState(std::string baseDir);

    // Where the file of a listed path is staged.
    std::string Staged(const std::string& path) const;
    // Whether an earlier run staged path with the digest md5 (and did not commit it).
    bool HasStaged(const std::string& path, const std::string& md5) const;
    const std::string& StagingFolder() const { return FStaging; }

    // Where a file of an announced release is staged ahead of its day: apart from the staging folder,
    // which every commit empties.
    std::string Preloaded(const std::string& path) const;
    bool HasPreloaded(const std::string& path, const std::string& md5) const;
    // Moves the preloaded file of path into staging when its digest is md5; whether it did.
    bool TakePreloaded(const std::string& path, const std::string& md5);
    // Keeps the preloaded files only when they are of the release whose list has the hash listHash.
    void BeginPreload(const std::string& listHash);
    // No release is announced any more: its preloaded files go.
    void DropPreloaded();

    // The files the list committed last named; none recorded yet: empty.
    std::vector<std::string> Listed() const;

    // A full check begun and not yet completed, which the next run carries on.
    bool FullCheckOwed() const;
    void OweFullCheck(bool owed);

    // Puts the staged files in place as one step. Raises, naming the files, when some cannot be
    // replaced (a file in use); the journal then stays and the next start completes the commit.
    void Commit(const TCommit& commit, const TSaveRevision& saveRevision);

    // Completes the commit a run left cut short, if any; true when there was one.
    bool Recover(const TSaveRevision& saveRevision);

private:
    void Apply(const TCommit& commit, const TSaveRevision& saveRevision);
    void PrepareBackup(int32_t revision);
    void Remove(const std::string& path, bool backup);

    std::string FBaseDir;
    std::string FFolder;
    std::string FStaging;
    std::string FPreload;
};

}  // namespace orvex
