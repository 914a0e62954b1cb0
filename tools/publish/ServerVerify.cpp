#include "tools/publish/ServerVerify.h"

#include "base/CodePage.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "formats/BZ2FileCheck.h"
#include "formats/LstFile.h"
#include "formats/UpdateList.h"
#include "formats/md5.h"
#include "tools/publish/ChunkVerify.h"
#include "tools/publish/FileText.h"
#include "tools/publish/ListSignature.h"
#include "tools/publish/StagedFiles.h"
#include "update/HostEntry.h"
#include "util/Misc.h"
#include "util/Parallel.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <vector>

namespace orvex {
namespace {

struct TCopyCheck {
    std::string Where;  // how problems name the entry
    std::string Path;   // as listed
    int64_t DecodedSize = -1;  // of the file, once its copy decoded whole
    std::string Copy;   // the file on disk
    std::string Name;   // the copy as its address names it
    std::string MD5;
    int32_t Size = 0;
    TStringList Problems;
};

bool IsDigestText(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void CheckNumber(const std::string& key, const std::string& value, TStringList& problems) {
    int32_t number = 0;
    if (value.empty())
        problems.push_back(std::string(ListFileName) + ": [settings] has no " + key);
    else if (!TryStrToInt(value, number))
        problems.push_back(std::string(ListFileName) + ": " + key + " \"" + value + "\" is not a whole number");
}

// Checks the entry's fields; adds its copy to copies when they are sound.
void CheckEntry(const std::string& serverDir, const std::string& section, const std::string& line, bool self,
                const TInstallPlace& place, unsigned codePage, TStringList& problems, std::vector<TCopyCheck>& copies) {
    const std::string where = section + " entry \"" + line + "\"";
    const TListEntry entry = SplitListEntry(line);
    if (entry.FieldCount != 3) {
        problems.push_back(where + ": has " + std::to_string(entry.FieldCount) + " fields, not 3");
        return;
    }
    TCopyCheck check;
    check.Where = where;
    check.MD5 = entry.MD5;
    bool sound = true;
    // The launcher's rule; a path leaving the installation would leave this folder too.
    if (const auto reason = self ? RefusedSelfName(entry.Path, place) : RefusedListPath(entry.Path, place)) {
        problems.push_back(where + (self ? ": the self name " : ": the path ") +
                           (StaysInside(entry.Path) ? *reason : "leaves the server folder"));
        sound = false;
    }
    if (!IsDigestText(entry.MD5)) {
        problems.push_back(where + ": MD5 \"" + entry.MD5 + "\" is not 32 lowercase hexadecimal digits");
        sound = false;
    }
    if (!TryStrToInt(entry.Size, check.Size) || check.Size < 0) {
        problems.push_back(where + ": SIZE \"" + entry.Size + "\" is not a whole number of 0 or more");
        sound = false;
    }
    if (!sound) return;
    // The copy goes by the file's own name, which the list writes in its code page.
    TListEntry local = entry;
    local.Path = LocalListName(entry.Path, codePage);
    std::string relative = local.CopyName();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    check.Copy = JoinPath(serverDir, relative);
    check.Name = local.CopyAddress();
    check.Path = Utf8Name(local.Path);  // as the chunk index names it
    copies.push_back(std::move(check));
}

// Says how a build puts a damaged copy right: one of another size than listed is compressed again
// by any build, one of the listed size only by build --full.
void AddRepairHint(TCopyCheck& check, bool listedSize) {
    if (check.Problems.empty()) return;
    check.Problems.back() += listedSize ? "; only build --full compresses it again (a build keeps a copy of the listed size)"
                                        : "; a build compresses it again";
}

void CheckCopy(TCopyCheck& check) {
    const int64_t size = os::FileSize(check.Copy);
    if (size < 0) {
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " is missing");
        return;
    }
    if (size != check.Size)
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " has " + std::to_string(size) +
                                 " bytes, the list says " + std::to_string(check.Size));
    MD5_CTX context;
    MD5Init(context);
    int64_t decoded = 0;
    const TStreamCheck stream = DecodeOneStream(check.Copy, [&context, &decoded](const char* data, std::size_t count) {
        detail::MD5UpdateLarge(context, data, count);
        decoded += static_cast<int64_t>(count);
    });
    MD5Digest digest;
    MD5Final(context, digest);
    if (stream != TStreamCheck::Whole)
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " " + DescribeStreamCheck(stream));
    else if (DigestToHex(digest) != check.MD5)
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " decodes to MD5 " + DigestToHex(digest));
    if (stream == TStreamCheck::Whole) check.DecodedSize = decoded;
    AddRepairHint(check, size == check.Size);
}

// The list's [keys] and [hosts] sections as the launcher reads them.
void CheckKeysAndHosts(const TUpdateList& list, TStringList& problems) {
    // The launcher refuses a signed list whose [keys] section holds anything but key lines.
    if (!IsEmptySection(list.Keys))
        for (const std::string& line : list.Keys)
            if (const auto key = minisign::ParsePublicKey(line); !key)
                problems.push_back(std::string(ListFileName) + ": [" + KeysSection + "] line \"" + line +
                                   "\" is not a public key (" + key.Error + ")");
    if (StrToIntDef(list.ModHosts, 0) == 1) {
        if (IsEmptySection(list.Hosts))
            problems.push_back(std::string(ListFileName) + ": ModHosts is 1 but [hosts] has no entries");
        else
            for (const std::string& host : list.Hosts) {
                try {
                    static_cast<void>(ParseHostEntry(host));
                } catch (const EListError& error) {
                    problems.push_back(error.what());
                }
            }
    }
}

std::optional<TSignatureFacts> ReadSignatureFacts(const std::string& serverDir) {
    const std::string path = JoinPath(serverDir, ListSignatureName);
    if (!os::FileExists(path)) return std::nullopt;
    const auto signature = minisign::ParseSignature(ReadWholeFile(path));
    if (!signature) return std::nullopt;
    const auto fields = minisign::ParseTrustedFields(signature.Value->TrustedComment);
    if (!fields) return std::nullopt;
    return TSignatureFacts{minisign::KeyIdText(signature.Value->KeyId), fields.Value->Rev, fields.Value->Seq,
                           fields.Value->Channel, fields.Value->Expires, false};
}

// Decodes every copy on the threads asked for, reporting each as it is done.
void CheckCopies(std::vector<TCopyCheck>& copies, const TVerifyOptions& options, TServerCheck& result) {
    TVerifyProgress progress;
    progress.Total = copies.size();
    for (const TCopyCheck& check : copies) progress.BytesTotal += check.Size;
    std::mutex reportLock;
    ParallelFor(copies.size(), options.Threads, [&](std::size_t i) {
        CheckCopy(copies[i]);
        if (!options.OnProgress) return;
        const std::lock_guard<std::mutex> lock(reportLock);
        ++progress.Done;
        progress.BytesDone += copies[i].Size;
        options.OnProgress(progress);
    });
    for (const TCopyCheck& check : copies) {
        result.Problems.insert(result.Problems.end(), check.Problems.begin(), check.Problems.end());
        if (check.DecodedSize < 0) continue;
        ++result.Copies;
        result.CopyBytes += check.Size;
    }
}

// The chunk store, when the list names an index.
void CheckChunks(const std::string& serverDir, const std::string& listText, const std::vector<TCopyCheck>& copies,
                 const TVerifyOptions& options, TServerCheck& result) {
    TChunkStoreCheck store{TListFile::FromText(listText).GetValue(SettingsSection, IndexKey), {}, options.Deep,
                           options.Threads, {}};
    if (store.IndexHex.empty()) return;
    for (const TCopyCheck& check : copies) store.ListedSizes.emplace(check.Path, check.DecodedSize);
    if (options.OnProgress)
        store.OnFile = [&options](std::size_t done, std::size_t total, int64_t bytesDone, int64_t bytesTotal) {
            options.OnProgress(TVerifyProgress{"chunked files", done, total, bytesDone, bytesTotal});
        };
    TChunkStoreResult chunks = VerifyChunkStore(serverDir, store);
    result.Problems.insert(result.Problems.end(), chunks.Problems.begin(), chunks.Problems.end());
    result.Chunks = chunks.Chunks;
}

}  // namespace

TServerCheck CheckServerFolder(const std::string& serverDir, const TVerifyOptions& options) {
    TServerCheck result;
    TStringList& problems = result.Problems;
    if (const std::string mark = JoinPath(serverDir, PublishMarkName); os::FileExists(mark))
        problems.push_back(os::NativePath(mark) +
                           ": a publish is putting its files in place or was stopped while it did; copies may not "
                           "match the list until a publish ends");
    const std::string packed = JoinPath(serverDir, PackedListName);
    if (!os::FileExists(packed)) {
        problems.push_back(os::NativePath(packed) + " is missing");
        return result;
    }
    std::string text;
    const TStreamCheck stream =
        DecodeOneStream(packed, [&text](const char* data, std::size_t count) { text.append(data, count); });
    if (stream != TStreamCheck::Whole) {
        problems.push_back(os::NativePath(packed) + " " + DescribeStreamCheck(stream));
        if (stream != TStreamCheck::TrailingData) return result;
    }

    const TUpdateList list = ReadUpdateList(text);
    result.Rev = list.Rev;
    CheckNumber("Rev", list.Rev, problems);
    CheckNumber("ModHosts", list.ModHosts, problems);
    const TStringList signature = options.Keys.empty()
                                      ? CheckSignedRev(serverDir, list.Rev)
                                      : CheckListSignature(serverDir, ReadWholeFile(packed), list.Rev, options.Keys,
                                                           std::time(nullptr));
    problems.insert(problems.end(), signature.begin(), signature.end());
    result.Signature = ReadSignatureFacts(serverDir);
    if (result.Signature) result.Signature->Checked = !options.Keys.empty() && signature.empty();
    CheckKeysAndHosts(list, problems);

    // As the publisher: an installation folder of the assumed length, whose launcher is the self entry.
    TInstallPlace place;
    if (!IsEmptySection(list.Self)) place.LauncherName = SplitListEntry(list.Self[0]).Path;
    std::vector<TCopyCheck> copies;
    TListFile listFile = TListFile::FromText(text);
    const unsigned codePage = ListCodePage(listFile);
    if (!IsEmptySection(list.Self))
        CheckEntry(serverDir, SelfSection, list.Self[0], true, place, codePage, problems, copies);
    TCaseTwins twins;
    for (const auto& [name, section] : {std::pair{CriticalSection, &list.Critical}, std::pair{NormalSection, &list.Normal}})
        if (!IsEmptySection(*section))
            for (const std::string& line : *section) {
                CheckEntry(serverDir, name, line, false, place, codePage, problems, copies);
                if (const auto earlier = twins.EarlierOf(SplitListEntry(line).Path))
                    problems.push_back(std::string(name) + " entry \"" + line + "\": differs only in letter case from \"" +
                                       *earlier + "\", listed before it: launchers leave it out");
            }
    result.Files = (IsEmptySection(list.Self) ? 0 : 1) + (IsEmptySection(list.Critical) ? 0 : list.Critical.size()) +
                   (IsEmptySection(list.Normal) ? 0 : list.Normal.size());

    CheckCopies(copies, options, result);
    CheckChunks(serverDir, text, copies, options, result);
    return result;
}

TStringList VerifyServerFolder(const std::string& serverDir, unsigned threads,
                               const std::vector<minisign::TPublicKey>& keys, bool deep) {
    return CheckServerFolder(serverDir, TVerifyOptions{threads, keys, deep, {}}).Problems;
}

}  // namespace orvex
