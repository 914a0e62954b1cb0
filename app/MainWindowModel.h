#pragma once
// The launcher main window's decisions: its controls' state, what each event and each report of an
// update run does to them. The Windows window paints this state and forwards events here.
#include "base/Text.h"
#include "ui/ImgBtn.h"
#include "update/FolderLock.h"  // InstanceKey, which InstanceTag condenses
#include "update/Gauge.h"
#include "update/GetFilesThr.h"
#include "update/ProgressView.h"
#include "update/RateMeter.h"
#include "util/RunLog.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvex {

class IDispatcher;

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// Captions of the design are UTF-8; texts of the run (file names) are in the ANSI code page.
enum class TTextEncoding { Utf8, Ansi };

struct TLabel {
    TBounds Bounds;
    std::string Caption;
    TTextEncoding Encoding = TTextEncoding::Utf8;
    uint32_t Color = 0;  // 0xRRGGBB
    bool Centered = false;
};

struct TGauge {
    TBounds Bounds;
    uint32_t BackColor = 0;
    uint32_t ForeColor = 0;
    TGaugeModel Model;
};

// Width in pixels of the filled part of a bar showing percent.
int GaugeFillWidth(int width, int32_t percent);

// A 32-bit tag of the key that the running launcher's window carries.
uint32_t InstanceTag(const std::string& key);

// The status line's tooltip: after a failed run, its first reason and where its log is; nothing
// otherwise. In the ANSI code page, as the reason's file names and the path are.
std::string StatusTipText(const std::string& status, const std::optional<std::string>& firstFailure,
                          const std::string& logPath);

inline constexpr const char* SSettingsNotFound = "ERROR: _settings.ini Not Found !";
inline constexpr const char* SShortcutDescription = "Play Talvora";

// What the model asks of the window.
class IMainWindowHost {
public:
    virtual ~IMainWindowHost() = default;
    virtual void Repaint(const TBounds& bounds) = 0;
    // A button was hidden, shown, enabled or disabled: repaint it; a hidden or disabled button
    // gives up the pointer.
    virtual void ButtonChanged(TImgBtn& button) = 0;
    virtual void StopTimer() = 0;
    // A message box with one OK button and no icon.
    virtual void ShowNotice(const std::string& text) = 0;
    // Ends the program once the message loop runs.
    virtual void Terminate() = 0;
    virtual void CreateDesktopShortcut(const std::string& name, const std::string& workingFolder,
                                       const std::string& description) = 0;
    virtual void ApplySkinRegion() = 0;
    // Raises the browser's error when it refuses.
    virtual void Navigate(const std::string& url) = 0;
    virtual void RunProgram(const std::string& path) = 0;
    virtual void Close() = 0;
    // Disables the main window and shows the options window without blocking.
    virtual void ShowOptions() = 0;
    virtual void ShowPanel() = 0;
};

class TFMainModel final : public IProgressView {
public:
    TFMainModel(IMainWindowHost& host, IDispatcher& dispatcher);
    TFMainModel(const TFMainModel&) = delete;
    TFMainModel& operator=(const TFMainModel&) = delete;

    TLabel Label1;        // caption of Gauge1 ("file download")
    TLabel Label2;        // caption of Gauge2 ("overall progress")
    TLabel Label3;        // the status line: what the update run is doing
    TGauge Gauge1;        // progress of the current file
    TGauge Gauge2;        // progress of the whole run
    TImgBtn ImgBtn1;      // Play: starts the game and closes the launcher
    TImgBtn ImgBtn2;      // Check: a run that compares every listed file
    TImgBtn ImgBtn3;      // Cancel: closes the launcher
    TImgBtn ImgBtn4;      // the close cross at the top right corner
    TImgBtn ImgBtn5;      // Options: opens the options window
    TBounds Panel1Bounds;  // the news page's place
    // Where the pointer shows the file bar's tooltip: the bar and its caption.
    TBounds FileBarTipBounds;
    bool Panel1Visible = false;
    // This launcher's executable and process, handed to every run for its self-update.
    TLauncherProcess Launcher;

    // Null before FormCreate and after FormClose.
    const TStringList* SettingsList() const { return FSettingsList.get(); }
    // For the options window, which writes CreateBackup back into it.
    TStringList* SettingsList() { return FSettingsList.get(); }

    // Event handlers. Errors escape to the window's error box.
    void FormCreate();
    void Timer1Timer();
    void ImgBtn1Click();
    void ImgBtn2Click();
    void ImgBtn3Click();
    void ImgBtn4Click();
    void ImgBtn5Click();
    void WebBrowser1NavigateComplete2();
    void FormClose();

    // Writes AtRevision; dropped once the window has closed.
    void UpdateRevision(const std::string& revision);

    // Starts a run unless one exists (then false, and nothing changes).
    bool StartUpdateRun(bool fullCheck);

    // The run's reports.
    void ShowStatus(const std::string& status) override;
    void SetGaugeMax(int32_t gauge, int32_t maxValue) override;
    void SetFileProgress(int32_t position) override;
    void SetTotalProgress(int32_t position) override;
    void SaveRevision(const std::string& revision) override;
    // Written to the file and kept in the list, so a later run of this window checks against them.
    void SaveListTrust(const std::string& updateKey, const std::string& listSeq) override;
    void SaveRolloutNumber(const std::string& number) override;
    // The run's start and end, also written to OrvexUpdater.log with its notices.
    void LockButtons() override;
    void UnlockButtons() override;
    void Notice(const std::string& text) override;
    void Failure(const std::string& text) override;
    // The run's notices so far, oldest first.
    const TStringList& Notices() const { return FNotices; }

    // The tooltips' texts, in the ANSI code page; "" shows none.
    std::string StatusTip() const;
    // The file bar's rate and time left as of now: a transfer that stopped shows its rate falling.
    std::string FileBarTip();
    // The rate's clock; tests set their own.
    std::function<TRateMeter::Clock::time_point()> Now = [] { return TRateMeter::Clock::now(); };

private:
    // A list without the file holds the base folder only.
    bool SettingsLoaded() const { return FSettingsList && FSettingsLoaded; }
    void MarkInstalled();
    void CompleteCutCommit();
    void SetButtonsAvailable(bool available);
    void SetGaugeProgress(TGauge& gauge, int32_t position);

    IMainWindowHost& FHost;
    IDispatcher& FDispatcher;
    std::unique_ptr<TStringList> FSettingsList;
    bool FSettingsLoaded = false;
    TStringList FNotices;
    std::optional<TRunLog> FLog;  // of the run going on
    std::string FLogPath;         // of the last run
    std::optional<std::string> FFirstFailure;  // of the last run
    TRateMeter FFileRate;         // of Gauge1: a transfer, or an unpacking
    int32_t FFileDone = 0;
};

}  // namespace orvex
