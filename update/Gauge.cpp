#include "update/Gauge.h"

#include "base/Exceptions.h"

#include <cstdint>

namespace orvex {

int32_t TGaugeModel::PercentDone() const {
    const int64_t range = static_cast<int64_t>(FMaxValue) - FMinValue;
    if (range == 0) return 0;
    return static_cast<int32_t>((static_cast<int64_t>(FProgress) - FMinValue) * 100 / range);
}

bool TGaugeModel::SetMaxValue(int32_t value) {
    if (value < FMinValue) throw EInvalidOperation(Format(SOutOfRange, FMinValue, INT32_MAX));
    const int32_t shown = PercentDone();
    FMaxValue = value;
    if (FProgress > value) FProgress = value;
    return PercentDone() != shown;
}

bool TGaugeModel::SetProgress(int32_t value) {
    const int32_t shown = PercentDone();
    if (value < FMinValue)
        value = FMinValue;
    else if (value > FMaxValue)
        value = FMaxValue;
    FProgress = value;
    return PercentDone() != shown;
}

}  // namespace orvex
