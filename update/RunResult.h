#pragma once
// How an update run ended: the status line, the log's last line and orvex-update's exit code all
// follow from it.
namespace orvex {

inline constexpr const char* SUpdateFailed = "Update Failed";
inline constexpr const char* SAllFilesUpdated = "All the files have been updated";

enum class TRunResult {
    NothingToDo,  // every file was as listed
    Updated,      // every collected file arrived intact
    Failed,       // a file, the list or the server failed
    Refused,      // the list was refused (its signature, sequence number, revision or keys)
};

inline const char* StatusText(TRunResult result) {
    switch (result) {
        case TRunResult::NothingToDo: return "";
        case TRunResult::Updated: return SAllFilesUpdated;
        case TRunResult::Failed:
        case TRunResult::Refused: return SUpdateFailed;
    }
    return SUpdateFailed;
}

inline bool Succeeded(TRunResult result) {
    return result == TRunResult::NothingToDo || result == TRunResult::Updated;
}

}  // namespace orvex
