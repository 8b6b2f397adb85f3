#include "band_meter_model.h"

#include <algorithm>
#include <cmath>

namespace lumivox::app {

namespace {
    // The layout the bars show, made once.
    const engine::BandLayout& classicLayout()
    {
        static const engine::BandLayout layout = engine::BandLayout::classic();
        return layout;
    }

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

void BandMeterModel::update(std::optional<std::span<const double>> levels, Clock::time_point now)
{
    const double elapsed = lastUpdate ? std::max(0.0, seconds(now - *lastUpdate)) : 0.0;
    lastUpdate = now;
    for (std::size_t band = 0; band < static_cast<std::size_t>(shown); ++band) {
        const double fallen = std::max(floorDb, bars[band] - fallDbPerSecond * elapsed);
        const double heard = levels && band < levels->size() ? levelDb((*levels)[band]) : floorDb;
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

void BandMeterModel::setBarCount(int count)
{
    shown = std::clamp(count, 1, mostBars);
    reset();
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
    return classicLayout().centreHz(std::clamp(band, 0, BandMeterModel::bandCount - 1), sampleRate);
}

std::vector<FrequencyMark> frequencyMarks(double sampleRate)
{
    return frequencyMarks(classicLayout(), sampleRate);
}

std::vector<FrequencyMark> frequencyMarks(const engine::BandLayout& layout, double sampleRate)
{
    std::vector<FrequencyMark> marks;
    if (!(sampleRate > 0.0))
        return marks;
    const int count = layout.bandCount();
    const auto centre = [&](int band) { return layout.centreHz(band, sampleRate); };
    const double lowest = centre(0);
    const double highest = centre(count - 1);
    for (double hertz = std::pow(10.0, std::ceil(std::log10(lowest))); hertz <= highest;
         hertz *= 10.0) {
        // Between the two bars whose centres enclose it, in proportion on a log scale.
        int upper = 1;
        while (upper < count - 1 && centre(upper) < hertz)
            ++upper;
        const double below = std::log(centre(upper - 1));
        const double above = std::log(centre(upper));
        const double fraction = std::clamp((std::log(hertz) - below) / (above - below), 0.0, 1.0);
        marks.push_back({ hertz, upper - 1 + fraction });
    }
    return marks;
}

} // namespace lumivox::app
