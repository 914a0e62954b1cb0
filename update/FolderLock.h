#pragma once
// One update at a time per installation folder, between the launcher and orvex-update, whatever
// path names the folder and whether the program runs natively or under Wine.
#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

// The lock file's name in the updater's own folder.
inline constexpr const char* LockFileName = "lock";

// Names the one launcher allowed per installation folder after its lock file's identity (the
// volume and the file's number on it), which every path to the folder shares.
std::string InstanceKey(uint64_t volume, uint64_t file);

// An exclusive lock on the first byte of the installation's lock file, taken on construction
// unless another process holds it and given up on destruction or when the process ends. The file
// stays; an ended holder leaves no lock behind.
class TFolderLock {
public:
    // Makes the updater's folder and the lock file when missing. Raises EInOutError when either
    // cannot be made or opened.
    explicit TFolderLock(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // False when another process holds the folder.
    [[nodiscard]] bool Held() const { return FHeld; }
    // The folder's InstanceKey, also when another process holds it.
    const std::string& Key() const { return FKey; }

private:
    struct TState;
    std::string FKey;
    std::unique_ptr<TState> FState;
    bool FHeld = false;
};

// The lock file of the installation at folder, with the updater's folder made when missing.
std::string LockFileOf(const std::string& folder);

// Raises EInOutError for an OS error code met on the lock file at path.
[[noreturn]] void CannotLock(const std::string& path, int errorCode);

}  // namespace orvex
