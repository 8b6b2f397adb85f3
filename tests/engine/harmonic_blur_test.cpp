// The harmonic bands' blur, which the follow sound asks for: a narrow band's level reaches its
// neighbours, a flat spectrum stays flat, and the bands from the layout's harmonicBandCount() up
// keep their levels bit for bit. (That every path gives processSample's bits with the blur on is
// in the block-path, two-thread and band-count tables.)
#include "follow_voice_sound.h"
#include "harmonic_blur.h"
#include "layout_choice.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

namespace lumivox::engine::testing {
namespace {

    struct BlurCase {
        const char* name;
        BandLayout layout;
    };

    void PrintTo(const BlurCase& c, std::ostream* out) { *out << c.name; }

    LayoutChoice speechChoice()
    {
        LayoutChoice choice;
        choice.kind = LayoutKind::Speech;
        return choice;
    }

    std::string caseName(const ::testing::TestParamInfo<BlurCase>& param)
    {
        return param.param.name;
    }

    std::vector<BlurCase> blurCases()
    {
        std::vector<BlurCase> cases { { "Classic", BandLayout::classic() } };
        if (const auto speech = designBands(speechChoice(), 44100.0))
            cases.push_back({ "Speech", speech->bands });
        if (const auto wide = BandLayout::logSpaced(48, 40.0, 20000.0, 96000.0))
            cases.push_back({ "48Bands", *wide });
        if (const auto most = BandLayout::logSpaced(64, 10.0, 20000.0, 44100.0))
            cases.push_back({ "64Bands", *most });
        return cases;
    }

    // The levels of every band averaged over the last half of two seconds of a sine at the
    // centre of band lit, with the engine's harmonic-band blur of that radius.
    std::vector<double> meanLevels(const BandLayout& layout, int lit, int radius)
    {
        const double rate = layout.designRate();
        const double hertz = layout.centreHz(lit, rate);
        const auto frames = static_cast<std::size_t>(2.0 * rate);
        std::vector<double> modulator(frames);
        std::vector<double> carrier(frames, 1000.0);
        for (std::size_t t = 0; t < frames; ++t)
            modulator[t] = 0.5 * std::sin(2.0 * std::numbers::pi * hertz / rate * t);
        VocoderEngine engine(layout);
        engine.setHarmonicBandBlur(radius);
        std::vector<double> output(frames);
        std::vector<double> sums(static_cast<std::size_t>(layout.bandCount()));
        constexpr std::size_t block = 64;
        int blocks = 0;
        for (std::size_t start = 0; start + block <= frames; start += block) {
            engine.processBlock({ carrier.data() + start, block },
                { modulator.data() + start, block }, { output.data() + start, block });
            if (start >= frames / 2) {
                ++blocks;
                for (std::size_t i = 0; i < sums.size(); ++i)
                    sums[i] += engine.bandLevels()[i];
            }
        }
        for (double& sum : sums)
            sum /= blocks;
        return sums;
    }

    class HarmonicBandBlur : public ::testing::TestWithParam<BlurCase> { };

    TEST_P(HarmonicBandBlur, SpreadsALitNarrowBandToItsNeighboursAndLeavesTheWideBands)
    {
        const BandLayout& layout = GetParam().layout;
        const int harmonic = layout.harmonicBandCount();
        ASSERT_GE(harmonic, 3);
        // The highest narrow band but one, above the ripple of the lowest bands' envelopes.
        const int lit = harmonic - 2;
        const std::vector<double> sharp = meanLevels(layout, lit, 0);
        const std::vector<double> blurred
            = meanLevels(layout, lit, FollowVoiceSound::harmonicBandBlur);
        const auto at = [](const std::vector<double>& levels, int band) {
            return levels[static_cast<std::size_t>(band)];
        };
        // Unblurred, the band two below holds little of the sine; blurred, it holds a good share
        // of what the lit band keeps, and the lit band is still the loudest of them.
        EXPECT_LT(at(sharp, lit - 2), 0.05 * at(sharp, lit));
        EXPECT_GT(at(blurred, lit - 2), 0.25 * at(blurred, lit));
        EXPECT_GT(at(blurred, lit - 1), at(blurred, lit - 2));
        EXPECT_GT(at(blurred, lit), at(blurred, lit - 1));
        EXPECT_LT(at(blurred, lit), 0.6 * at(sharp, lit));
        // The wide bands are left as they are, bit for bit.
        for (int band = harmonic; band < layout.bandCount(); ++band) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(at(blurred, band)),
                std::bit_cast<std::uint64_t>(at(sharp, band)))
                << "band " << band;
        }
    }

    // Equal levels in every band come out of the blur as they went in: each band's weights add up
    // to one, at the ends of the bank as in its middle.
    TEST_P(HarmonicBandBlur, KeepsAFlatSpectrumFlat)
    {
        const BandLayout& layout = GetParam().layout;
        const HarmonicBlur blur = makeHarmonicBlur(FollowVoiceSound::harmonicBandBlur, layout);
        ASSERT_TRUE(blur.on());
        EXPECT_EQ(blur.bands, layout.harmonicBandCount());
        EXPECT_GE(blur.span, blur.bands);
        EXPECT_LE(blur.span, layout.bandCount());
        std::vector<double> levels(static_cast<std::size_t>(layout.bandCount()), 250.0);
        std::vector<double> work(
            static_cast<std::size_t>(HarmonicBlur::workValues(layout.bandCount())));
        blurAlongBands<1, double>(
            blur, [&levels](int, int i) -> double& { return levels[static_cast<std::size_t>(i)]; },
            work.data());
        for (double level : levels)
            EXPECT_NEAR(level, 250.0, 1e-10);
    }

    // One band at a time lit alone: each blurred band within reach takes it with a weight that
    // falls in a straight line with the distance, 2 x radius + 1 at the band itself and nothing
    // beyond 2 x radius, at the ends of the bank as in its middle.
    TEST_P(HarmonicBandBlur, WeighsANeighbourByItsDistanceInAStraightLine)
    {
        const BandLayout& layout = GetParam().layout;
        const HarmonicBlur blur = makeHarmonicBlur(FollowVoiceSound::harmonicBandBlur, layout);
        const int r = blur.radius;
        std::vector<double> work(
            static_cast<std::size_t>(HarmonicBlur::workValues(layout.bandCount())));
        for (int lit = 0; lit < layout.bandCount(); ++lit) {
            std::vector<double> levels(static_cast<std::size_t>(layout.bandCount()), 0.0);
            levels[static_cast<std::size_t>(lit)] = 1.0;
            blurAlongBands<1, double>(
                blur,
                [&levels](int, int i) -> double& { return levels[static_cast<std::size_t>(i)]; },
                work.data());
            for (int band = 0; band < blur.bands; ++band) {
                const int weight
                    = lit < blur.span ? std::max(0, 2 * r + 1 - std::abs(band - lit)) : 0;
                EXPECT_NEAR(levels[static_cast<std::size_t>(band)]
                        / blur.scale[static_cast<std::size_t>(band)],
                    weight, 1e-9)
                    << "band " << band << " lit " << lit;
            }
        }
    }

    TEST_P(HarmonicBandBlur, IsOffAtNoRadiusAndReachesNoFurtherThanTheBank)
    {
        const BandLayout& layout = GetParam().layout;
        EXPECT_FALSE(makeHarmonicBlur(0, layout).on());
        EXPECT_FALSE(makeHarmonicBlur(-2, layout).on());
        const HarmonicBlur most = makeHarmonicBlur(HarmonicBlur::maxRadius + 5, layout);
        EXPECT_EQ(most.radius, HarmonicBlur::maxRadius);
        EXPECT_LE(most.span, layout.bandCount());
    }

    INSTANTIATE_TEST_SUITE_P(Layouts, HarmonicBandBlur, ::testing::ValuesIn(blurCases()), caseName);

} // namespace
} // namespace lumivox::engine::testing
