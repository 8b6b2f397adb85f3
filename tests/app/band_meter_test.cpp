#include "band_meter.h"
#include "band_meter_model.h"
#include "engine/vocoder_engine.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>

namespace lumivox::app {
namespace {

    using Clock = BandMeterModel::Clock;
    using std::chrono::milliseconds;
    constexpr int bands = BandMeterModel::bandCount;

    // Every band at the level that reads `db` on the meter.
    std::array<double, bands> levelsAt(double db)
    {
        std::array<double, bands> levels {};
        levels.fill(32.767 * std::pow(10.0, db / 20.0));
        return levels;
    }

    TEST(BandMeterModel, MapsLevelsToDecibelsOfFullScaleWithinItsRange)
    {
        EXPECT_NEAR(BandMeterModel::levelDb(32.767), 0.0, 1e-12);
        EXPECT_NEAR(BandMeterModel::levelDb(3.2767), -20.0, 1e-12);
        EXPECT_EQ(BandMeterModel::levelDb(1e-9), BandMeterModel::floorDb);
        EXPECT_EQ(BandMeterModel::levelDb(0.0), BandMeterModel::floorDb);
        EXPECT_EQ(BandMeterModel::levelDb(std::nan("")), BandMeterModel::floorDb);
        EXPECT_EQ(BandMeterModel::levelDb(1000.0), BandMeterModel::ceilingDb);
    }

    TEST(BandMeterModel, RisesAtOnceHoldsThePeakForASecondAndFallsThirteenDecibelsASecond)
    {
        BandMeterModel meter;
        const Clock::time_point start;
        const auto at = [&](int ms) { return start + milliseconds(ms); };
        EXPECT_TRUE(meter.atFloor());

        meter.update(levelsAt(-10.0), at(0));
        EXPECT_NEAR(meter.barDb(5), -10.0, 1e-9);
        EXPECT_NEAR(meter.peakDb(5), -10.0, 1e-9);

        meter.update(std::nullopt, at(500)); // the sound stops: the bar falls, the mark holds
        EXPECT_NEAR(meter.barDb(5), -16.5, 1e-9);
        EXPECT_NEAR(meter.peakDb(5), -10.0, 1e-9);
        meter.update(std::nullopt, at(1000));
        EXPECT_NEAR(meter.peakDb(5), -10.0, 1e-9);
        meter.update(std::nullopt, at(1500)); // half a second past the hold
        EXPECT_NEAR(meter.barDb(5), -29.5, 1e-9);
        EXPECT_NEAR(meter.peakDb(5), -16.5, 1e-9);

        meter.update(levelsAt(-40.0), at(2000)); // a quieter sound does not hold the bar up
        EXPECT_NEAR(meter.barDb(5), -36.0, 1e-9);
        meter.update(levelsAt(-40.0), at(3000));
        EXPECT_NEAR(meter.barDb(5), -40.0, 1e-9);

        meter.update(std::nullopt, at(9000)); // long enough to reach the floor, and no further
        EXPECT_EQ(meter.barDb(5), BandMeterModel::floorDb);
        EXPECT_EQ(meter.peakDb(5), BandMeterModel::floorDb);
        EXPECT_TRUE(meter.atFloor());
    }

    TEST(BandMeterModel, LabelsRoundFrequenciesThatMoveWithTheRate)
    {
        const auto hertzOf = [](double rate) {
            std::vector<double> hertz;
            for (const FrequencyMark& mark : frequencyMarks(rate))
                hertz.push_back(mark.hertz);
            return hertz;
        };
        EXPECT_EQ(hertzOf(44100), (std::vector<double> { 100, 1000, 10000 }));
        EXPECT_EQ(hertzOf(8000), (std::vector<double> { 10, 100, 1000 }));
        // 1 kHz lies between band 17 (883.55 Hz) and band 18 (1104.48 Hz) at 44.1 kHz.
        const FrequencyMark kilohertz = frequencyMarks(44100)[1];
        EXPECT_GT(kilohertz.bandPosition, 17.0);
        EXPECT_LT(kilohertz.bandPosition, 18.0);
        EXPECT_NEAR(bandCentreHz(18, 22050), 1104.48 / 2, 0.0025);
    }

    TEST(BandMeter, PaintsALitBarOnlyWhereABandHasLevel)
    {
        BandMeter meter;
        meter.resize(640, 160);
        std::array<double, bands> levels {};
        levels[5] = 32.767 * 0.1; // -20 dB: a green bar
        levels[30] = 32.767; // full scale: red
        meter.model().update(levels, Clock::time_point());
        const QImage image = meter.grab().toImage();
        const auto litRows = [&](int band, QColor colour) {
            const QRect bar = meter.barRect(band);
            int rows = 0;
            for (int y = bar.top(); y <= bar.bottom(); ++y)
                rows += image.pixelColor(bar.center().x(), y) == colour ? 1 : 0;
            return rows;
        };
        const int height = meter.barRect(5).height();
        EXPECT_NEAR(litRows(5, QColor(0x3c, 0xc8, 0x50)), height * 2 / 3, 3); // 40 of 60 dB
        EXPECT_GE(litRows(30, QColor(0xe6, 0x46, 0x3c)), height - 3);
        EXPECT_EQ(litRows(6, QColor(0x3c, 0xc8, 0x50)), 0);
        EXPECT_LT(meter.barRect(5).right(), meter.barRect(6).left()); // lowest band left
    }

    // A sine at one band's centre as the modulator, with white noise as the carrier, lights that
    // band's bar highest and bars three bands away at least 20 dB lower.
    class BandMeterLighting : public testing::TestWithParam<int> { };

    TEST_P(BandMeterLighting, ASineAtABandsCentreLightsThatBar)
    {
        const int band = GetParam();
        constexpr double rate = 44100.0;
        // Band centres at 44.1 kHz, as the filter bank's design gives them.
        const std::map<int, double> centreHz = { { 8, 118.49 }, { 18, 1104.48 }, { 27, 8251.72 } };
        engine::VocoderEngine engine;
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-10000.0, 10000.0);
        const double step = 2.0 * std::numbers::pi * centreHz.at(band) / rate;
        for (int i = 0; i < static_cast<int>(rate); ++i) // a second: every envelope has settled
            engine.processSample(noise(random), 0.5 * std::sin(step * i));

        std::array<double, bands> db {};
        for (int k = 0; k < bands; ++k)
            db[static_cast<std::size_t>(k)] = BandMeterModel::levelDb(engine.bandLevels()[k]);
        const auto loudest = std::max_element(db.begin(), db.end()) - db.begin();
        EXPECT_EQ(loudest, band);
        EXPECT_GT(db[static_cast<std::size_t>(band)], BandMeterModel::floorDb + 20.0);
        for (const int neighbour : { band - 3, band + 3 })
            EXPECT_LE(
                db[static_cast<std::size_t>(neighbour)], db[static_cast<std::size_t>(band)] - 20.0)
                << neighbour;
    }

    INSTANTIATE_TEST_SUITE_P(LowMiddleHigh, BandMeterLighting, testing::Values(8, 18, 27));

} // namespace
} // namespace lumivox::app
