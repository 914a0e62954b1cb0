#include "update/Hosts.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "util/Misc.h"
#include "util/TextReader.h"

namespace orvex {

namespace {

const char* const SBlockOpening = "#-------- Added by OrvexUpdater --------";
const char* const SBlockClosing = "#-----------------";
const char* const SApplyingHosts = "Applying changes to Hosts";
// "chamged" is deliberate: players and support scripts know the status by this exact text.
const char* const SHostsChanged = "Hosts file chamged";

TStringList ReadTrimmedLines(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    TTextReader reader(file);
    TStringList lines;
    std::string line;
    while (reader.ReadLine(line)) lines.push_back(Trim(line));
    return lines;
}

enum class HostState { NotSeen, CommentedOut, Present };

// Comments out the active lines that name host without address; the last such line decides.
HostState MarkConflictingLines(TStringList& lines, const std::string& host, const std::string& address) {
    HostState state = HostState::NotSeen;
    for (std::string& line : lines) {
        if (FindFrom(1, line, host) == 0 || line.front() == '#') continue;
        if (FindFrom(1, line, address + "\t") > 0 || FindFrom(1, line, address + " ") > 0) {
            state = HostState::Present;
        } else {
            line.insert(line.begin(), '#');
            state = HostState::CommentedOut;
        }
    }
    return state;
}

std::string JoinLines(const TStringList& lines, const TStringList& block) {
    std::string text;
    for (const TStringList* list : {&lines, &block})
        for (const std::string& line : *list) text += line + "\r\n";
    return text;
}

}  // namespace

void EditHosts(const TStringList& entries, const std::string& hostsFolder,
               const std::function<void(const std::string&)>& showStatus) {
    if (hostsFolder.empty()) return;
    std::string fileName = hostsFolder + "\\hosts.msn";
    if (!os::FileExists(fileName)) fileName = hostsFolder + "\\hosts";

    TStringList lines = ReadTrimmedLines(fileName);
    TStringList block{SBlockOpening};
    for (const std::string& entry : entries) {
        const TStringList fields = SplitStr(entry, "|");
        const std::string& host = ListAt(fields, 0);
        const std::string& address = ListAt(fields, 1);
        if (MarkConflictingLines(lines, host, address) != HostState::Present) block.push_back(address + "\t" + host);
    }
    if (block.size() == 1) return;
    block.push_back(SBlockClosing);

    const std::string text = JoinLines(lines, block);
    TFileStream file(fileName, FileMode::Create);
    try {
        showStatus(SApplyingHosts);
    } catch (...) {
        // The file is already emptied: it must not stay so.
        file.WriteBuffer(text.data(), text.size());
        throw;
    }
    file.WriteBuffer(text.data(), text.size());
    showStatus(SHostsChanged);
}

}  // namespace orvex
