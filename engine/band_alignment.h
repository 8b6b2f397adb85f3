#pragma once

#include "engine_constants.h"

#include <array>
#include <vector>

namespace lumivox::engine {

class BandLayout;
struct FilterBank;

// Clarity's step on the modulator for the layouts designed at the recording's rate. A band-pass
// holds back what it passes the longer the narrower it is, so a voice's every sound reaches the
// upper bands milliseconds before the lower ones (the speech layout at 44.1 kHz: about 1.7 ms at
// 7.5 kHz, 10 ms at 420 Hz) and each syllable's onset is smeared across the spectrum. The step
// feeds each band whose centre lies from 300 Hz up the modulator as it was that much earlier, so
// that they all reach the output together with the slowest of them; the bands below keep their
// own, longer delay. A voice from 300 Hz up is then held back as long as in that band, and no
// longer.
//
// Every path feeds each band the same samples, so they give the same bits.
class BandAlignment {
public:
    BandAlignment() = default; // none: every delay 0
    // The delays for a layout's bands as the bank designs them; none for the classic layout,
    // whose sound stays as it has always been. May throw std::bad_alloc.
    BandAlignment(const BandLayout& layout, const FilterBank& bank);

    // In frames; 0 beyond the layout's bands.
    int delay(int band) const { return bandDelays[static_cast<std::size_t>(band)]; }
    const int* delays() const { return bandDelays.data(); } // one per band of the padded bank
    int longestDelay() const { return longest; }

    bool active() const { return on; }
    // Turning it on starts from a silent past, on every path alike.
    void setActive(bool active);

    // Frame by frame: what band takes in this frame (the modulator as it was delay(band) frames
    // ago), current being this frame's sample; then push() keeps the frame for the frames after.
    double delayedInput(int band, double current) const
    {
        const int d = delay(band);
        if (d == 0)
            return current;
        return past[static_cast<std::size_t>((next + longest - d) % longest)];
    }
    void push(double sample)
    {
        past[static_cast<std::size_t>(next)] = sample;
        next = next + 1 == longest ? 0 : next + 1;
    }

    // Block by block: the last longestDelay() samples, oldest first, into `into`; after the block,
    // the same many samples (its last ones, oldest first) taken back from `from`.
    void copyPast(double* into) const;
    void keepPast(const double* from);

private:
    std::array<int, mostBands> bandDelays {};
    int longest = 0;
    std::vector<double> past; // the last `longest` samples, in a ring
    int next = 0; // past[next] is the oldest and is replaced by the next sample
    bool on = false;
};

} // namespace lumivox::engine
