#pragma once

#include "engine/band_layout.h"

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <vector>

namespace lumivox::app {

// Where a meter label goes: a round frequency and its place along the bars, in band indices
// (0.0 is the centre of the lowest bar, 31.0 that of the highest).
struct FrequencyMark {
    double hertz;
    double bandPosition;
};

// The band meters' levels in dB, a bar for each band of the run's layout, with peak-meter
// ballistics: a bar rises at once and falls at a fixed rate; a peak mark holds for a while and
// then falls at the same rate. Time comes from the caller, so that the ballistics can be checked
// against a made-up clock.
class BandMeterModel {
public:
    using Clock = std::chrono::steady_clock;
    // The bars of the classic layout, shown until a run says otherwise.
    static constexpr int bandCount = engine::classicBandCount;
    static constexpr int mostBars = engine::mostBands; // room for any layout's bands
    static constexpr double floorDb = -60.0;
    static constexpr double ceilingDb = 0.0;
    static constexpr double holdSeconds = 1.0;
    static constexpr double fallDbPerSecond = 13.0;

    // An engine band level in dB against the level of a full-scale modulator band, on the meter's
    // scale (floorDb…ceilingDb).
    static double levelDb(double level);

    // Advances the bars to `now`, taking these levels if any arrived (none: the bars fall).
    // Levels past bandCount are left out; bars without one fall.
    void update(std::optional<std::span<const double>> levels, Clock::time_point now);
    void reset(); // every bar and mark to the floor
    // As many bars as the layout has bands (clamped to 1..mostBars); all start at the floor.
    void setBarCount(int count);
    [[nodiscard]] int barCount() const { return shown; }

    [[nodiscard]] double barDb(int band) const { return bars[static_cast<std::size_t>(band)]; }
    [[nodiscard]] double peakDb(int band) const { return peaks[static_cast<std::size_t>(band)]; }
    [[nodiscard]] bool atFloor() const;

private:
    std::array<double, mostBars> bars = filled(floorDb);
    std::array<double, mostBars> peaks = filled(floorDb);
    std::array<Clock::time_point, mostBars> peakSetAt {};
    std::optional<Clock::time_point> lastUpdate;
    int shown = bandCount;

    static constexpr std::array<double, mostBars> filled(double value)
    {
        std::array<double, mostBars> values {};
        values.fill(value);
        return values;
    }
};

// The centre frequency of a band of the classic layout when the files have this sample rate (the
// layout is designed for 44100 Hz and moves with the rate).
double bandCentreHz(int band, double sampleRate);

// The powers of ten that fall inside the bank at this rate, each with its place along the bars.
std::vector<FrequencyMark> frequencyMarks(double sampleRate);
// The same for the bars of any layout.
std::vector<FrequencyMark> frequencyMarks(const engine::BandLayout& layout, double sampleRate);

} // namespace lumivox::app
