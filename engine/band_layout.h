#pragma once

#include "band_design.h"
#include "engine_constants.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace lumivox::engine {

// The bands a vocoder splits its two signals into, and their filters: how many, each band's
// pass-band edges, the sample rate the filters are designed for, and the envelope low-pass that
// follows each modulator band. A plain value: the engine, the job and the meters all take their
// band count and centres from it.
//
// The classic layout is the 32 bands from 18 Hz to 20 kHz designed for 44100 Hz, used unchanged
// at every rate, so that at another rate every band moves in proportion to it. Its coefficients
// are the program's constant table, so the classic sound never depends on the maths library.
// Other layouts are designed when they are made, for the recording's own rate.
class BandLayout {
public:
    static constexpr int fewestBands = 4;
    static constexpr int mostBands = engine::mostBands;
    static constexpr double classicDesignRate = 44100.0;
    static constexpr double envelopeCutoffHz = 100.0; // the envelope low-pass's pass-band edge
    // The lowest frequency a layout may reach, and the highest as a share of the sample rate.
    static constexpr double lowestHz = 10.0;
    static constexpr double highestShareOfRate = 0.46;
    // A classic band's pass-band takes this share of its spacing to the next on a log scale.
    static constexpr double classicPassShare = 0.9;
    // Bands narrower than this hold one harmonic of a voice at most.
    static constexpr double harmonicSpacingHz = 250.0;

    // The classic layout.
    static BandLayout classic();

    // count bands evenly spaced on a log scale, band 0's lower edge at lowHz and the last band's
    // upper edge at highHz, each band's pass-band taking the classic share of its spacing, all
    // designed for sampleRate. Nothing when the count lies outside [fewestBands, mostBands] or
    // the range outside [lowestHz, highestShareOfRate x sampleRate] or is empty.
    static std::optional<BandLayout> logSpaced(
        int count, double lowHz, double highHz, double sampleRate);
    // The bands with these edges, lowest first, designed for sampleRate; nothing when they do not
    // make a layout (count, range or order as logSpaced asks). Made in layout_choice.cpp.
    static std::optional<BandLayout> withEdges(std::vector<BandEdges> edges, double sampleRate);

    int bandCount() const { return static_cast<int>(bandEdges.size()); }
    // Pass-band edges at the design rate, band 0 (the lowest) first.
    std::span<const BandEdges> edges() const { return bandEdges; }
    double designRate() const { return rate; }
    bool isClassic() const { return classicLayout; }

    // Where band's response is exactly 1 in a recording at sampleRate; the filters are used at
    // every rate as designed, so at another rate than the design rate the centre moves with it.
    double centreHz(int band, double sampleRate) const;
    // All the centres in a recording at sampleRate, band 0 first.
    std::vector<double> centresHz(double sampleRate) const;

    // Band's cascade gain, then b1, b2, a1, a2 of its five sections.
    std::span<const double> bandRow(int band) const;
    // The envelope low-pass: its gain, then b1, b2, a1, a2 of its two sections.
    std::span<const double> envelopeRow() const { return envelope; }

    // The bands from band 0 up that are narrower than harmonicSpacingHz at the design rate
    // (19 in the classic layout, up to 1221 Hz).
    int harmonicBandCount() const { return harmonicBands; }
    // The farthest neighbour Vagueness can weight, in bands: 14 in the classic layout, and the
    // same share of the bands in the others.
    int spreadReach() const { return reach; }

    friend bool operator==(const BandLayout&, const BandLayout&) = default;

private:
    BandLayout() = default;
    void finish();

    std::vector<BandEdges> bandEdges;
    double rate = classicDesignRate;
    bool classicLayout = false;
    std::vector<double> rows; // bandCount rows of BandRow's size
    EnvelopeRow envelope {};
    int harmonicBands = 0;
    int reach = 0;
};

} // namespace lumivox::engine
