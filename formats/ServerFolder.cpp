#include "formats/ServerFolder.h"

#include "base/Os.h"
#include "base/Stream.h"
#include "formats/BZ2Compressor.h"
#include "formats/BZ2FileCheck.h"
#include "formats/LstFile.h"
#include "util/Misc.h"
#include "util/Parallel.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <vector>

namespace orvex {
namespace {

constexpr std::size_t ChunkSize = std::size_t{1} << 20;

std::string Join(const std::string& dir, const std::string& relative) {
    if (dir.empty()) return relative;
    const char last = dir.back();
    return last == '\\' || last == '/' ? dir + relative : dir + os::PathDelim + relative;
}

void ForceParentDirectory(const std::string& path) {
    const auto delim = path.find_last_of("\\/");
    if (delim != std::string::npos && delim > 0) static_cast<void>(os::ForceDirectories(path.substr(0, delim)));  // shows at the write
}

// A file written under a temporary name; deleted unless it was moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : FName(os::TempNameBeside(target)) {}
    ~TemporaryFile() {
        if (!FMoved) static_cast<void>(os::DeleteFile(FName));  // never made, or nothing more to do
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& Name() const { return FName; }
    void MoveTo(const std::string& target) {
        if (!os::ReplaceFile(FName, target)) RaiseInOutError(os::LastError());
        FMoved = true;
    }

private:
    std::string FName;
    bool FMoved = false;
};

void WriteFileInPlace(const std::string& target, const std::string& content) {
    ForceParentDirectory(target);
    TemporaryFile temporary(target);
    {
        TFileStream stream(temporary.Name(), FileMode::Create);
        stream.WriteBuffer(content.data(), content.size());
    }
    temporary.MoveTo(target);
}

bool HasControlOrBar(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32 || c == '|') return true;
    return false;
}

[[noreturn]] void Refuse(const char* what, const std::string& text) {
    throw EPublishError(Format("%s \"%s\" cannot be listed", what, text.c_str()));
}

// The path as listed, with "\" between folders; refuses paths that would leave the folder or
// break the line.
std::string ListedPath(const std::string& path) {
    std::string listed = path;
    for (char& c : listed)
        if (c == '/') c = '\\';
    if (listed.empty() || HasControlOrBar(listed) || listed.find(':') != std::string::npos) Refuse("Path", path);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = listed.find('\\', start);
        const std::string name = listed.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name == "." || name == "..") Refuse("Path", path);
        if (end == std::string::npos) return listed;
        start = end + 1;
    }
}

void CheckSelfName(const std::string& name) {
    if (name.empty() || HasControlOrBar(name) || name.find_first_of("\\/:") != std::string::npos || name == "." ||
        name == "..")
        Refuse("Self entry", name);
}

void CheckHost(const THostEntry& host) {
    if (host.Address.empty() || HasControlOrBar(host.Address)) Refuse("Host address", host.Address);
    if (host.Host.empty() || HasControlOrBar(host.Host)) Refuse("Host name", host.Host);
}

void CheckCopySize(const std::string& listed, int64_t size) {
    // The launcher reads SIZE as a 32-bit number.
    if (size > INT32_MAX)
        throw EPublishError(Format("The compressed copy of \"%s\" is too large to be listed", listed.c_str()));
}

std::string ReadWholeFile(const std::string& fileName) {
    TFileStream stream(fileName, FileMode::OpenRead);
    std::string text;
    char buffer[65536];
    for (std::size_t got; (got = stream.Read(buffer, sizeof buffer)) != 0;) text.append(buffer, got);
    return text;
}

void ListFolderInto(const std::string& dir, const std::string& prefix, TStringList& files) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) RaiseInOutError(os::LastError());
    for (const os::TFolderEntry& entry : entries) {
        const std::string listed = prefix + entry.Name;
        if (!entry.Representable)
            throw EPublishError(Format("The name \"%s\" cannot be written in the list's single-byte code page",
                                       listed.c_str()));
        if (entry.IsFolder)
            ListFolderInto(Join(dir, entry.Name), listed + "\\", files);
        else
            files.push_back(listed);
    }
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The fields of an entry, first field first.
TStringList Fields(const std::string& entry) {
    TStringList fields = SplitStr(entry, "|");
    std::reverse(fields.begin(), fields.end());
    return fields;
}

void RememberEntries(const TStringList& section, std::map<std::string, TPublishedFile>& entries) {
    if (section.size() == 1 && section[0] == "FAIL") return;
    for (const std::string& line : section) {
        const TStringList fields = Fields(line);
        int32_t size = 0;
        if (fields.size() != 3 || !TryStrToInt(fields[2], size)) continue;  // never reused
        entries[fields[0]] = TPublishedFile{fields[0], fields[1], size};
    }
}

void RemoveUnlistedCopies(const std::string& dir, const std::string& prefix, const std::set<std::string>& keep,
                          std::size_t& pruned) {
    std::vector<os::TFolderEntry> entries;
    if (!os::ListFolder(dir, entries)) return;
    for (const os::TFolderEntry& entry : entries) {
        const std::string path = Join(dir, entry.Name);
        const std::string listed = prefix + entry.Name;
        if (entry.IsFolder) {
            RemoveUnlistedCopies(path, listed + "\\", keep, pruned);
            std::vector<os::TFolderEntry> rest;
            if (os::ListFolder(path, rest) && rest.empty()) static_cast<void>(os::RemoveDir(path));  // kept if busy
        } else if (listed.size() > 4 && listed.compare(listed.size() - 4, 4, ".bz2") == 0 && !keep.contains(listed)) {
            if (os::DeleteFile(path)) ++pruned;
        }
    }
}

}  // namespace

TCompressedFile CompressFile(const std::string& source, const std::string& target) {
    TFileStream input(source, FileMode::OpenRead);
    ForceParentDirectory(target);
    TemporaryFile temporary(target);
    TCompressedFile result;
    {
        TFileStream output(temporary.Name(), FileMode::Create);
        TBZ2Compressor compressor(output, 9);
        std::vector<char> buffer(ChunkSize);
        MD5_CTX context;
        MD5Init(context);
        for (std::size_t got; (got = input.Read(buffer.data(), buffer.size())) != 0;) {
            MD5Update(context, buffer.data(), static_cast<uint32_t>(got));
            compressor.Write(buffer.data(), got);
        }
        compressor.Finish();
        MD5Final(context, result.SourceDigest);
        result.Size = compressor.CompressedSize();
    }
    temporary.MoveTo(target);
    return result;
}

std::string FormatUpdateList(const TPublishDescription& description, const TPublishedFolder& folder) {
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + "\r\n"; };
    const auto files = [&line](const char* section, const std::vector<TPublishedFile>& entries) {
        line(std::string("[") + section + "]");
        for (const TPublishedFile& entry : entries) line(entry.Path + "|" + entry.MD5 + "|" + IntToStr(entry.Size));
        line(std::string("[/") + section + "]");
    };

    line("[settings]");
    line("Rev|" + IntToStr(description.Rev));
    line("ModHosts|" + IntToStr(description.ModHosts));
    line("[/settings]");
    line("[hosts]");
    for (const THostEntry& host : description.Hosts) line(host.Address + "|" + host.Host);
    line("[/hosts]");
    if (folder.Self) files("self", {*folder.Self});
    files("files_critical", folder.Critical);
    files("files_normal", folder.Normal);
    return text;
}

TPublishedFolder BuildServerFolder(const std::string& clientDir, const std::string& serverDir,
                                   const TPublishDescription& description) {
    TPublishOptions options;
    options.Incremental = false;
    options.Rev = description.Rev;
    return PublishServerFolder(clientDir, serverDir, description, options).Folder;
}

TStringList ListClientFiles(const std::string& clientDir) {
    TStringList files;
    ListFolderInto(clientDir, "", files);
    std::sort(files.begin(), files.end());
    std::map<std::string, std::string> byFoldedName;
    for (const std::string& file : files) {
        const auto [known, added] = byFoldedName.emplace(LowerAscii(file), file);
        if (!added)
            throw EPublishError(Format("\"%s\" and \"%s\" differ only in letter case: a Windows client cannot hold both",
                                       known->second.c_str(), file.c_str()));
    }
    return files;
}

TUpdateList ReadUpdateList(const std::string& text) {
    TemporaryFile copy(Join(os::TempFolder(), "orvex-list"));
    {
        TFileStream stream(copy.Name(), FileMode::Create);
        stream.WriteBuffer(text.data(), text.size());
    }
    TListFile reader(copy.Name());
    TUpdateList list;
    list.Rev = reader.GetValue("settings", "Rev");
    list.ModHosts = reader.GetValue("settings", "ModHosts");
    list.Hosts = reader.GetSection("hosts");
    list.Self = reader.GetSection("self");
    list.Critical = reader.GetSection("files_critical");
    list.Normal = reader.GetSection("files_normal");
    return list;
}

TPreviousList ReadPreviousList(const std::string& serverDir) {
    TPreviousList previous;
    const std::string packed = Join(serverDir, "files.lst.bz2");
    if (!os::FileExists(packed)) return previous;
    const TStreamCheck check =
        DecodeOneStream(packed, [&previous](const char* data, std::size_t count) { previous.Text.append(data, count); });
    if (check != TStreamCheck::Whole)
        throw EPublishError(Format("The published list \"%s\" %s", packed.c_str(), DescribeStreamCheck(check)));
    const TUpdateList list = ReadUpdateList(previous.Text);
    if (!TryStrToInt(list.Rev, previous.Rev))
        throw EPublishError(Format("The published list \"%s\" has no whole-number Rev", packed.c_str()));
    previous.Present = true;
    RememberEntries(list.Self, previous.Entries);
    RememberEntries(list.Critical, previous.Entries);
    RememberEntries(list.Normal, previous.Entries);
    return previous;
}

TPublishSummary PublishServerFolder(const std::string& clientDir, const std::string& serverDir,
                                    TPublishDescription description, const TPublishOptions& options) {
    if (!description.SelfName.empty()) CheckSelfName(description.SelfName);
    for (const THostEntry& host : description.Hosts) CheckHost(host);
    TStringList critical, normal;
    for (const std::string& path : description.CriticalFiles) critical.push_back(ListedPath(path));
    for (const std::string& path : description.NormalFiles) normal.push_back(ListedPath(path));

    TPreviousList previous;
    try {
        previous = ReadPreviousList(serverDir);
    } catch (const EPublishError&) {
        if (!options.Rev) throw;  // a given Rev makes the damaged list irrelevant
    }

    // Each file is compressed once, however often it is listed.
    TStringList sources;
    std::map<std::string, std::size_t> indexOf;
    const auto add = [&](const std::string& listed) {
        if (indexOf.emplace(listed, sources.size()).second) sources.push_back(listed);
    };
    if (!description.SelfName.empty()) add(description.SelfName);
    for (const std::string& path : critical) add(path);
    for (const std::string& path : normal) add(path);

    std::vector<int64_t> sizes(sources.size());
    TPublishProgress progress;
    progress.FilesTotal = sources.size();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        sizes[i] = std::max<int64_t>(0, os::FileSize(Join(clientDir, sources[i])));
        progress.BytesTotal += sizes[i];
    }
    // Largest first, so no large file starts last on one core while the others idle.
    std::vector<std::size_t> order(sources.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&sizes](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

    TPublishSummary summary;
    std::vector<TPublishedFile> published(sources.size());
    std::mutex reportLock;
    ParallelFor(order.size(), options.Threads, [&](std::size_t k) {
        const std::size_t i = order[k];
        const std::string& listed = sources[i];
        const std::string source = Join(clientDir, listed);
        const std::string copy = Join(serverDir, listed + ".bz2");
        TFileOutcome outcome = TFileOutcome::Reused;
        const auto known = options.Incremental ? previous.Entries.find(listed) : previous.Entries.end();
        if (known != previous.Entries.end() && os::FileSize(copy) == known->second.Size &&
            DigestToHex(FileMD5(source)) == known->second.MD5) {
            published[i] = known->second;
        } else {
            const TCompressedFile compressed = CompressFile(source, copy);
            CheckCopySize(listed, compressed.Size);
            published[i] = TPublishedFile{listed, DigestToHex(compressed.SourceDigest), compressed.Size};
            outcome = TFileOutcome::Compressed;
        }
        const std::lock_guard<std::mutex> lock(reportLock);
        ++progress.FilesDone;
        progress.BytesDone += sizes[i];
        if (outcome == TFileOutcome::Compressed) {
            ++summary.Compressed;
            summary.BytesIn += sizes[i];
            summary.BytesOut += published[i].Size;
        } else {
            ++summary.Reused;
        }
        if (options.OnFile) options.OnFile(published[i], outcome, progress);
    });

    TPublishedFolder& folder = summary.Folder;
    if (!description.SelfName.empty()) folder.Self = published[indexOf.at(description.SelfName)];
    for (const std::string& path : critical) folder.Critical.push_back(published[indexOf.at(path)]);
    for (const std::string& path : normal) folder.Normal.push_back(published[indexOf.at(path)]);

    if (options.Rev) {
        description.Rev = *options.Rev;
    } else {
        description.Rev = previous.Rev;
        if (!previous.Present || FormatUpdateList(description, folder) != previous.Text) {
            if (previous.Rev == INT32_MAX) throw EPublishError("Rev cannot be raised past 2147483647");
            description.Rev = previous.Rev + 1;
        }
    }
    summary.Rev = description.Rev;
    const std::string text = FormatUpdateList(description, folder);
    summary.ListChanged = !previous.Present || text != previous.Text;

    const std::string list = Join(serverDir, "files.lst");
    if (!os::FileExists(list) || ReadWholeFile(list) != text) WriteFileInPlace(list, text);
    if (summary.ListChanged || !os::FileExists(list + ".bz2")) CompressFile(list, list + ".bz2");

    if (options.Prune) {
        std::set<std::string> keep = {"files.lst.bz2"};
        for (const std::string& listed : sources) keep.insert(listed + ".bz2");
        RemoveUnlistedCopies(serverDir, "", keep, summary.Pruned);
    }
    return summary;
}

}  // namespace orvex
