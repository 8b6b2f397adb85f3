#pragma once

#include "engine_constants.h"

#include <array>

namespace lumivox::engine {

// Clarity's step on the carrier's bands for the layouts designed at the recording's rate. A noisy
// carrier's band has a level of its own that rises and falls at random many times a second, and
// the vocoded band carries that on top of the voice's level, which smears what the voice says in
// it. The step levels each band: the band is divided by its level over a few milliseconds and
// multiplied by its level over a third of a second, so that its fast random swings go and its
// overall level (and so the carrier's colour) stays. A chord's bands hardly change. How much of
// that replaces the band as it was follows Clarity (0 leaves it alone).
//
// Every path works each band's sample with the same operations in the same order (step below, or
// the kernel's vector form of it), so they give the same bits.
struct CarrierLevelling {
    static constexpr double fastSeconds = 0.004;
    static constexpr double slowSeconds = 0.3;
    // The fast level never counts for less than this share of the slow one, so that a band that
    // falls silent for a moment is not lifted from its noise floor.
    static constexpr double floorShare = 0.05;
    // Keeps a silent band (both levels 0) at 0 instead of 0 / 0.
    static constexpr double tiny = 1e-30;

    double fastRate = 0.0; // the one-pole followers' rates, per sample
    double slowRate = 0.0;
    double amount = 0.0; // how much of the levelled band is used; 0 leaves the carrier as it is
    double keep = 1.0; // 1 - amount
    // Each band's fast and slow level, lane by lane as the block path lays out its bands.
    alignas(64) std::array<double, mostBands> fast {};
    alignas(64) std::array<double, mostBands> slow {};

    CarrierLevelling() = default;
    explicit CarrierLevelling(double sampleRate);

    bool active() const { return amount > 0.0; }
    // Sets the amount (clamped to [0, 1]); turning it up from 0 starts the levels from 0.
    void setAmount(double value);

    // One sample of band `band`'s carrier signal, levelled.
    double step(int band, double carrierBand)
    {
        auto& f = fast[static_cast<std::size_t>(band)];
        auto& s = slow[static_cast<std::size_t>(band)];
        const double magnitude = carrierBand >= 0.0 ? carrierBand : -carrierBand;
        f = f + fastRate * (magnitude - f);
        s = s + slowRate * (magnitude - s);
        const double levelled = s / (f + floorShare * s + tiny);
        return carrierBand * (keep + amount * levelled);
    }
};

} // namespace lumivox::engine
