#include "band_meter_model.h"

#include <algorithm>
#include <cmath>

namespace lumivox::app {

namespace {
    // Band centres at 44100 Hz, where each band's gain is exactly 1.
    constexpr auto centresAt44100 = std::to_array<double>({ 19.90, 24.87, 30.85, 38.79, 48.74,
        60.70, 75.68, 94.57, 118.49, 148.80, 185.13, 231.86, 289.55, 362.22, 452.77, 565.14, 707.46,
        883.55, 1104.48, 1381.21, 1726.53, 2157.56, 2698.10, 3372.42, 4216.44, 5272.70, 6594.29,
        8251.72, 10332.47, 12958.50, 16328.30, 19223.84 });
    static_assert(centresAt44100.size() == BandMeterModel::bandCount);

    // A full-scale modulator sine gives an envelope of about 2/pi; the engine scales levels by
    // 32.767, so a level of 32.767 is taken as 0 dB.
    constexpr double fullScaleLevel = 32.767;

    double seconds(BandMeterModel::Clock::duration duration)
    {
        return std::chrono::duration<double>(duration).count();
    }
}

double BandMeterModel::levelDb(double level)
{
    if (!(level > 0.0))
        return floorDb;
    return std::clamp(20.0 * std::log10(level / fullScaleLevel), floorDb, ceilingDb);
}

void BandMeterModel::update(
    std::optional<std::span<const double, bandCount>> levels, Clock::time_point now)
{
    const double elapsed = lastUpdate ? std::max(0.0, seconds(now - *lastUpdate)) : 0.0;
    lastUpdate = now;
    for (std::size_t band = 0; band < bars.size(); ++band) {
        const double fallen = std::max(floorDb, bars[band] - fallDbPerSecond * elapsed);
        const double heard = levels ? levelDb((*levels)[band]) : floorDb;
        bars[band] = std::max(fallen, heard);

        if (bars[band] >= peaks[band]) {
            peaks[band] = bars[band];
            peakSetAt[band] = now;
            continue;
        }
        // The mark falls only for the part of this step that lies past its hold.
        const double pastHold = seconds(now - peakSetAt[band]) - holdSeconds;
        const double falling = std::clamp(pastHold, 0.0, elapsed);
        peaks[band] = std::max(bars[band], peaks[band] - fallDbPerSecond * falling);
    }
}

void BandMeterModel::reset()
{
    bars = filled(floorDb);
    peaks = filled(floorDb);
    lastUpdate.reset();
}

bool BandMeterModel::atFloor() const
{
    const auto down = [](double db) { return db <= floorDb; };
    return std::all_of(bars.begin(), bars.end(), down)
        && std::all_of(peaks.begin(), peaks.end(), down);
}

double bandCentreHz(int band, double sampleRate)
{
    const auto index = static_cast<std::size_t>(std::clamp(band, 0, BandMeterModel::bandCount - 1));
    return centresAt44100[index] * sampleRate / 44100.0;
}

std::vector<FrequencyMark> frequencyMarks(double sampleRate)
{
    std::vector<FrequencyMark> marks;
    if (!(sampleRate > 0.0))
        return marks;
    const double lowest = bandCentreHz(0, sampleRate);
    const double highest = bandCentreHz(BandMeterModel::bandCount - 1, sampleRate);
    for (double hertz = std::pow(10.0, std::ceil(std::log10(lowest))); hertz <= highest;
         hertz *= 10.0) {
        // Between the two bars whose centres enclose it, in proportion on a log scale.
        int upper = 1;
        while (upper < BandMeterModel::bandCount - 1 && bandCentreHz(upper, sampleRate) < hertz)
            ++upper;
        const double below = std::log(bandCentreHz(upper - 1, sampleRate));
        const double above = std::log(bandCentreHz(upper, sampleRate));
        const double fraction = std::clamp((std::log(hertz) - below) / (above - below), 0.0, 1.0);
        marks.push_back({ hertz, upper - 1 + fraction });
    }
    return marks;
}

} // namespace lumivox::app
