#pragma once
// A progress view for tests: keeps the gauges as the window would and records every report.
#include "base/Exceptions.h"
#include "update/Gauge.h"
#include "update/ProgressView.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orvex::test {

class RecordingView final : public IProgressView {
public:
    void ShowStatus(const std::string& status) override {
        Statuses.push_back(status);
        Record("status:" + status);
    }
    void SetGaugeMax(int32_t gauge, int32_t maxValue) override {
        Record("max" + std::to_string(gauge) + ":" + std::to_string(maxValue));
        if (gauge == 0) FileGauge.SetMaxValue(maxValue);
        if (gauge == 1) TotalGauge.SetMaxValue(maxValue);
    }
    void SetFileProgress(int32_t position) override {
        FileProgress.push_back(position);
        Record("file:" + std::to_string(position));
        FileGauge.SetProgress(position);
    }
    void SetTotalProgress(int32_t position) override {
        Record("total:" + std::to_string(position));
        TotalGauge.SetProgress(position);
    }
    void SaveRevision(const std::string& revision) override {
        Record("save:" + revision);
        SavedRevisions.push_back(revision);
        if (FailRevisionWrite) throw EIniFileException(Format(SIniFileWriteError, "_settings.ini"));
    }
    void SaveListTrust(const std::string& updateKey, const std::string& listSeq) override {
        Record("trust:" + listSeq);
        SavedTrust.push_back({updateKey, listSeq});
        if (FailTrustWrite) throw EIniFileException(Format(SIniFileWriteError, "_settings.ini"));
    }
    void SaveRolloutNumber(const std::string& number) override {
        Record("rollout number:" + number);
        SavedRolloutNumbers.push_back(number);
    }
    void LockButtons() override {
        Record("lock");
        Locked = true;
    }
    void UnlockButtons() override {
        Record("unlock");
        Locked = false;
    }
    void Notice(const std::string& text) override {
        Record("notice:" + text);
        Notices.push_back(text);
    }
    void Failure(const std::string& text) override {
        Failures.push_back(text);
        Notice(text);
    }

    bool Saw(const std::string& event) const { return std::find(Events.begin(), Events.end(), event) != Events.end(); }
    bool SawStatus(const std::string& status) const {
        return std::find(Statuses.begin(), Statuses.end(), status) != Statuses.end();
    }
    std::string LastStatus() const { return Statuses.empty() ? std::string() : Statuses.back(); }

    std::vector<std::string> Events;
    std::vector<std::string> Statuses;
    std::vector<int32_t> FileProgress;
    std::vector<std::string> SavedRevisions;
    std::vector<std::string> Notices;
    std::vector<std::string> Failures;  // the notices among them that tell why the run fails
    // Each SaveListTrust: UpdateKey, ListSeq.
    std::vector<std::pair<std::string, std::string>> SavedTrust;
    std::vector<std::string> SavedRolloutNumbers;
    TGaugeModel FileGauge;
    TGaugeModel TotalGauge;
    bool Locked = false;
    // The settings writes refused, as a read-only _settings.ini refuses them.
    bool FailRevisionWrite = false;
    bool FailTrustWrite = false;
    // The event, or the event's number (from 1), that raises once it is recorded, as a report to a
    // window that is gone does.
    std::string FailOn;
    std::size_t FailAtEvent = 0;
    // Hears each event as it is recorded: a test acting at a moment of the run.
    std::function<void(const std::string&)> OnEvent;

private:
    void Record(const std::string& event) {
        Events.push_back(event);
        if (OnEvent) OnEvent(event);
        if (event == FailOn || Events.size() == FailAtEvent) throw Exception("the window has gone");
    }
};

}  // namespace orvex::test
