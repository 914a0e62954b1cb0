#pragma once
// The arithmetic of a progress bar: range, clamped position and the percentage it shows.
#include <cstdint>

namespace orvex {

class TGaugeModel {
public:
    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Progress() const { return FProgress; }
    // Whole percent of the range covered, rounded down; 0 for an empty range.
    int32_t PercentDone() const;

    // Each setter returns whether the shown percentage changed, i.e. whether to repaint.
    // Raises EInvalidOperation ("Value must be between ...") for a maximum below the minimum.
    bool SetMaxValue(int32_t value);
    // Clamped to [MinValue, MaxValue].
    bool SetProgress(int32_t value);

private:
    int32_t FMinValue = 0;
    int32_t FMaxValue = 100;
    int32_t FProgress = 0;
};

}  // namespace orvex
