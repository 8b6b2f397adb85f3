// A least Vagueness for the harmonic bands: those bands smooth as at the larger of it and the
// Vagueness, the others as at the Vagueness alone.
#include "engine_signals.h"
#include "spread.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace lumivox::engine::testing {
namespace {

    struct FloorCase {
        double vagueness;
        double harmonicBands;
    };

    class HarmonicBandFloor : public ::testing::TestWithParam<FloorCase> { };

    TEST_P(HarmonicBandFloor, GivesTheHarmonicBandsTheLargerVaguenessAndLeavesTheOthers)
    {
        const auto [vagueness, floor] = GetParam();
        const BandLayout classic = BandLayout::classic();
        EXPECT_EQ(makeSpread(vagueness, floor, classic).reach,
            makeSpread(std::max(vagueness, floor), 0.0, classic).reach);

        // Smoothing reads the unsmoothed levels, so each band's level is the one it would have at
        // its own Vagueness, bit for bit.
        const Signals signals = musicalSignals(sampleRate / 2);
        const auto lastLevels = [&](double v, double harmonicBands) {
            VocoderEngine engine;
            apply(engine, { v, 0.0, 1.0, 0.0, harmonicBands });
            for (std::size_t t = 0; t < signals.carrier.size(); ++t)
                engine.processSample(signals.carrier[t], signals.modulator[t]);
            const auto levels = engine.bandLevels();
            return std::vector<double>(levels.begin(), levels.end());
        };
        const auto got = lastLevels(vagueness, floor);
        const auto harmonic = lastLevels(std::max(vagueness, floor), 0.0);
        const auto others = lastLevels(vagueness, 0.0);
        for (std::size_t band = 0; band < got.size(); ++band) {
            EXPECT_EQ(got[band],
                band < static_cast<std::size_t>(classic.harmonicBandCount()) ? harmonic[band]
                                                                             : others[band])
                << "band " << band;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Settings, HarmonicBandFloor,
        ::testing::Values(FloorCase { 0.0, 0.85 }, FloorCase { 0.3, 0.85 }, FloorCase { 0.9, 0.85 },
            FloorCase { 0.0, 1.0 }, FloorCase { 0.5, 0.0 }));

} // namespace
} // namespace lumivox::engine::testing
