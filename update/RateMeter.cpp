#include "update/RateMeter.h"

#include <cmath>
#include <cstdio>

namespace orvex {

void TRateMeter::Start(int64_t total, Clock::time_point now) {
    FTotal = total;
    FSamples.assign(1, {now, 0});
}

void TRateMeter::Progress(int64_t done, Clock::time_point now) {
    // Fewer bytes than before: the transfer started again (another try).
    if (FSamples.empty() || done < FSamples.back().second) FSamples.assign(1, {now, done});
    FSamples.push_back({now, done});
    // The oldest sample kept is the last one at or before the window's start.
    while (FSamples.size() > 2 && now - FSamples[1].first >= Window) FSamples.pop_front();
}

std::optional<double> TRateMeter::BytesPerSecond() const {
    if (FSamples.size() < 2) return std::nullopt;
    const std::chrono::duration<double> span = FSamples.back().first - FSamples.front().first;
    const int64_t bytes = FSamples.back().second - FSamples.front().second;
    if (span.count() < 0.2 || bytes <= 0) return std::nullopt;
    return static_cast<double>(bytes) / span.count();
}

std::optional<std::chrono::seconds> TRateMeter::TimeLeft() const {
    const auto rate = BytesPerSecond();
    if (!rate) return std::nullopt;
    const int64_t left = FTotal > FSamples.back().second ? FTotal - FSamples.back().second : 0;
    return std::chrono::seconds(static_cast<int64_t>(std::ceil(static_cast<double>(left) / *rate)));
}

std::string TRateMeter::Text() const {
    const auto rate = BytesPerSecond();
    const auto left = TimeLeft();
    if (!rate || !left) return "";
    char text[64];
    const char* unit = *rate >= 1024 * 1024 ? "MiB" : *rate >= 1024 ? "KiB" : "B";
    const double scaled = *rate >= 1024 * 1024 ? *rate / (1024 * 1024) : *rate >= 1024 ? *rate / 1024 : *rate;
    const long long seconds = left->count();
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%.1f %s/s, %lld:%02lld:%02lld left", scaled, unit, seconds / 3600,
                      seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%.1f %s/s, %lld:%02lld left", scaled, unit, seconds / 60, seconds % 60);
    return text;
}

}  // namespace orvex
