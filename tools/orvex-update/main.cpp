// orvex-update: the launcher's update run without windows, for scripted installs and for checking
// an installation from a shell.
#include "tools/common/Terminal.h"
#include "TerminalView.h"
#include "UpdateArguments.h"

#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "update/Dispatcher.h"
#include "update/FolderLock.h"
#include "update/GetFilesThr.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

constexpr int ExitUpdated = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

using namespace orvex;

// Enters folder (none: stays) and takes the installation's lock (the lock file in the updater's
// folder, made when missing); nothing, after saying why, when either cannot be done or another
// update runs there.
std::unique_ptr<TFolderLock> EnterAndLock(const std::string& folder) {
    try {
        if (!folder.empty()) os::SetCurrentDir(folder);
    } catch (const EInOutError& e) {
        std::fprintf(stderr, "orvex-update: cannot enter %s: %s\n", folder.c_str(), os::ErrorText(e.ErrorCode).c_str());
        return nullptr;
    }
    const std::string installation = os::GetCurrentDir();
    std::unique_ptr<TFolderLock> lock;
    try {
        lock = std::make_unique<TFolderLock>(installation);
    } catch (const EInOutError& e) {
        // Names the file or folder that could not be made or opened, and why.
        std::fprintf(stderr, "orvex-update: %s\n", e.what());
        return nullptr;
    }
    if (!lock->Held()) {
        std::fprintf(stderr, "orvex-update: an update is already running in %s\n", installation.c_str());
        return nullptr;
    }
    return lock;
}

// The run's settings from _settings.ini and the command line; nothing, after saying why, when the
// file is missing or a number in it is not one.
std::optional<TRunSettings> ReadRunSettings(TStringList& settings, const TUpdateArguments& arguments,
                                            const std::string& hostsFile) {
    if (!LoadSettings(settings)) {
        std::fprintf(stderr, "ERROR: _settings.ini Not Found !\n");
        return std::nullopt;
    }
    TRunSettings runSettings;
    try {
        runSettings = RunSettingsFrom(settings, arguments.FullCheck);
    } catch (const EConvertError& e) {
        std::fprintf(stderr, "orvex-update: %s\n", e.what());
        return std::nullopt;
    }
    runSettings.SelfUpdate = SelfUpdateMode::ReplaceDirectly;
    runSettings.HostsFile = hostsFile;
    runSettings.Limits.Threads = arguments.Threads;
    if (arguments.MaxRate) runSettings.Limits.MaxRate = *arguments.MaxRate;
    return runSettings;
}

void PrintSummary(const GFilesThread::TFetchSummary& fetched, double seconds, const TerminalView& view) {
    uint64_t saved = 0;
    for (const auto& built : fetched.Built) {
        std::printf("%s: built from chunks, %llu bytes reused, %llu downloaded\n", built.Path.c_str(),
                    static_cast<unsigned long long>(built.Reused), static_cast<unsigned long long>(built.Downloaded));
        if (built.WholeCopy > built.Downloaded) saved += built.WholeCopy - built.Downloaded;
    }
    std::printf("%d files fetched, %d failed, %llu bytes downloaded in %.1f s", fetched.Installed, fetched.Failed,
                static_cast<unsigned long long>(fetched.Bytes), seconds);
    if (!fetched.Built.empty())
        std::printf(", %llu bytes fewer than the whole copies", static_cast<unsigned long long>(saved));
    std::printf("\n");
    if (!view.SavedRevision().empty()) std::printf("Revision %s recorded\n", view.SavedRevision().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const TParsedArguments parsed = ParseUpdateArguments({argv + 1, argv + argc}, SlashOptionsTaken());
    if (parsed.Action == TParsedArguments::TAction::ShowHelp) {
        std::fputs(UpdateHelpText, stdout);
        return ExitUpdated;
    }
    if (parsed.Action == TParsedArguments::TAction::Refuse) {
        std::fprintf(stderr, "%s\nRun with --help for more information.\n", parsed.Error.c_str());
        return ExitUsage;
    }
    // Named from where the tool was started, before FOLDER becomes the current folder.
    const std::string hostsFile = AbsolutePath(parsed.Arguments.HostsFile);
    const std::unique_ptr<TFolderLock> lock = EnterAndLock(parsed.Arguments.Folder);
    if (!lock) return ExitUsage;
    TStringList settings;
    const std::optional<TRunSettings> runSettings = ReadRunSettings(settings, parsed.Arguments, hostsFile);
    if (!runSettings) return ExitUsage;

    TerminalView view(settings, stdout, IsTerminal(stdout), TerminalWidth(stdout));
    TRunResult result = TRunResult::Failed;
    GFilesThread::TFetchSummary fetched;
    const auto start = std::chrono::steady_clock::now();
    {
        // The bars are drawn as fast as the terminal takes them; the run does not wait for each.
        HeadlessDispatcher dispatcher(true);
        GFilesThread run(dispatcher, view, *runSettings);
        run.RunUpdate();
        result = run.Result();
        fetched = run.Fetched();
    }
    view.Conclude(StatusText(result));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    PrintSummary(fetched, took.count(), view);
    return Succeeded(result) ? ExitUpdated : ExitFailed;
}
