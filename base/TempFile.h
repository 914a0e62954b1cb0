#pragma once
// A file written beside its target and put in place by one rename, so that the target is always
// either the old file or the complete new one, never a part of it.
#include <string>

namespace orvex {

class TTempFile {
public:
    // Picks a fresh name beside target; creating the file is the caller's, in the way it needs.
    explicit TTempFile(std::string target);
    // Removes the file unless it was committed.
    ~TTempFile();
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    const std::string& Name() const { return FName; }
    const std::string& Target() const { return FTarget; }

    // Renames the file onto the target, replacing it. The file must be closed by then. False, with
    // os::LastError() telling why, leaves the target as it was.
    [[nodiscard]] bool Commit();
    // Commit, raising EFCreateError for the target with the system's reason when it fails.
    void CommitOrRaise();
    // The caller moved the file into place its own way: it is no longer removed.
    void Placed() { FCommitted = true; }

private:
    std::string FTarget;
    std::string FName;
    bool FCommitted = false;
};

// Removes a file of the run's own if it is there; one that cannot be removed stays harmless.
void RemoveIfPresent(const std::string& name);

// A file of the run's own removed on every way out, e.g. a downloaded list once it has been read.
// One that cannot be removed stays harmless: the next run downloads it afresh over it.
class TRemovedOnExit {
public:
    explicit TRemovedOnExit(std::string name) : FName(std::move(name)) {}
    ~TRemovedOnExit();
    TRemovedOnExit(const TRemovedOnExit&) = delete;
    TRemovedOnExit& operator=(const TRemovedOnExit&) = delete;

private:
    std::string FName;
};

}  // namespace orvex
