#pragma once
// Runs the run's reports on the user-interface thread.
#include "update/CallQueue.h"
#include "util/WorkerPool.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace orvex {

class IDispatcher {
public:
    virtual ~IDispatcher() = default;
    // Runs callback on the user-interface thread and returns when it has finished; an exception
    // the callback throws is thrown again here, in the caller's thread.
    virtual void Invoke(const std::function<void()>& callback) = 0;
    // Runs callback on the user-interface thread after every call handed over before it, and may
    // return before it has run; an exception it throws then comes out of a later call. For
    // reports that only show something, made often.
    virtual void Post(std::function<void()> callback) { Invoke(callback); }
};

// A user-interface thread of its own, for runs without windows (tests, the terminal tool).
// Callbacks run one at a time in the order they arrived. Posted ones are waited for too unless
// queueReports is set: a view read by the caller between reports then sees every report made.
class HeadlessDispatcher final : public IDispatcher {
public:
    explicit HeadlessDispatcher(bool queueReports = false);
    ~HeadlessDispatcher() override;
    HeadlessDispatcher(const HeadlessDispatcher&) = delete;
    HeadlessDispatcher& operator=(const HeadlessDispatcher&) = delete;

    void Invoke(const std::function<void()>& callback) override { FCalls.Invoke(callback); }
    void Post(std::function<void()> callback) override;
    std::thread::id ThreadId() const { return FThreadId; }

private:
    bool Wake();
    void Loop();

    std::mutex FLock;
    std::condition_variable FWakeUp;
    bool FWoken = false;
    bool FStopping = false;
    const bool FQueueReports;
    TCallQueue FCalls;
    std::thread::id FThreadId;
    TWorkerPool FThread{1};  // last: runs the loop once the members above exist, waited for first
};

}  // namespace orvex
