// A stand-in launcher for the self-update test, built twice with different LAUNCHER_VERSION.
// Started in a folder with _settings.ini it notes "vN started" in started.log, runs an update with
// the batch-file self-update and writes every report to events.log. When the run has started
// Update.bat it waits to be ended by it, as the real launcher keeps running; otherwise it notes
// "vN done" and ends. A second start of one version only notes "vN started" and ends, so a batch
// file that keeps starting the old launcher cannot loop on behind the test.
#include "update/Settings.h"
#include "update/Dispatcher.h"
#include "update/GetFilesThr.h"
#include "update/ProgressView.h"

#include <windows.h>

#include <cstdio>
#include <string>

#ifndef LAUNCHER_VERSION
#error LAUNCHER_VERSION must be defined
#endif
#define LAUNCHER_TEXT_(v) #v
#define LAUNCHER_TEXT(v) LAUNCHER_TEXT_(v)

namespace {

const std::string Version = "v" LAUNCHER_TEXT(LAUNCHER_VERSION);

void Note(const char* file, const std::string& line) {
    if (std::FILE* out = std::fopen(file, "ab")) {
        std::fprintf(out, "%s\n", line.c_str());
        std::fclose(out);
    }
}

// The file this stand-in runs from, as the real launcher names itself.
std::string OwnFileName() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    return full.substr(full.find_last_of('\\') + 1);
}

class LogView final : public orvex::IProgressView {
public:
    void ShowStatus(const std::string& status) override { Note("events.log", "status:" + status); }
    void SetGaugeMax(int32_t gauge, int32_t value) override {
        Note("events.log", "max" + std::to_string(gauge) + ":" + std::to_string(value));
    }
    void SetFileProgress(int32_t) override {}
    void SetTotalProgress(int32_t) override {}
    void SaveRevision(const std::string& revision) override { Note("events.log", "save:" + revision); }
    void SaveListTrust(const std::string&, const std::string& listSeq) override {
        Note("events.log", "trust:" + listSeq);
    }
    void SaveRolloutNumber(const std::string&) override {}
    void LockButtons() override { Note("events.log", "lock"); }
    void UnlockButtons() override { Note("events.log", "unlock"); }
    void Notice(const std::string& text) override { Note("events.log", "notice:" + text); }
};

// True when started.log already notes a start of this version: a batch file that fails to swap
// starts the old launcher again and again, each downloading the new one.
bool StartedBefore() {
    std::string log;
    if (std::FILE* in = std::fopen("started.log", "rb")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) != 0;) log.append(buffer, got);
        std::fclose(in);
    }
    return log.find(Version + " started\n") != std::string::npos;
}

}  // namespace

int main() {
    using namespace orvex;
    // Started again: noted, and the loop ends here instead of running on behind the test.
    const bool again = StartedBefore();
    Note("started.log", Version + " started");
    if (again) return 3;
    TStringList settings;
    if (!LoadSettings(settings)) return 2;
    std::string status;
    {
        HeadlessDispatcher dispatcher;
        LogView view;
        TRunSettings runSettings;
        runSettings.UpdatesUrl = settings[UpdatesUrlPos];
        runSettings.AtRevision = StrToIntDef(settings[AtRevisionPos], 0);
        runSettings.HostsFolder.clear();
        runSettings.SelfUpdate = SelfUpdateMode::BatchFile;
        runSettings.Launcher = TLauncherProcess{OwnFileName(), static_cast<uint32_t>(::GetCurrentProcessId())};
        GFilesThread run(dispatcher, view, runSettings);
        run.RunUpdate();
        status = run.Status();
    }
    if (LAUNCHER_VERSION == 1) {
        Note("started.log", Version + " waits for Update.bat");
        ::Sleep(60000);
        Note("started.log", Version + " was not ended");
        return 1;
    }
    Note("started.log", Version + " done: " + status);
    return 0;
}
