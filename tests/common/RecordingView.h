#pragma once
// A progress view for tests: keeps the gauges as the window would and records every report.
#include "base/Exceptions.h"
#include "update/Gauge.h"
#include "update/ProgressView.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace orvex::test {

class RecordingView final : public IProgressView {
public:
    void ShowStatus(const std::string& status) override {
        Statuses.push_back(status);
        Events.push_back("status:" + status);
    }
    void SetGaugeMax(int32_t gauge, int32_t maxValue) override {
        Events.push_back("max" + std::to_string(gauge) + ":" + std::to_string(maxValue));
        if (gauge == 0) FileGauge.SetMaxValue(maxValue);
        if (gauge == 1) TotalGauge.SetMaxValue(maxValue);
    }
    void SetFileProgress(int32_t position) override {
        FileProgress.push_back(position);
        Events.push_back("file:" + std::to_string(position));
        FileGauge.SetProgress(position);
    }
    void SetTotalProgress(int32_t position) override {
        Events.push_back("total:" + std::to_string(position));
        TotalGauge.SetProgress(position);
    }
    void SaveRevision(const std::string& revision) override {
        Events.push_back("save:" + revision);
        SavedRevisions.push_back(revision);
        if (FailRevisionWrite) throw Exception("Unable to write to _settings.ini");
    }
    void SaveListTrust(const std::string& updateKey, const std::string& listSeq) override {
        Events.push_back("trust:" + listSeq);
        SavedTrust.push_back({updateKey, listSeq});
    }
    void LockButtons() override {
        Events.push_back("lock");
        Locked = true;
    }
    void UnlockButtons() override {
        Events.push_back("unlock");
        Locked = false;
    }
    void Notice(const std::string& text) override {
        Events.push_back("notice:" + text);
        Notices.push_back(text);
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
    // Each SaveListTrust: UpdateKey, ListSeq.
    std::vector<std::pair<std::string, std::string>> SavedTrust;
    TGaugeModel FileGauge;
    TGaugeModel TotalGauge;
    bool Locked = false;
    bool FailRevisionWrite = false;
};

}  // namespace orvex::test
