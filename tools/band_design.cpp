#include "band_design.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace lumivox::tools {

namespace {

    using Complex = std::complex<double>;

    // The normalised elliptic low-pass prototype (order 5, pass-band edge 1 rad/s, 1.0000555 dB of
    // ripple, 80.00389 dB of stop-band attenuation). These exact roots, not those of a fresh
    // 1 dB / 80 dB design, are what the band table was made from.
    constexpr double realPole = -0.30350847116833;
    constexpr Complex innerPole { -0.23322666471957, 0.63312567826270 };
    constexpr Complex outerPole { -0.08206769480245, 0.99189454584194 };
    constexpr double lowerZero = 2.60558624790721; // on the imaginary axis, with its mirror
    constexpr double upperZero = 4.11507761373362;

    // The gain that makes the prototype's response exactly 1 at s = 0.
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

    // Keeps the upper member of every conjugate pair; the roots come in pairs, none on the real
    // axis.
    std::vector<RootPair> upperHalf(const std::vector<Complex>& zRoots)
    {
        std::vector<RootPair> pairs;
        for (const Complex& z : zRoots) {
            if (z.imag() > 0.0)
                pairs.push_back({ z });
        }
        if (pairs.size() * 2 != zRoots.size())
            throw std::logic_error("band design: roots do not form conjugate pairs");
        return pairs;
    }

} // namespace

BandRow designBandPass(BandEdges edges)
{
    const double omega1 = std::tan(std::numbers::pi * edges.lowHz / designRate);
    const double omega2 = std::tan(std::numbers::pi * edges.highHz / designRate);
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

    // Pole pairs from the one nearest the unit circle outwards, each taking the nearest free zero
    // pair; the pair farthest from the circle keeps the zeros at 1 and -1.
    std::vector<RootPair> polePairs = upperHalf(zPoles);
    std::vector<RootPair> zeroPairs = upperHalf(zZeros);
    std::ranges::sort(polePairs,
        [](const RootPair& a, const RootPair& b) { return std::abs(a.upper) > std::abs(b.upper); });

    BandRow row {};
    row[0] = gain.real();
    for (std::size_t p = 0; p < polePairs.size(); ++p) {
        const Complex pole = polePairs[p].upper;
        const std::size_t section = polePairs.size() - 1 - p; // stored by increasing pole radius
        double* values = &row[1 + 4 * section];
        if (zeroPairs.empty()) {
            values[0] = 0.0;
            values[1] = -1.0;
        } else {
            const auto nearest
                = std::ranges::min_element(zeroPairs, [&](const RootPair& a, const RootPair& b) {
                      return std::abs(a.upper - pole) < std::abs(b.upper - pole);
                  });
            values[0] = -2.0 * std::cos(std::arg(nearest->upper));
            values[1] = 1.0;
            zeroPairs.erase(nearest);
        }
        values[2] = -2.0 * std::abs(pole) * std::cos(std::arg(pole));
        values[3] = std::norm(pole);
    }
    return row;
}

std::array<BandRow, bandCount> designBandTable()
{
    std::array<BandRow, bandCount> table {};
    for (int band = 0; band < bandCount; ++band)
        table[static_cast<std::size_t>(band)]
            = designBandPass(bandEdges[static_cast<std::size_t>(band)]);
    return table;
}

} // namespace lumivox::tools
