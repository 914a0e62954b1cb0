#include "app/MainWindowModel.h"

#include "update/Settings.h"
#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "update/GetFilesThr.h"
#include "update/InstallState.h"
#include "update/RunResult.h"

#include <algorithm>

namespace orvex {

int GaugeFillWidth(int width, int32_t percent) {
    const int32_t clamped = std::clamp<int32_t>(percent, 0, 100);
    return static_cast<int>(static_cast<int64_t>(width) * clamped / 100);
}

uint32_t InstanceTag(const std::string& key) {
    uint32_t tag = 2166136261u;
    for (const char c : key) tag = (tag ^ static_cast<unsigned char>(c)) * 16777619u;
    // Zero is what a window without the tag reports.
    return tag == 0 ? 1 : tag;
}

// A notice may be a long address or name with control characters in it.
std::string StatusTipText(const std::string& status, const std::optional<std::string>& firstFailure,
                          const std::string& logPath) {
    if (status != SUpdateFailed) return std::string();
    const std::string where = "The log: " + logPath;
    if (!firstFailure) return where;
    return Shortened(EscapeControls(*firstFailure), 300) + "\r\n" + where;
}

TFMainModel::TFMainModel(IMainWindowHost& host, IDispatcher& dispatcher)
    : Label1{{33, 526, 82, 13}, "Загрузка файла", TTextEncoding::Utf8, 0x859DB3, false},
      Label2{{33, 540, 85, 13}, "Общий прогресс", TTextEncoding::Utf8, 0x859DB3, false},
      Label3{{128, 512, 429, 13}, "... Загрузка ...", TTextEncoding::Utf8, 0x5E7F8F, true},
      Gauge1{{127, 531, 430, 5}, 0x000000, 0x3E5B96, {}},
      Gauge2{{127, 546, 430, 5}, 0x000000, 0x8E4149, {}},
      ImgBtn1(686, 485, 96, 99),
      ImgBtn2(575, 506, 101, 27),
      ImgBtn3(575, 535, 101, 27),
      ImgBtn4(768, 15, 20, 20),
      ImgBtn5(715, 18, 52, 15),
      Panel1Bounds{12, 42, 774, 439},
      FileBarTipBounds{33, 526, 524, 13},
      FHost(host),
      FDispatcher(dispatcher) {
    ImgBtn1.OnClick = [this] { ImgBtn1Click(); };
    ImgBtn2.OnClick = [this] { ImgBtn2Click(); };
    ImgBtn3.OnClick = [this] { ImgBtn3Click(); };
    ImgBtn4.OnClick = [this] { ImgBtn4Click(); };
    ImgBtn5.OnClick = [this] { ImgBtn5Click(); };
    for (TImgBtn* button : {&ImgBtn1, &ImgBtn2, &ImgBtn3, &ImgBtn4, &ImgBtn5}) button->SetEnabled(true);
}

void TFMainModel::FormCreate() {
    FSettingsList = std::make_unique<TStringList>();
    const bool loaded = LoadSettings(*FSettingsList);
    FSettingsLoaded = loaded;
    if (loaded && ListAt(*FSettingsList, InstalledPos) == "0") MarkInstalled();
    if (loaded) CompleteCutCommit();
    if (!loaded) {
        FHost.StopTimer();
        FHost.ShowNotice(SSettingsNotFound);
        FHost.Terminate();
    }
    FHost.ApplySkinRegion();
}

// A commit a killed run left half done is completed before the game can be started. One that
// cannot be completed now (a file in use) is tried again, and told, by the first run.
void TFMainModel::CompleteCutCommit() {
    try {
        TInstallState(ListAt(*FSettingsList, BaseDirPos))
            .Recover([this](int32_t revision) {
                UpdateRevision(std::to_string(revision));
                (*FSettingsList)[AtRevisionPos] = std::to_string(revision);
            });
    } catch (const std::exception&) {
    }
}

// The write comes first, so a shortcut that fails is not tried again at every start.
void TFMainModel::MarkInstalled() {
    WriteSetting(*FSettingsList, "Installed", "1");
    FHost.CreateDesktopShortcut(ListAt(*FSettingsList, LinkNamePos), ListAt(*FSettingsList, BaseDirPos),
                                SShortcutDescription);
}

void TFMainModel::Timer1Timer() {
    FHost.StopTimer();
    if (!SettingsLoaded()) return;
    FHost.Navigate(ListAt(*FSettingsList, NewsUrlPos));
    StartUpdateRun(false);
}

bool TFMainModel::StartUpdateRun(bool fullCheck) {
    if (!SettingsLoaded() || GFilesThread::RunExists()) return false;
    Label3.Caption.clear();
    FHost.Repaint(Label3.Bounds);
    TRunSettings settings = RunSettingsFrom(*FSettingsList, fullCheck);
    settings.Launcher = Launcher;
    return GFilesThread::Resume(std::make_unique<GFilesThread>(FDispatcher, *this, std::move(settings)));
}

void TFMainModel::ImgBtn1Click() {
    if (SettingsLoaded())
        FHost.RunProgram(ListAt(*FSettingsList, BaseDirPos) + ListAt(*FSettingsList, RunCustomPos));
    FHost.Close();
}

void TFMainModel::ImgBtn2Click() { StartUpdateRun(true); }
void TFMainModel::ImgBtn3Click() { FHost.Close(); }
void TFMainModel::ImgBtn4Click() { FHost.Close(); }
void TFMainModel::ImgBtn5Click() { FHost.ShowOptions(); }

void TFMainModel::WebBrowser1NavigateComplete2() {
    if (Panel1Visible) return;
    Panel1Visible = true;
    FHost.ShowPanel();
}

void TFMainModel::FormClose() { FSettingsList.reset(); }

void TFMainModel::UpdateRevision(const std::string& revision) {
    if (!FSettingsList) return;
    WriteSetting(*FSettingsList, "AtRevision", revision);
}

void TFMainModel::ShowStatus(const std::string& status) {
    Label3.Caption = status;
    Label3.Encoding = TTextEncoding::Ansi;
    FHost.Repaint(Label3.Bounds);
}

void TFMainModel::SetGaugeMax(int32_t gauge, int32_t maxValue) {
    if (gauge == 0) {
        FFileDone = 0;
        FFileRate.Start(maxValue, Now());
    }
    TGauge* target = gauge == 0 ? &Gauge1 : gauge == 1 ? &Gauge2 : nullptr;
    if (target && target->Model.SetMaxValue(maxValue)) FHost.Repaint(target->Bounds);
}

void TFMainModel::SetGaugeProgress(TGauge& gauge, int32_t position) {
    if (gauge.Model.SetProgress(position)) FHost.Repaint(gauge.Bounds);
}

void TFMainModel::SetFileProgress(int32_t position) {
    FFileDone = position;
    FFileRate.Progress(position, Now());
    SetGaugeProgress(Gauge1, position);
}

void TFMainModel::SetTotalProgress(int32_t position) { SetGaugeProgress(Gauge2, position); }
void TFMainModel::SaveRevision(const std::string& revision) { UpdateRevision(revision); }

void TFMainModel::SaveRolloutNumber(const std::string& number) {
    if (!FSettingsList) return;
    WriteSetting(*FSettingsList, RolloutNumberSetting, number);
    if (FSettingsList->size() <= RolloutNumberPos) FSettingsList->resize(RolloutNumberPos + 1);
    (*FSettingsList)[RolloutNumberPos] = number;
}

void TFMainModel::SaveListTrust(const std::string& updateKey, const std::string& listSeq) {
    if (!FSettingsList) return;
    WriteListTrust(*FSettingsList, updateKey, listSeq);
    if (FSettingsList->size() <= ListSeqPos) FSettingsList->resize(ListSeqPos + 1);
    (*FSettingsList)[UpdateKeyPos] = updateKey;
    (*FSettingsList)[ListSeqPos] = listSeq;
}

void TFMainModel::SetButtonsAvailable(bool available) {
    ImgBtn1.SetVisible(available);
    ImgBtn2.SetVisible(available);
    ImgBtn5.SetEnabled(available);
    for (TImgBtn* button : {&ImgBtn1, &ImgBtn2, &ImgBtn5}) FHost.ButtonChanged(*button);
}

void TFMainModel::LockButtons() {
    SetButtonsAvailable(false);
    FFirstFailure.reset();
    FLogPath = JoinPath(os::GetCurrentDir(), RunLogName);
    FLog.emplace(FLogPath);
    FLog->RunStarted();
}

void TFMainModel::UnlockButtons() {
    SetButtonsAvailable(true);
    if (FLog) FLog->RunEnded(Label3.Caption);
    FLog.reset();
}

void TFMainModel::Notice(const std::string& text) {
    FNotices.push_back(text);
    if (FLog) FLog->Line(text);
}

void TFMainModel::Failure(const std::string& text) {
    if (!FFirstFailure) FFirstFailure = text;
    Notice(text);
}

std::string TFMainModel::StatusTip() const { return StatusTipText(Label3.Caption, FFirstFailure, FLogPath); }

std::string TFMainModel::FileBarTip() {
    FFileRate.Progress(FFileDone, Now());
    return FFileRate.Text();
}

}  // namespace orvex
