#pragma once

#include <array>

namespace lumivox::tools {

inline constexpr int bandCount = 32;
inline constexpr int sectionsPerBand = 5;
inline constexpr int valuesPerBand = 1 + 4 * sectionsPerBand; // gain, then b1 b2 a1 a2 per section
inline constexpr double designRate = 44100.0;

// Pass-band edges f1 and f2 (Hz at the design rate) of one band.
struct BandEdges {
    double lowHz;
    double highHz;
};

// The 32 bands, lowest first: roughly 20 * 1.25^k Hz, each reaching about 10 % either side.
inline constexpr std::array<BandEdges, bandCount> bandEdges { {
    { 18, 22 },
    { 22.5, 27.5 },
    { 28, 34 },
    { 35, 43 },
    { 44, 54 },
    { 55, 67 },
    { 69, 83 },
    { 86, 104 },
    { 108, 130 },
    { 135, 164 },
    { 168, 204 },
    { 210, 256 },
    { 262, 320 },
    { 328, 400 },
    { 410, 500 },
    { 511, 625 },
    { 640, 782 },
    { 799, 977 },
    { 999, 1221 },
    { 1250, 1526 },
    { 1562, 1908 },
    { 1952, 2384 },
    { 2440, 2982 },
    { 3050, 3726 },
    { 3812, 4658 },
    { 4765, 5823 },
    { 5956, 7278 },
    { 7445, 9099 },
    { 9306, 11374 },
    { 11633, 14217 },
    { 14541, 17771 },
    { 18176, 20000 },
} };

// One band's cascade: the gain, then b1, b2, a1, a2 of sections 0 to 4 in processing order.
using BandRow = std::array<double, valuesPerBand>;

// Designs the band-pass cascade for the pass-band edges f1 and f2 (Hz at the design rate): the
// fixed fifth-order elliptic low-pass prototype, pre-warped, moved to a band-pass, mapped by the
// bilinear transform, paired into sections and ordered by increasing pole radius.
BandRow designBandPass(BandEdges edges);

// The rows of all 32 bands, band 0 first.
std::array<BandRow, bandCount> designBandTable();

} // namespace lumivox::tools
