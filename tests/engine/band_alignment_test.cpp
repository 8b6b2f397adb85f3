// Clarity's alignment of the bands in time, heard in the bands' levels: a click reaches every band
// centred from 300 Hz up at the same moment, the bands below as late as they always were, and the
// classic layout is never touched.
#include "band_alignment.h"
#include "engine_signals.h"
#include "layout_choice.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace lumivox::engine;

namespace {

using AlignedLayout = lumivox::engine::testing::LayoutAtRate;

const AlignedLayout alignedLayouts[] = {
    { "speech_44100", { LayoutKind::Speech, classicBandCount, std::nullopt }, 44100.0 },
    { "speech_96000", { LayoutKind::Speech, classicBandCount, std::nullopt }, 96000.0 },
    { "custom32_48000", { LayoutKind::Custom, 32, std::nullopt }, 48000.0 },
    { "custom20_100to8000_22050", { LayoutKind::Custom, 20, BandRange { 100.0, 8000.0 } },
        22050.0 },
};

BandLayout designed(const AlignedLayout& c)
{
    return lumivox::engine::testing::designedLayout(c.choice, c.rate);
}

// When each band's level, after a click in the modulator, is at its highest: in seconds.
std::vector<double> peakTimes(const BandLayout& layout, double rate, double clarity)
{
    VocoderEngine engine(layout, { VectorUnit::Portable, false });
    engine.setClarity(clarity);
    const int bands = engine.bandCount();
    const auto frames = static_cast<std::size_t>(0.08 * rate);
    std::vector<double> highest(static_cast<std::size_t>(bands), 0.0);
    std::vector<double> when(static_cast<std::size_t>(bands), 0.0);
    for (std::size_t t = 0; t < frames; ++t) {
        engine.processSample(1000.0, t == 0 ? 1.0 : 0.0);
        const auto levels = engine.bandLevels();
        for (std::size_t b = 0; b < levels.size(); ++b) {
            if (levels[b] > highest[b]) {
                highest[b] = levels[b];
                when[b] = static_cast<double>(t) / rate;
            }
        }
    }
    return when;
}

// The first band whose centre lies at or above hertz.
int firstBandFrom(const BandLayout& layout, double hertz)
{
    int band = 0;
    while (band < layout.bandCount() && layout.centreHz(band, layout.designRate()) < hertz)
        ++band;
    return band;
}

class ClarityAlignsTheBands : public ::testing::TestWithParam<AlignedLayout> { };

} // namespace

TEST_P(ClarityAlignsTheBands, AClickReachesTheBandsFrom300HzUpTogether)
{
    const BandLayout layout = designed(GetParam());
    const double rate = GetParam().rate;
    const int first = firstBandFrom(layout, 300.0);
    ASSERT_LT(first, layout.bandCount() - 2);
    const std::vector<double> plain = peakTimes(layout, rate, 0.0);
    const std::vector<double> aligned = peakTimes(layout, rate, 0.5);

    const auto spread = [&](const std::vector<double>& when) {
        const auto upper = std::span(when).subspan(static_cast<std::size_t>(first));
        const auto [early, late] = std::minmax_element(upper.begin(), upper.end());
        return *late - *early;
    };
    const auto latest = [&](const std::vector<double>& when) {
        return *std::max_element(when.begin() + first, when.end());
    };
    // Without it the upper bands answer milliseconds apart; with it within a millisecond.
    EXPECT_GT(spread(plain), 0.003);
    EXPECT_LT(spread(aligned), 0.001);
    for (int b = 0; b < first; ++b)
        EXPECT_EQ(aligned[static_cast<std::size_t>(b)], plain[static_cast<std::size_t>(b)])
            << "band " << b << " is not held back";
    // No band is held back beyond the slowest of them.
    EXPECT_LE(latest(aligned), latest(plain) + 0.001);
}

INSTANTIATE_TEST_SUITE_P(DesignedLayouts, ClarityAlignsTheBands,
    ::testing::ValuesIn(alignedLayouts),
    [](const auto& param) { return param.param.name; });

// The classic bands keep their delays whatever Clarity does: their sound is the one they have
// always had. Turned on, the alignment starts from silence, so that every path starts alike.
TEST(BandAlignment, LeavesTheClassicBandsAndStartsFromSilence)
{
    const BandLayout classic = BandLayout::classic();
    VocoderEngine engine(classic, { VectorUnit::Portable, false });
    engine.setClarity(1.0);
    EXPECT_FALSE(engine.alignment().active());
    EXPECT_EQ(engine.alignment().longestDelay(), 0);

    const BandLayout speech = designed(alignedLayouts[0]);
    VocoderEngine aligned(speech, { VectorUnit::Portable, false });
    const BandAlignment& alignment = aligned.alignment();
    ASSERT_GT(alignment.longestDelay(), 0);
    EXPECT_FALSE(alignment.active());
    aligned.setClarity(0.5);
    ASSERT_TRUE(alignment.active());
    for (int i = 0; i < 2 * alignment.longestDelay(); ++i)
        aligned.processSample(1000.0, 0.5);
    aligned.setClarity(0.0);
    EXPECT_FALSE(alignment.active());
    aligned.setClarity(0.5);
    const int top = speech.bandCount() - 1;
    ASSERT_GT(alignment.delay(top), 0);
    EXPECT_EQ(alignment.delayedInput(top, 0.25), 0.0) << "the past before turning on is silence";
    EXPECT_EQ(alignment.delayedInput(0, 0.25), 0.25) << "the lowest band takes the frame itself";
}
