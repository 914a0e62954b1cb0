// orvex-update: the launcher's update run without windows, for scripted installs and for checking
// an installation from a shell.
#include "tools/common/Terminal.h"
#include "TerminalView.h"

#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace {

constexpr int ExitUpdated = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace orvex;

    CLI::App app{"Brings a game installation up to date from its update server, as the launcher does.\n"
                 "Reads _settings.ini in FOLDER (default: the current folder), which becomes the current folder.\n"
                 "Exit status: 0 updated or nothing to do, 1 the update failed, 2 bad usage or no settings file."};
    app.name("orvex-update");
    bool fullCheck = false;
    std::string folder;
    app.add_flag("--full", fullCheck, "compare every listed file, as the launcher's check button does");
    app.add_option("FOLDER", folder, "the installation folder (holds _settings.ini)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : ExitUsage;
    }

    try {
        if (!folder.empty()) os::SetCurrentDir(folder);
    } catch (const EInOutError& e) {
        std::fprintf(stderr, "orvex-update: cannot enter %s: %s\n", folder.c_str(), os::ErrorText(e.ErrorCode).c_str());
        return ExitUsage;
    }

    TStringList settings;
    if (!LoadSettings(settings)) {
        std::fprintf(stderr, "ERROR: _settings.ini Not Found !\n");
        return ExitUsage;
    }

    int32_t createBackup = 0;
    int32_t atRevision = 0;
    try {
        createBackup = StrToInt(settings[CreateBackupPos]);
        atRevision = StrToInt(settings[AtRevisionPos]);
    } catch (const EConvertError& e) {
        std::fprintf(stderr, "orvex-update: %s\n", e.what());
        return ExitUsage;
    }

    const bool interactive = IsTerminal(stdout);
    TerminalView view(settings, stdout, interactive, TerminalWidth(stdout));
    std::string finalStatus;
    {
        HeadlessDispatcher dispatcher;
        GFilesThread run(dispatcher, view);
        run.FUpdatesUrl = settings[UpdatesUrlPos];
        run.FCreateBackup = createBackup;
        run.FAtRevision = atRevision;
        run.FFullCheck = fullCheck;
        run.SelfUpdate = SelfUpdateMode::ReplaceDirectly;
        run.RunUpdate();
        finalStatus = run.Status();
    }
    view.Finish();
    if (interactive) std::printf("%s\n", finalStatus.empty() ? "Up to date" : finalStatus.c_str());
    else if (finalStatus.empty()) std::printf("Up to date\n");
    if (!view.SavedRevision().empty()) std::printf("Revision %s recorded\n", view.SavedRevision().c_str());
    return finalStatus == SUpdateFailed ? ExitFailed : ExitUpdated;
}
