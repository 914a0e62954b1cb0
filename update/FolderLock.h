#pragma once
// One update at a time per installation folder, between the launcher and orvex-update.
#include <memory>
#include <string>

namespace orvex {

// Names the one launcher allowed per installation folder. The folder is case-folded by the caller
// for letters beyond ASCII; ASCII letters and trailing delimiters are folded here.
std::string InstanceKey(const std::string& baseDir);

// Taken on construction unless another process holds it, given up on destruction. Windows: the
// launcher's named mutex "Local\" + InstanceKey of the folder; elsewhere an advisory lock on the
// folder itself, so nothing is left behind.
class TFolderLock {
public:
    // Raises EInOutError when the folder cannot be opened to lock it.
    explicit TFolderLock(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // False when another process holds the folder.
    [[nodiscard]] bool Held() const { return FHeld; }
    const std::string& Key() const { return FKey; }

private:
    struct TState;
    std::string FKey;
    std::unique_ptr<TState> FState;
    bool FHeld = false;
};

}  // namespace orvex
