#pragma once

namespace lumivox::engine {

// The shape of the bank and the scale of its levels, the same for every path through the engine.
// How many bands a bank has, and where they lie, is its BandLayout's; these are the bounds every
// layout keeps.
inline constexpr int classicBandCount = 32; // the bands of the classic layout's constant table
inline constexpr int mostBands = 64; // the most bands a layout may have
inline constexpr int bandSectionCount = 5; // second-order sections per band-pass cascade
inline constexpr int envelopeSectionCount = 2; // second-order sections per envelope low-pass
inline constexpr int classicSpread = 14; // the farthest neighbour Vagueness weights, classic bands
inline constexpr int maxSpread = 2 * classicSpread; // the same at the most bands

// The vector paths run the bands in groups: two groups of the widest unit's eight lanes at a time,
// and each of the two threads of a split run a whole number of such groups. A bank is padded with
// silent bands up to a multiple of this.
inline constexpr int bandPadding = 16;
constexpr int paddedBandCount(int bands)
{
    return (bands + bandPadding - 1) / bandPadding * bandPadding;
}
static_assert(
    paddedBandCount(classicBandCount) == classicBandCount, "the classic bank is not padded");
static_assert(paddedBandCount(mostBands) == mostBands);
static_assert(paddedBandCount(mostBands) / 2 % 8 == 0, "each half of a split is whole groups");

// Band levels are scaled by one thousandth of 32767, not by 32767.
inline constexpr double levelScale = 32.767;

} // namespace lumivox::engine
