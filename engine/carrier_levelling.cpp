#include "carrier_levelling.h"

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
    double clamped = 0.0; // below 0, and not a number
    if (value > 1.0)
        clamped = 1.0;
    else if (value >= 0.0)
        clamped = value;
    if (amount == 0.0 && clamped > 0.0) {
        fast.fill(0.0);
        slow.fill(0.0);
    }
    amount = clamped;
    keep = 1.0 - clamped;
}

} // namespace lumivox::engine
