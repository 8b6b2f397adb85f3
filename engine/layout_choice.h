#pragma once

#include "band_layout.h"

#include <optional>
#include <string>
#include <string_view>

namespace lumivox::engine {

// Which bands a run uses, as the user chose them: the classic 32, the speech layout, or a count
// over a range of their own. A plain value the front ends keep and hand to the job, which designs
// the layout at the output's rate.
enum class LayoutKind { Classic = 0, Speech = 1, Custom = 2 };

struct BandRange {
    double lowHz; // the lowest band's lower edge
    double highHz; // the highest band's upper edge

    friend bool operator==(const BandRange&, const BandRange&) = default;
};

struct LayoutChoice {
    LayoutKind kind = LayoutKind::Classic;
    int count = classicBandCount; // Custom only
    // Custom only; nothing is the classic range, its top brought down to what the rate holds.
    std::optional<BandRange> range;

    friend bool operator==(const LayoutChoice&, const LayoutChoice&) = default;
};

// The classic bands' range, 22.5 Hz to 20 kHz, for a custom count without a range of its own.
inline constexpr BandRange classicRange { 22.5, 20000.0 };

// The speech layout: 20 bands from 100 Hz to 8 kHz spaced evenly on u(f) = ln(1 + f / 1000 Hz),
// which widens the low bands so that each holds more than one harmonic of a voice. Each band is
// 0.96 of the spacing wide, a little wider than the classic bands' 0.9, so that every band from
// 300 Hz up holds a voice back no more than 10 ms (9.9 ms at most, in the band at 424 Hz), as a
// singer playing live needs. Chosen by measurement (bench/layouts/).
inline constexpr int speechBandCount = 20;
inline constexpr BandRange speechRange { 100.0, 8000.0 };
inline constexpr double speechKneeHz = 1000.0;
inline constexpr double speechPassShare = 0.96;
// Its wide bands sum to about 6 dB louder than the classic ones; this brings it back so that it
// clips where the classic bands do not.
inline constexpr double speechLevelGain = 0.5;

// A layout designed for a rate, with the gain that brings its output to the classic level.
struct DesignedBands {
    BandLayout bands;
    double levelGain = 1.0; // exactly 1 for the classic layout
};

// The highest a band may reach at sampleRate.
double highestBandHz(double sampleRate);

// count bands from range.lowHz to range.highHz spaced evenly on u(f) = ln(1 + f / kneeHz), each
// passShare of its spacing wide (below 1, so that neighbours do not meet), designed at
// sampleRate. Nothing when the count, the share or the range is outside what a layout may have.
std::optional<BandLayout> kneeSpacedLayout(
    int count, BandRange range, double kneeHz, double passShare, double sampleRate);

// The chosen layout designed at sampleRate. The speech layout and a custom count without a range
// bring their top down to what the rate holds; nothing when a range given does not fit the rate
// (or the count is not one a layout may have).
std::optional<DesignedBands> designBands(const LayoutChoice& choice, double sampleRate);

// How a choice is written on the command line and in the window's memory: "classic", "speech",
// or the count, with ":LOW:HIGH" when it has a range of its own.
std::string layoutChoiceText(const LayoutChoice& choice);
// Reads what layoutChoiceText writes; nothing for anything else.
std::optional<LayoutChoice> parseLayoutChoiceText(std::string_view text);

} // namespace lumivox::engine
