#pragma once
// Runs the run's reports on the user-interface thread while the run waits.
#include <condition_variable>
#include <deque>
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
};

// A user-interface thread of its own, for runs without windows (tests, the terminal tool).
// Callbacks run one at a time in the order they arrived.
class HeadlessDispatcher final : public IDispatcher {
public:
    HeadlessDispatcher();
    ~HeadlessDispatcher() override;
    HeadlessDispatcher(const HeadlessDispatcher&) = delete;
    HeadlessDispatcher& operator=(const HeadlessDispatcher&) = delete;

    void Invoke(const std::function<void()>& callback) override;
    std::thread::id ThreadId() const { return FThread.get_id(); }

private:
    struct Call;
    void Loop();

    std::mutex FLock;
    std::condition_variable FWake;
    std::condition_variable FFinished;
    std::deque<Call*> FQueue;
    bool FStopping = false;
    std::thread FThread;  // last: started once the members above exist
};

}  // namespace orvex
