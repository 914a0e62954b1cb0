#include "formats/ServerFolder.h"

#include "base/Os.h"
#include "base/Stream.h"
#include "formats/BZ2Compressor.h"

#include <map>
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
    if (delim != std::string::npos && delim > 0) os::ForceDirectories(path.substr(0, delim));
}

// A file written under a temporary name; deleted unless it was moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) : FName(os::TempNameBeside(target)) {}
    ~TemporaryFile() {
        if (!FMoved) os::DeleteFile(FName);
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

// Compresses each listed file once, however often it is listed.
class CopyWriter {
public:
    CopyWriter(const std::string& clientDir, const std::string& serverDir) : FClientDir(clientDir), FServerDir(serverDir) {}

    TPublishedFile Publish(const std::string& listed) {
        const auto known = FDone.find(listed);
        if (known != FDone.end()) return known->second;
        const TCompressedFile copy = CompressFile(Join(FClientDir, listed), Join(FServerDir, listed + ".bz2"));
        // The launcher reads SIZE as a 32-bit number.
        if (copy.Size > INT32_MAX)
            throw EPublishError(Format("The compressed copy of \"%s\" is too large to be listed", listed.c_str()));
        return FDone[listed] = TPublishedFile{listed, DigestToHex(copy.SourceDigest), copy.Size};
    }

private:
    std::string FClientDir;
    std::string FServerDir;
    std::map<std::string, TPublishedFile> FDone;
};

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
    if (!description.SelfName.empty()) CheckSelfName(description.SelfName);
    for (const THostEntry& host : description.Hosts) CheckHost(host);
    TStringList critical, normal;
    for (const std::string& path : description.CriticalFiles) critical.push_back(ListedPath(path));
    for (const std::string& path : description.NormalFiles) normal.push_back(ListedPath(path));

    CopyWriter copies(clientDir, serverDir);
    TPublishedFolder folder;
    if (!description.SelfName.empty()) folder.Self = copies.Publish(description.SelfName);
    for (const std::string& path : critical) folder.Critical.push_back(copies.Publish(path));
    for (const std::string& path : normal) folder.Normal.push_back(copies.Publish(path));

    const std::string list = Join(serverDir, "files.lst");
    WriteFileInPlace(list, FormatUpdateList(description, folder));
    CompressFile(list, list + ".bz2");
    return folder;
}

}  // namespace orvex
