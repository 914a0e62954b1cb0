// orvex-update: the launcher's update run without windows, for scripted installs and for checking
// an installation from a shell.
#include "tools/common/Terminal.h"
#include "tools/common/Version.h"
#include "RunSummary.h"
#include "TerminalView.h"
#include "UpdateArguments.h"

#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "update/Dispatcher.h"
#include "update/FolderLock.h"
#include "update/GetFilesThr.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

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
        std::fprintf(stderr, "orvex-update: ERROR: _settings.ini Not Found ! (in %s)\n", os::GetCurrentDir().c_str());
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

// The details when asked for, the result, then the counts: the last lines are the run's outcome.
void PrintOutcome(const GFilesThread::TFetchSummary& fetched, double seconds, const std::string& result,
                  bool verbose, TerminalView& view) {
    view.Conclude(result, verbose ? DetailLines(fetched) : std::vector<std::string>{});
    std::printf("%s\n", SummaryLine(fetched, seconds).c_str());
    if (!view.SavedRevision().empty()) std::printf("Revision %s recorded\n", view.SavedRevision().c_str());
}

// Has the view draw what its redraw interval held back while the run is quiet (a slow server).
class TRedrawTicker {
public:
    TRedrawTicker(IDispatcher& dispatcher, TerminalView& view)
        : FThread([&dispatcher, &view](std::stop_token stop) {
              std::mutex lock;
              std::condition_variable_any never;
              std::unique_lock<std::mutex> held(lock);
              for (;;) {
                  static_cast<void>(never.wait_for(held, stop, TerminalView::RedrawInterval, [] { return false; }));
                  if (stop.stop_requested()) return;
                  try {
                      dispatcher.Post([&view] { view.Tick(); });
                  } catch (const std::exception&) {
                      return;  // the dispatcher has stopped
                  }
              }
          }) {}

private:
    std::jthread FThread;
};

}  // namespace

int main(int argc, char** argv) {
    const TParsedArguments parsed = ParseUpdateArguments({argv + 1, argv + argc}, SlashOptionsTaken());
    if (parsed.Action == TParsedArguments::TAction::ShowHelp) {
        std::fputs(UpdateHelpText, stdout);
        return ExitUpdated;
    }
    if (parsed.Action == TParsedArguments::TAction::ShowVersion) {
        std::printf("orvex-update %s\n", OrvexVersion);
        return ExitUpdated;
    }
    if (parsed.Action == TParsedArguments::TAction::Refuse) {
        std::fprintf(stderr, "orvex-update: %s\nRun with --help for more information.\n", parsed.Error.c_str());
        return ExitUsage;
    }
    // Named from where the tool was started, before FOLDER becomes the current folder.
    const std::string hostsFile = AbsolutePath(parsed.Arguments.HostsFile);
    const std::unique_ptr<TFolderLock> lock = EnterAndLock(parsed.Arguments.Folder);
    if (!lock) return ExitUsage;
    TStringList settings;
    const std::optional<TRunSettings> runSettings = ReadRunSettings(settings, parsed.Arguments, hostsFile);
    if (!runSettings) return ExitUsage;

    const bool interactive = IsTerminal(stdout);
    TerminalView view(settings, stdout, stderr, interactive, TerminalWidth(stdout));
    TRunResult result = TRunResult::Failed;
    GFilesThread::TFetchSummary fetched;
    const auto start = std::chrono::steady_clock::now();
    {
        // The bars are drawn as fast as the terminal takes them; the run does not wait for each.
        HeadlessDispatcher dispatcher(true);
        std::optional<TRedrawTicker> ticker;
        if (interactive) ticker.emplace(dispatcher, view);
        GFilesThread run(dispatcher, view, *runSettings);
        run.RunUpdate();
        result = run.Result();
        fetched = run.Fetched();
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    PrintOutcome(fetched, took.count(), StatusText(result), parsed.Arguments.Verbose, view);
    return Succeeded(result) ? ExitUpdated : ExitFailed;
}
