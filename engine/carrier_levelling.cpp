#include "carrier_levelling.h"

#include "unit_range.h"

#include <cmath>

namespace lumivox::engine {

namespace {

    // The rate per sample of a one-pole follower over `seconds`.
    double onePoleRate(double seconds, double sampleRate)
    {
        return -std::expm1(-1.0 / (seconds * sampleRate));
    }

} // namespace

CarrierLevelling::CarrierLevelling(double sampleRate)
    : fastRate(onePoleRate(fastSeconds, sampleRate))
    , slowRate(onePoleRate(slowSeconds, sampleRate))
{
}

void CarrierLevelling::setAmount(double value)
{
    const double clamped = clampToUnit(value);
    if (amount == 0.0 && clamped > 0.0) {
        fast.fill(0.0);
        slow.fill(0.0);
    }
    amount = clamped;
    keep = 1.0 - clamped;
}

} // namespace lumivox::engine
