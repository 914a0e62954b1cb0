// A stand-in launcher for the self-update test, built twice with different LAUNCHER_VERSION.
// Started in a folder with _settings.ini it notes "vN started" in started.log, runs an update with
// the batch-file self-update and writes every report to events.log. When the run has started
// Update.bat it waits to be ended by it, as the real launcher keeps running; otherwise it notes
// "vN done" and ends.
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

class LogView final : public orvex::IProgressView {
public:
    void ShowStatus(const std::string& status) override { Note("events.log", "status:" + status); }
    void SetGaugeMax(int32_t gauge, int32_t value) override {
        Note("events.log", "max" + std::to_string(gauge) + ":" + std::to_string(value));
    }
    void SetFileProgress(int32_t) override {}
    void SetTotalProgress(int32_t) override {}
    void SaveRevision(const std::string& revision) override { Note("events.log", "save:" + revision); }
    void LockButtons() override { Note("events.log", "lock"); }
    void UnlockButtons() override { Note("events.log", "unlock"); }
    void Notice(const std::string& text) override { Note("events.log", "notice:" + text); }
};

}  // namespace

int main() {
    using namespace orvex;
    Note("started.log", Version + " started");
    TStringList settings;
    if (!LoadSettings(settings)) return 2;
    std::string status;
    {
        HeadlessDispatcher dispatcher;
        LogView view;
        GFilesThread run(dispatcher, view);
        run.FUpdatesUrl = settings[UpdatesUrlPos];
        run.FAtRevision = StrToIntDef(settings[AtRevisionPos], 0);
        run.HostsFolder.clear();
        run.SelfUpdate = SelfUpdateMode::BatchFile;
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
