#include "formats/ServerVerify.h"

#include "base/Os.h"
#include "formats/BZ2FileCheck.h"
#include "formats/ServerFolder.h"
#include "formats/md5.h"
#include "util/Misc.h"
#include "util/Parallel.h"

#include <algorithm>
#include <vector>

namespace orvex {
namespace {

struct TCopyCheck {
    std::string Where;  // how problems name the entry
    std::string Copy;   // the file on disk
    std::string Name;   // the copy as its address names it
    std::string MD5;
    int32_t Size = 0;
    TStringList Problems;
};

std::string Join(const std::string& dir, const std::string& relative) {
    if (dir.empty()) return relative;
    const char last = dir.back();
    return last == '\\' || last == '/' ? dir + relative : dir + os::PathDelim + relative;
}

bool IsDigestText(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// True when the path stays inside the folder: relative, no drive, no "." or ".." and no empty name.
bool StaysInside(const std::string& path, bool bareName) {
    if (path.empty() || path.find(':') != std::string::npos) return false;
    if (bareName && path.find_first_of("\\/") != std::string::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find_first_of("\\/", start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name == "." || name == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool IsEmptySection(const TStringList& section) { return section.size() == 1 && section[0] == "FAIL"; }

void CheckNumber(const std::string& key, const std::string& value, TStringList& problems) {
    int32_t number = 0;
    if (value.empty())
        problems.push_back("files.lst: [settings] has no " + key);
    else if (!TryStrToInt(value, number))
        problems.push_back("files.lst: " + key + " \"" + value + "\" is not a whole number");
}

// Checks the entry's fields; adds its copy to copies when they are sound.
void CheckEntry(const std::string& serverDir, const std::string& section, const std::string& line, bool self,
                TStringList& problems, std::vector<TCopyCheck>& copies) {
    const std::string where = section + " entry \"" + line + "\"";
    TStringList fields = SplitStr(line, "|");
    std::reverse(fields.begin(), fields.end());
    if (fields.size() != 3) {
        problems.push_back(where + ": has " + std::to_string(fields.size()) + " fields, not 3");
        return;
    }
    TCopyCheck check;
    check.Where = where;
    check.MD5 = fields[1];
    bool sound = true;
    if (!StaysInside(fields[0], self)) {
        problems.push_back(where + (self ? ": the name is not a bare file name in the folder"
                                         : ": the path leaves the server folder"));
        sound = false;
    }
    if (!IsDigestText(fields[1])) {
        problems.push_back(where + ": MD5 \"" + fields[1] + "\" is not 32 lowercase hexadecimal digits");
        sound = false;
    }
    if (!TryStrToInt(fields[2], check.Size) || check.Size < 0) {
        problems.push_back(where + ": SIZE \"" + fields[2] + "\" is not a whole number of 0 or more");
        sound = false;
    }
    if (!sound) return;
    std::string relative = fields[0];
    std::replace(relative.begin(), relative.end(), '/', '\\');
    check.Copy = Join(serverDir, relative + ".bz2");
    check.Name = fields[0] + ".bz2";
    std::replace(check.Name.begin(), check.Name.end(), '\\', '/');
    copies.push_back(std::move(check));
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
    const TStreamCheck stream = DecodeOneStream(check.Copy, [&context](const char* data, std::size_t count) {
        detail::MD5UpdateLarge(context, data, count);
    });
    MD5Digest digest;
    MD5Final(context, digest);
    if (stream != TStreamCheck::Whole)
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " " + DescribeStreamCheck(stream));
    else if (DigestToHex(digest) != check.MD5)
        check.Problems.push_back(check.Where + ": the copy " + check.Name + " decodes to MD5 " + DigestToHex(digest));
}

}  // namespace

TStringList VerifyServerFolder(const std::string& serverDir, unsigned threads) {
    TStringList problems;
    const std::string packed = Join(serverDir, "files.lst.bz2");
    if (!os::FileExists(packed)) {
        problems.push_back(packed + " is missing");
        return problems;
    }
    std::string text;
    const TStreamCheck stream =
        DecodeOneStream(packed, [&text](const char* data, std::size_t count) { text.append(data, count); });
    if (stream != TStreamCheck::Whole) {
        problems.push_back(packed + " " + DescribeStreamCheck(stream));
        if (stream != TStreamCheck::TrailingData) return problems;
    }

    const TUpdateList list = ReadUpdateList(text);
    CheckNumber("Rev", list.Rev, problems);
    CheckNumber("ModHosts", list.ModHosts, problems);
    if (StrToIntDef(list.ModHosts, 0) == 1) {
        if (IsEmptySection(list.Hosts)) problems.push_back("files.lst: ModHosts is 1 but [hosts] has no entries");
        else
            for (const std::string& host : list.Hosts)
                if (SplitStr(host, "|").size() < 2)
                    problems.push_back("hosts entry \"" + host + "\": needs ADDRESS|HOST");
    }

    std::vector<TCopyCheck> copies;
    if (!IsEmptySection(list.Self)) CheckEntry(serverDir, "self", list.Self[0], true, problems, copies);
    for (const auto& [name, section] : {std::pair{"files_critical", &list.Critical}, std::pair{"files_normal", &list.Normal}})
        if (!IsEmptySection(*section))
            for (const std::string& line : *section) CheckEntry(serverDir, name, line, false, problems, copies);

    ParallelFor(copies.size(), threads, [&copies](std::size_t i) { CheckCopy(copies[i]); });
    for (const TCopyCheck& check : copies) problems.insert(problems.end(), check.Problems.begin(), check.Problems.end());
    return problems;
}

}  // namespace orvex
