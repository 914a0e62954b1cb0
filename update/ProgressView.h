#pragma once
// What an update run shows. Every call arrives on the user-interface thread (through the
// dispatcher) while the run waits; an exception thrown here reaches the run.
#include <cstdint>
#include <string>

namespace orvex {

class IProgressView {
public:
    virtual ~IProgressView() = default;
    virtual void ShowStatus(const std::string& status) = 0;
    // gauge 0 is the file bar (Gauge1), 1 the overall bar (Gauge2); other values change nothing.
    virtual void SetGaugeMax(int32_t gauge, int32_t maxValue) = 0;
    virtual void SetFileProgress(int32_t position) = 0;
    virtual void SetTotalProgress(int32_t position) = 0;
    // Records the revision reached (the launcher's UpdateRevision).
    virtual void SaveRevision(const std::string& revision) = 0;
    // Records a signed list accepted: the keys trusted from now on (UpdateKey: the settings' keys,
    // or the signing key and those its keys section named) and the list's sequence number (ListSeq).
    virtual void SaveListTrust(const std::string& updateKey, const std::string& listSeq) = 0;
    // Records the installation's rollout number (RolloutNumber), made once.
    virtual void SaveRolloutNumber(const std::string& number) = 0;
    virtual void LockButtons() = 0;
    virtual void UnlockButtons() = 0;
    // Why the run passed something over and went on: a skipped self-update, host entries not
    // applied, a name the list may not use. One line of text, without a line end.
    virtual void Notice(const std::string& text) = 0;
    // A notice that tells why the run fails: a download given up, a copy that does not install, a
    // name or list refused, a commit not made. A view that tells them apart overrides it.
    virtual void Failure(const std::string& text) { Notice(text); }
};

}  // namespace orvex
