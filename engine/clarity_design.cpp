#include "band_layout.h"
#include "clarity.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <tuple>
#include <utility>

// The Clarity stage's filters worked out for a layout's design: its fast bands over the layout's
// slow bands, its side filters and followers at the layout's rate.

namespace lumivox::engine {

namespace {

    // The classic fast bands' inner edges, 150, 225 and 340 Hz, as shares of their span from
    // 100 to 500 Hz on a log scale.
    double fastEdgeShare(double hertz) { return std::log(hertz / 100.0) / std::log(5.0); }

    // The warped frequency of the bilinear transform with s = (z - 1) / (z + 1).
    double warped(double hertz, double rate) { return std::tan(std::numbers::pi * hertz / rate); }

    // A pole of the s-plane mapped to the z-plane, as the a1 and a2 of its conjugate pair.
    std::pair<double, double> sectionOf(std::complex<double> pole)
    {
        const std::complex<double> z = (1.0 + pole) / (1.0 - pole);
        return { -2.0 * z.real(), std::norm(z) };
    }

    // The 2nd-order Butterworth prototype's pole in the upper half plane.
    const std::complex<double> prototypePole = std::polar(1.0, 0.75 * std::numbers::pi);

    struct FastBandDesign {
        double gain, a1[2], a2[2];
    };

    // A 4th-order Butterworth band-pass (from the 2nd-order prototype), numerator 1 - z^-2 in each
    // section; the section with the larger pole radius first.
    FastBandDesign designFastBand(BandEdges edges, double rate)
    {
        const double w1 = warped(edges.lowHz, rate);
        const double w2 = warped(edges.highHz, rate);
        const double width = w2 - w1;
        const std::complex<double> half = prototypePole * (0.5 * width);
        const std::complex<double> root = std::sqrt(half * half - w1 * w2);
        const std::complex<double> poles[2] = { half + root, half - root };
        std::complex<double> denominator = 1.0;
        FastBandDesign d {};
        for (int k = 0; k < 2; ++k) {
            // Each pole in the upper half plane stands for its conjugate pair.
            const std::complex<double> pole
                = poles[k].imag() >= 0.0 ? poles[k] : std::conj(poles[k]);
            denominator *= (1.0 - pole) * (1.0 - std::conj(pole));
            std::tie(d.a1[k], d.a2[k]) = sectionOf(pole);
        }
        if (d.a2[1] > d.a2[0]) {
            std::swap(d.a1[0], d.a1[1]);
            std::swap(d.a2[0], d.a2[1]);
        }
        d.gain = width * width / denominator.real();
        return d;
    }

} // namespace

std::array<BandEdges, 4> ClarityDesign::fastBands() const
{
    const double span = std::log(fastHighHz / fastLowHz);
    const auto edge = [&](double share) { return fastLowHz * std::exp(share * span); };
    const double inner[3]
        = { edge(fastEdgeShare(150.0)), edge(fastEdgeShare(225.0)), edge(fastEdgeShare(340.0)) };
    return { { { fastLowHz, inner[0] }, { inner[0], inner[1] }, { inner[1], inner[2] },
        { inner[2], fastHighHz } } };
}

ClarityDesign clarityDesignFor(const BandLayout& layout)
{
    if (layout.isClassic())
        return ClarityDesign {};
    ClarityDesign design;
    design.rate = layout.designRate();
    // The slow bands' span from 100 Hz up: a voice has little below it.
    const double low = std::max(100.0, layout.edges().front().lowHz);
    double high = low;
    for (const BandEdges& band : layout.edges()) {
        if (band.highHz - band.lowHz < claritySlowBandHz && band.highHz > low)
            high = std::max(high, band.highHz);
    }
    // Four fast bands over less than an octave would be narrower, and slower, than the bands
    // they stand in for.
    if (!(high >= 2.0 * low))
        high = low;
    design.fastLowHz = low;
    design.fastHighHz = high;
    design.regionHz = 0.6 * high;
    return design;
}

ClarityStage::Coefficients ClarityStage::designCoefficients(const ClarityDesign& design)
{
    const double rate = design.rate;
    Coefficients c {};
    if (design.hasFastBands()) {
        const auto bands = design.fastBands();
        for (int band = 0; band < 4; ++band) {
            const FastBandDesign d = designFastBand(bands[static_cast<std::size_t>(band)], rate);
            c.fastGain[band] = d.gain;
            for (int k = 0; k < 2; ++k) {
                c.fastA1[k][band] = d.a1[k];
                c.fastA2[k][band] = d.a2[k];
            }
        }
    }
    // Without fast bands their gains stay 0, and so does what is taken of the bank's region.

    // The hiss band: 2nd-order high-pass, numerator 1 - 2 z^-1 + z^-2.
    const std::complex<double> hissPole = warped(design.hissHz, rate) * std::conj(prototypePole);
    std::tie(c.sideA1[0], c.sideA2[0]) = sectionOf(hissPole);
    c.sideGain[0] = 1.0 / std::norm(1.0 - hissPole);
    c.sideB1[0] = -2.0;
    c.sideB2[0] = 1.0;
    // The voiced band: 2nd-order low-pass, numerator 1 + 2 z^-1 + z^-2.
    const double voicedWarp = warped(design.voicedHz, rate);
    const std::complex<double> voicedPole = voicedWarp * prototypePole;
    std::tie(c.sideA1[1], c.sideA2[1]) = sectionOf(voicedPole);
    c.sideGain[1] = voicedWarp * voicedWarp / std::norm(1.0 - voicedPole);
    c.sideB1[1] = 2.0;
    c.sideB2[1] = 1.0;
    // The bank's region: 1st-order low-pass, numerator 1 + z^-1.
    if (design.hasFastBands()) {
        const double regionWarp = warped(design.regionHz, rate);
        c.sideGain[2] = regionWarp / (1.0 + regionWarp);
        c.sideA1[2] = -(1.0 - regionWarp) / (1.0 + regionWarp);
        c.sideB1[2] = 1.0;
    }
    // The carrier's level: a one-pole follower over 20 ms.
    const auto onePole = [rate](double seconds) { return -std::expm1(-1.0 / (seconds * rate)); };
    c.sideGain[3] = onePole(0.02);
    c.sideA1[3] = -(1.0 - c.sideGain[3]);
    c.envelopeRate = onePole(0.004);
    c.energyRate = onePole(0.005);
    c.hissWeight = design.hissWeight;
    return c;
}

} // namespace lumivox::engine
