#pragma once

// Clarity's levelling of the carrier bands (see carrier_levelling.h) on Width bands at once: the
// same operations, lane by lane, as CarrierLevelling::step.

#include "carrier_levelling.h"
#include "kernel_lanes.h"

namespace lumivox::engine::kernel {

// The levelling's fast and slow levels of Width neighbouring bands, held in registers over a run
// of frames and stored back after it.
template <int Width> struct LevellingStates {
    Lane<Width> fast, slow;

    LUMIVOX_INLINE void load(const CarrierLevelling& levelling, int firstBand)
    {
        fast = kernel::load<Width>(levelling.fast.data() + firstBand);
        slow = kernel::load<Width>(levelling.slow.data() + firstBand);
    }
    LUMIVOX_INLINE void store(CarrierLevelling& levelling, int firstBand) const
    {
        kernel::store<Width>(levelling.fast.data() + firstBand, fast);
        kernel::store<Width>(levelling.slow.data() + firstBand, slow);
    }

    // One frame of the bands' carrier signals, levelled.
    LUMIVOX_INLINE Lane<Width> step(Lane<Width> carrierBands, const CarrierLevelling& levelling)
    {
        const Lane<Width> zero {};
        const Lane<Width> magnitude = carrierBands >= zero ? carrierBands : -carrierBands;
        fast = fast + levelling.fastRate * (magnitude - fast);
        slow = slow + levelling.slowRate * (magnitude - slow);
        const Lane<Width> levelled
            = slow / (fast + CarrierLevelling::floorShare * slow + CarrierLevelling::tiny);
        return carrierBands * (levelling.keep + levelling.amount * levelled);
    }
};

// Levels the carrier bands [0, bands) that the analysis left in the rows, frames [0, frameCount).
template <int Width>
LUMIVOX_INLINE void levelCarrierRows(
    auto& rows, CarrierLevelling& levelling, int bands, int frameCount)
{
    for (int first = 0; first < bands; first += Width) {
        LevellingStates<Width> states;
        states.load(levelling, first);
        for (int t = 0; t < frameCount; ++t) {
            double* row = rows.carrierBands(t) + first;
            store<Width>(row, states.step(load<Width>(row), levelling));
        }
        states.store(levelling, first);
    }
}

} // namespace lumivox::engine::kernel
