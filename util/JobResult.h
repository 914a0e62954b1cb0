#pragma once
// A job's result, handed from the thread that ran it to the one that takes it: its value or the
// exception it threw. Copies share the one result. std::future would serve as well, but it brings
// a good part of the standard library's error machinery into the launcher, which carries every
// byte to every player.
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace orvex {

// The result of a job its pool dropped before it started.
struct EJobDropped : std::runtime_error {
    EJobDropped() : std::runtime_error("the job was dropped before it ran") {}
};

template <class T>
class TJobResult {
public:
    using TValue = std::conditional_t<std::is_void_v<T>, bool, T>;

    TJobResult() : FState(std::make_shared<TState>()) {}

    void SetValue(TValue value) {
        Finish([&](TState& state) { state.Value.emplace(std::move(value)); });
    }
    void SetError(std::exception_ptr error) {
        Finish([&](TState& state) { state.Error = std::move(error); });
    }

    void Wait() const {
        std::unique_lock<std::mutex> lock(FState->Lock);
        FState->Ready.wait(lock, [this] { return FState->Done; });
    }

    // Whether the result came within wait.
    template <class Rep, class Period>
    bool WaitFor(std::chrono::duration<Rep, Period> wait) const {
        std::unique_lock<std::mutex> lock(FState->Lock);
        return FState->Ready.wait_for(lock, wait, [this] { return FState->Done; });
    }

    // Waits for the result and hands it over (once), or raises what the job raised.
    T Get() {
        Wait();
        const std::lock_guard<std::mutex> lock(FState->Lock);
        if (FState->Error) std::rethrow_exception(FState->Error);
        if constexpr (!std::is_void_v<T>) return std::move(*FState->Value);
    }

private:
    struct TState {
        std::mutex Lock;
        std::condition_variable Ready;
        std::optional<TValue> Value;
        std::exception_ptr Error;
        bool Done = false;
    };

    // The first result stays; a later one (a dropped job's, once it ran) changes nothing.
    template <class Set>
    void Finish(const Set& set) {
        {
            const std::lock_guard<std::mutex> lock(FState->Lock);
            if (FState->Done) return;
            set(*FState);
            FState->Done = true;
        }
        FState->Ready.notify_all();
    }

    std::shared_ptr<TState> FState;
};

}  // namespace orvex
