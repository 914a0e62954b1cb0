#include "tools/publish/StagedFiles.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/Stream.h"
#include "base/WholeFile.h"

#include <algorithm>
#include <cctype>

namespace orvex {
namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

void RemoveTemporariesIn(const std::string& dir, std::size_t& removed) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) return;
    // Only folders and names of temporaries are looked at closely: a store holds many chunks.
    for (const os::TFolderEntry& entry : entries) {
        const std::string path = JoinPath(dir, entry.Name);
        if (!entry.IsFolder && !IsPublishTemporary(entry.Name)) continue;
        const os::TEntryKind kind = os::EntryKind(path);
        if (kind == os::TEntryKind::Folder)
            RemoveTemporariesIn(path, removed);
        else if (kind == os::TEntryKind::File && IsPublishTemporary(entry.Name) && os::DeleteFile(path))
            ++removed;
    }
}

}  // namespace

TStagedFiles::~TStagedFiles() {
    for (std::size_t i = FPlaced; i < FEntries.size(); ++i)
        if (!FEntries[i].Temporary.empty()) static_cast<void>(os::DeleteFile(FEntries[i].Temporary));  // next publish's
}

std::string TStagedFiles::Stage(const std::string& target) {
    const auto delim = target.find_last_of("\\/");
    if (delim != std::string::npos && delim > 0)
        static_cast<void>(os::ForceDirectories(target.substr(0, delim)));  // a failure shows at the write
    const std::lock_guard<std::mutex> lock(FLock);
    FEntries.push_back(TEntry{os::TempNameBeside(target), target});
    return FEntries.back().Temporary;
}

void TStagedFiles::StageBytes(const std::string& target, const std::string& bytes) {
    TFileStream output(Stage(target), FileMode::Create);
    output.WriteBuffer(bytes.data(), bytes.size());
}

void TStagedFiles::StageRemoval(const std::string& target) {
    const std::lock_guard<std::mutex> lock(FLock);
    FEntries.push_back(TEntry{"", target});
}

void TStagedFiles::PlaceAll(const std::string& mark) {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FPlaced == FEntries.size()) {
        // An earlier publish stopped after its last rename: this one found the folder whole.
        if (os::FileExists(mark) && !os::DeleteFile(mark)) RaiseInOutError(os::LastError(), mark);
        return;
    }
    WriteFileWhole(mark, "a publish is putting its files in place, or was stopped while it did\n");
    for (; FPlaced < FEntries.size(); ++FPlaced) {
        const TEntry& entry = FEntries[FPlaced];
        if (entry.Temporary.empty()) {
            if (os::FileExists(entry.Target) && !os::DeleteFile(entry.Target)) RaiseInOutError(os::LastError(), entry.Target);
        } else if (!os::ReplaceFile(entry.Temporary, entry.Target)) {
            const int code = os::LastError();
            throw EFCreateError(Format(SFCreateError, entry.Target.c_str(), os::ErrorText(code).c_str()));
        }
    }
    if (!os::DeleteFile(mark)) RaiseInOutError(os::LastError(), mark);
}

bool IsPublishTemporary(const std::string& name) {
    if (!os::IsTempName(name)) return false;
    const std::string stem = name.substr(0, name.size() - std::string(os::TempSuffix).size());
    const std::size_t dot = stem.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    const std::string unique = stem.substr(dot + 1);
    const std::size_t bar = unique.find('_');
    return bar != std::string::npos && AllDigits(unique.substr(0, bar)) && AllDigits(unique.substr(bar + 1));
}

std::size_t RemoveLeftoverTemporaries(const std::string& serverDir) {
    std::size_t removed = 0;
    RemoveTemporariesIn(serverDir, removed);
    return removed;
}

}  // namespace orvex
