#include "update/RateMeter.h"

#include <cmath>

namespace orvex {

namespace {

// value >= 0 with one decimal, rounded as printf's "%.1f" rounds: to the nearest tenth of its exact
// binary value, a tie to the even one. Written out by hand: the Windows programs' printf with
// floating point would add some 45 KB to the launcher.
std::string OneDecimal(double value) {
    // tenths: the whole number with tenths <= value * 10 < tenths + 1, exactly (fma rounds once).
    double tenths = std::floor(value * 10);
    if (std::fma(value, 10, -tenths) < 0) tenths -= 1;
    if (std::fma(value, 10, -(tenths + 1)) >= 0) tenths += 1;
    const double beyondHalf = std::fma(value, 10, -(tenths + 0.5));
    const auto whole = static_cast<int64_t>(tenths);
    const int64_t rounded = beyondHalf > 0 || (beyondHalf == 0 && whole % 2 == 1) ? whole + 1 : whole;
    return std::to_string(rounded / 10) + "." + std::to_string(rounded % 10);
}

std::string TwoDigits(int64_t value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

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
    const char* unit = *rate >= 1024 * 1024 ? "MiB" : *rate >= 1024 ? "KiB" : "B";
    const double scaled = *rate >= 1024 * 1024 ? *rate / (1024 * 1024) : *rate >= 1024 ? *rate / 1024 : *rate;
    const int64_t seconds = left->count();
    std::string text = OneDecimal(scaled) + " " + unit + "/s, ";
    if (seconds >= 3600) text += std::to_string(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":";
    else text += std::to_string(seconds / 60) + ":";
    return text + TwoDigits(seconds % 60) + " left";
}

}  // namespace orvex
