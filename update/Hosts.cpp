#include "update/Hosts.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/Text.h"
#include "formats/UpdateList.h"
#include "update/HostEntry.h"

#include <vector>

namespace orvex {

namespace {

const char* const SBlockOpening = "#-------- Added by OrvexUpdater --------";
const char* const SBlockClosing = "#-----------------";
const char* const SApplyingHosts = "Applying changes to Hosts";
// "chamged" is deliberate: players and support scripts know the status by this exact text.
const char* const SHostsChanged = "Hosts file chamged";

std::string ReadWholeText(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    std::string text(static_cast<std::size_t>(file.GetSize()), '\0');
    file.ReadBuffer(text.data(), text.size());
    return text;
}

// A line of the file with its own end ("", "\n" or "\r\n"), so that writing it back changes nothing.
struct TLine {
    std::string Text;
    std::string End;
};

std::vector<TLine> SplitLines(const std::string& text) {
    std::vector<TLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        const bool crlf = newline > start && text[newline - 1] == '\r';
        const std::size_t end = crlf ? newline - 1 : newline;
        lines.push_back({text.substr(start, end - start), crlf ? "\r\n" : "\n"});
        start = newline + 1;
    }
    return lines;
}

std::string LineEndOf(const std::vector<TLine>& lines) {
    for (const TLine& line : lines)
        if (!line.End.empty()) return line.End;
    return "\r\n";
}

enum class HostState { NotSeen, CommentedOut, Present };

// Comments out the active lines that name the host with another address; the last matching line decides.
HostState MarkConflictingLines(std::vector<TLine>& lines, const THostEntry& entry) {
    HostState state = HostState::NotSeen;
    for (TLine& line : lines) {
        switch (MatchHostLine(line.Text, entry)) {
            case HostLineMatch::None:
                break;
            case HostLineMatch::SameEntry:
                state = HostState::Present;
                break;
            case HostLineMatch::Conflict:
                // Trimmed as earlier versions wrote every line, so a commented-out line looks the same.
                line.Text = "#" + Trim(line.Text);
                state = HostState::CommentedOut;
                break;
        }
    }
    return state;
}

// Overwrites the file in place, so it keeps its owner, permissions and links (a replacement renamed
// over it would not, and cannot replace a file mounted on its own). Should writing fail, the old text
// goes back: truncating freed its space, so it fits again.
void Rewrite(const std::string& fileName, const std::string& text, const std::string& previous) {
    TFileStream file(fileName, FileMode::Create);
    try {
        file.WriteBuffer(text.data(), text.size());
    } catch (...) {
        try {
            TFileStream restore(fileName, FileMode::Create);
            restore.WriteBuffer(previous.data(), previous.size());
        } catch (const std::exception&) {
            // The first error is the one worth reporting.
        }
        throw;
    }
}

}  // namespace

void EditHosts(const TStringList& entries, const std::string& fileName, const THostsReport& showStatus) {
    std::vector<THostEntry> parsed;
    for (const std::string& entry : entries) parsed.push_back(ParseHostEntry(entry));

    const std::string previous = ReadWholeText(fileName);
    std::vector<TLine> lines = SplitLines(previous);
    const std::string lineEnd = LineEndOf(lines);
    std::string block;
    for (const THostEntry& entry : parsed)
        if (MarkConflictingLines(lines, entry) != HostState::Present) block += entry.Address + "\t" + entry.Host + lineEnd;
    if (block.empty()) return;

    std::string text;
    for (const TLine& line : lines) text += line.Text + line.End;
    if (!lines.empty() && lines.back().End.empty()) text += lineEnd;
    text += SBlockOpening + lineEnd + block + SBlockClosing + lineEnd;

    showStatus(SApplyingHosts);
    Rewrite(fileName, text, previous);
    showStatus(SHostsChanged);
}

void ApplyHosts(const TStringList& entries, const std::string& fileName, const THostsReport& showStatus,
                const THostsReport& notify, const THostsReport& fail) {
    if (fileName.empty()) {
        notify(SHostsNotApplied);
        return;
    }
    try {
        EditHosts(entries, fileName, showStatus);
    } catch (const std::exception& error) {
        // The run ends on it: the player and the operator learn why. An entry may be megabytes long.
        fail(SHostsFailed + (IsEmptySection(entries) ? std::string("ModHosts is 1 but [hosts] has no entries")
                                                        : Shortened(error.what(), 1000)));
        throw;
    }
}

std::string HostsFileIn(const std::string& hostsFolder) {
    if (hostsFolder.empty()) return std::string();
    const std::string msn = hostsFolder + "\\hosts.msn";
    return os::FileExists(msn) ? msn : hostsFolder + "\\hosts";
}

}  // namespace orvex
