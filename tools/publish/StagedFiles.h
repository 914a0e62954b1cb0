#pragma once
// The files one publish replaces, written under temporary names beside their targets and put in
// place together at its end, in the order they were staged: players never find the old list naming
// a copy that is already the new one, and a publish killed before that burst leaves the old
// release whole (with temporaries that the next publish removes).
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

class TStagedFiles {
public:
    TStagedFiles() = default;
    // Removes every temporary not put in place: a publish that fails leaves the folder as it was.
    ~TStagedFiles();
    TStagedFiles(const TStagedFiles&) = delete;
    TStagedFiles& operator=(const TStagedFiles&) = delete;

    // A fresh temporary name beside target, for the caller to write; target's folder is created.
    // Safe from several threads.
    std::string Stage(const std::string& target);
    // Stages bytes as target's new content.
    void StageBytes(const std::string& target, const std::string& bytes);
    // target is to be deleted in the burst, at this point of the order.
    void StageRemoval(const std::string& target);
    // Renames every staged file over its target and deletes the removals, in the order staged,
    // with the file mark present for the whole burst: a publish killed or failing inside it leaves
    // the mark beside a list that may name copies already replaced. With nothing staged, an earlier
    // publish's mark is deleted (the folder was found whole).
    // Raises EFCreateError when a rename fails; what was placed before it stays placed.
    void PlaceAll(const std::string& mark);

private:
    struct TEntry {
        std::string Temporary;  // empty: a removal
        std::string Target;
    };
    std::mutex FLock;
    std::vector<TEntry> FEntries;
    std::size_t FPlaced = 0;
};

// The mark's name in the server folder: while it is there, a publish is putting its files in place
// or was stopped while it did, and the copies may not match the list until a publish ends.
inline constexpr const char* PublishMarkName = "publish-in-progress";

// True for a name (without folder) of the form the publisher gives its temporaries:
// TARGET.PROCESS_NUMBER.orvex-part.
bool IsPublishTemporary(const std::string& name);

// Deletes, anywhere under serverDir (links not followed), the temporaries a publish that was
// killed left behind. The number deleted.
std::size_t RemoveLeftoverTemporaries(const std::string& serverDir);

}  // namespace orvex
