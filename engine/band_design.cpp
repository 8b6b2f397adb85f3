#include "band_design.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace lumivox::engine {

namespace {

    using Complex = std::complex<double>;

    // The normalised elliptic low-pass prototype of the bands (order 5, pass-band edge 1 rad/s,
    // 1.0000555 dB of ripple, 80.00389 dB of stop-band attenuation). These exact roots, not those
    // of a fresh 1 dB / 80 dB design, are what the classic band table was made from.
    constexpr double realPole = -0.30350847116833;
    constexpr Complex innerPole { -0.23322666471957, 0.63312567826270 };
    constexpr Complex outerPole { -0.08206769480245, 0.99189454584194 };
    constexpr double lowerZero = 2.60558624790721; // on the imaginary axis, with its mirror
    constexpr double upperZero = 4.11507761373362;

    // The normalised prototype of the envelope low-pass (order 4, pass-band edge 1 rad/s, 1 dB of
    // ripple, 80 dB of stop-band attenuation): the classic envelope table's roots taken back
    // through the bilinear transform at 100 Hz and 44100 Hz.
    constexpr Complex envelopeInnerPole { -0.33980466580163672, 0.41418422233485076 };
    constexpr Complex envelopeOuterPole { -0.13582036276947772, 0.98463211696716802 };
    constexpr double envelopeLowerZero = 4.5862934116169224; // on the imaginary axis
    constexpr double envelopeUpperZero = 10.961551000907410;
    // The prototype's gain factor: it puts zero frequency at the ripple floor, 0.891250938 (-1 dB),
    // as an even-order elliptic low-pass has it.
    constexpr double envelopePrototypeGain = 9.9993550095641457e-05;

    // The gain that makes the band prototype's response exactly 1 at s = 0.
    double prototypeGain()
    {
        return -realPole * std::norm(innerPole) * std::norm(outerPole)
            / (lowerZero * lowerZero * upperZero * upperZero);
    }

    // A conjugate pair of z-plane roots, held by its member in the upper half-plane.
    struct RootPair {
        Complex upper;
    };

    // The two roots of s^2 - B r s + Omega0^2 = 0: where the low-pass root r lands in the
    // band-pass.
    std::array<Complex, 2> lowPassToBandPass(Complex r, double bandwidth, double omega0)
    {
        const Complex br = bandwidth * r;
        const Complex root = std::sqrt(br * br - 4.0 * omega0 * omega0);
        return { (br + root) / 2.0, (br - root) / 2.0 };
    }

    Complex bilinear(Complex s) { return (1.0 + s) / (1.0 - s); }

    double prewarp(double hertz, double sampleRate)
    {
        return std::tan(std::numbers::pi * hertz / sampleRate);
    }

    // Keeps the upper member of every conjugate pair; the roots come in pairs, none on the real
    // axis.
    std::vector<RootPair> upperHalf(const std::vector<Complex>& zRoots)
    {
        std::vector<RootPair> pairs;
        for (const Complex& z : zRoots) {
            if (z.imag() > 0.0)
                pairs.push_back({ z });
        }
        return pairs;
    }

    // Pole pairs from the one nearest the unit circle outwards, each taking the nearest free zero
    // pair; a pair left without one keeps the zeros at 1 and -1. Sections are stored by increasing
    // pole radius after the gain at values[0].
    void pairIntoSections(
        const std::vector<Complex>& zPoles, const std::vector<Complex>& zZeros, double* values)
    {
        std::vector<RootPair> polePairs = upperHalf(zPoles);
        std::vector<RootPair> zeroPairs = upperHalf(zZeros);
        std::ranges::sort(polePairs, [](const RootPair& a, const RootPair& b) {
            return std::abs(a.upper) > std::abs(b.upper);
        });
        for (std::size_t p = 0; p < polePairs.size(); ++p) {
            const Complex pole = polePairs[p].upper;
            const std::size_t section = polePairs.size() - 1 - p;
            double* row = values + 1 + 4 * section;
            if (zeroPairs.empty()) {
                row[0] = 0.0;
                row[1] = -1.0;
            } else {
                const auto nearest = std::ranges::min_element(
                    zeroPairs, [&](const RootPair& a, const RootPair& b) {
                        return std::abs(a.upper - pole) < std::abs(b.upper - pole);
                    });
                row[0] = -2.0 * std::cos(std::arg(nearest->upper));
                row[1] = 1.0;
                zeroPairs.erase(nearest);
            }
            row[2] = -2.0 * std::abs(pole) * std::cos(std::arg(pole));
            row[3] = std::norm(pole);
        }
    }

} // namespace

BandRow designBandPass(BandEdges edges, double sampleRate)
{
    const double omega1 = prewarp(edges.lowHz, sampleRate);
    const double omega2 = prewarp(edges.highHz, sampleRate);
    const double omega0 = std::sqrt(omega1 * omega2);
    const double bandwidth = omega2 - omega1;

    const std::array<Complex, 5> prototypePoles { realPole, innerPole, std::conj(innerPole),
        outerPole, std::conj(outerPole) };
    const std::array<Complex, 4> prototypeZeros { Complex { 0.0, lowerZero },
        Complex { 0.0, -lowerZero }, Complex { 0.0, upperZero }, Complex { 0.0, -upperZero } };

    // Band-pass roots in the s-plane, then in the z-plane. The prototype's zero at infinity gives
    // one zero at s = 0 (z = 1) and one at infinity (z = -1); both go to the last section.
    std::vector<Complex> zPoles;
    std::vector<Complex> zZeros;
    Complex gain = prototypeGain() * bandwidth;
    for (const Complex& r : prototypePoles) {
        for (const Complex& s : lowPassToBandPass(r, bandwidth, omega0)) {
            zPoles.push_back(bilinear(s));
            gain /= 1.0 - s;
        }
    }
    for (const Complex& r : prototypeZeros) {
        for (const Complex& s : lowPassToBandPass(r, bandwidth, omega0)) {
            zZeros.push_back(bilinear(s));
            gain *= 1.0 - s;
        }
    }

    BandRow row {};
    row[0] = gain.real();
    pairIntoSections(zPoles, zZeros, row.data());
    return row;
}

EnvelopeRow designEnvelopeLowPass(double cutoffHz, double sampleRate)
{
    const double omega = prewarp(cutoffHz, sampleRate);
    const std::array<Complex, 4> prototypePoles { envelopeInnerPole, std::conj(envelopeInnerPole),
        envelopeOuterPole, std::conj(envelopeOuterPole) };
    const std::array<Complex, 4> prototypeZeros { Complex { 0.0, envelopeLowerZero },
        Complex { 0.0, -envelopeLowerZero }, Complex { 0.0, envelopeUpperZero },
        Complex { 0.0, -envelopeUpperZero } };

    // As many finite zeros as poles: the bilinear transform's factors (1 + z^-1) cancel, leaving
    // the gain times (1 - s) over each zero and divided by (1 - s) over each pole.
    std::vector<Complex> zPoles;
    std::vector<Complex> zZeros;
    Complex gain = envelopePrototypeGain;
    for (const Complex& r : prototypePoles) {
        const Complex s = omega * r;
        zPoles.push_back(bilinear(s));
        gain /= 1.0 - s;
    }
    for (const Complex& r : prototypeZeros) {
        const Complex s = omega * r;
        zZeros.push_back(bilinear(s));
        gain *= 1.0 - s;
    }

    EnvelopeRow row {};
    row[0] = gain.real();
    pairIntoSections(zPoles, zZeros, row.data());
    return row;
}

} // namespace lumivox::engine
