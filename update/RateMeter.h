#pragma once
// The speed of one transfer from its byte counts as they come, and the time it still needs: what a
// terminal shows beside the file bar.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace orvex {

class TRateMeter {
public:
    using Clock = std::chrono::steady_clock;
    // The rate is taken over the last few seconds, so it follows a link that slows down.
    static constexpr std::chrono::seconds Window{5};

    // A transfer of total bytes starts.
    void Start(int64_t total, Clock::time_point now);
    // done bytes of it have arrived.
    void Progress(int64_t done, Clock::time_point now);

    // Nothing until some bytes came over a measurable time.
    std::optional<double> BytesPerSecond() const;
    std::optional<std::chrono::seconds> TimeLeft() const;
    // "1.5 MiB/s, 0:42 left"; "" while there is no rate.
    std::string Text() const;

private:
    int64_t FTotal = 0;
    std::deque<std::pair<Clock::time_point, int64_t>> FSamples;  // oldest first
};

}  // namespace orvex
