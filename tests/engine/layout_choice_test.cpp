#include "filter_primitives.h"
#include "filter_tables.h"
#include "frequency_response.h"
#include "layout_choice.h"
#include "vocoder_engine.h"

#include <cmath>
#include <iterator>
#include <gtest/gtest.h>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace lumivox::engine {
namespace {
    using testing::imageHz;
    using testing::prototypeStopEdge;

    using testing::fromDecibels;
    using testing::magnitude;

    struct ChoiceCase {
        LayoutChoice choice;
        double rate;
        int count; // the bands it must have
        double lowHz; // the lowest band's lower edge it must have
        double highHz; // the highest band's upper edge it must have
    };

    void PrintTo(const ChoiceCase& c, std::ostream* out)
    {
        *out << layoutChoiceText(c.choice) << " at " << c.rate << " Hz";
    }

    LayoutChoice custom(int count, std::optional<BandRange> range = std::nullopt)
    {
        return { LayoutKind::Custom, count, range };
    }

    const LayoutChoice speech { LayoutKind::Speech, classicBandCount, std::nullopt };

    class ChosenBands : public ::testing::TestWithParam<ChoiceCase> { };

} // namespace

// Every band of every choice as the classic ones are, from its designed coefficients: exactly 1
// at its centre, no more than 1.0000555 dB of ripple across its pass-band, at least 80 dB down
// beyond the prototype's stop edge; the range as asked (brought down to 0.46 x the rate).
TEST_P(ChosenBands, SpanTheirRangeAndKeepTheClassicRippleAndStopBand)
{
    const ChoiceCase& c = GetParam();
    const auto designed = designBands(c.choice, c.rate);
    ASSERT_TRUE(designed);
    const BandLayout& l = designed->bands;
    ASSERT_EQ(l.bandCount(), c.count);
    EXPECT_EQ(l.designRate(), c.rate);
    EXPECT_EQ(l.edges().front().lowHz, c.lowHz);
    EXPECT_NEAR(l.edges().back().highHz, c.highHz, 1e-9 * c.highHz);
    const double stopEdge = prototypeStopEdge();
    for (int band = 0; band < l.bandCount(); ++band) {
        SCOPED_TRACE("band " + std::to_string(band));
        FilterCascade cascade(static_cast<int>((l.bandRow(band).size() - 1) / 4));
        loadCoefficients(cascade, l.bandRow(band));
        const BandEdges e = l.edges()[static_cast<std::size_t>(band)];
        if (band > 0) {
            EXPECT_LT(l.edges()[static_cast<std::size_t>(band - 1)].highHz, e.lowHz);
        }
        EXPECT_NEAR(magnitude(cascade, l.centreHz(band, c.rate), c.rate), 1.0, 1e-7);
        constexpr int steps = 60;
        for (int i = 0; i <= steps; ++i) {
            const double hertz = e.lowHz + (e.highHz - e.lowHz) * i / steps;
            const double m = magnitude(cascade, hertz, c.rate);
            ASSERT_LE(m, 1.0 + 1e-7) << hertz << " Hz";
            ASSERT_GE(m, fromDecibels(-1.0000555) - 1e-6) << hertz << " Hz";
        }
        const double lowerStop = imageHz(e.lowHz, e.highHz, c.rate, -stopEdge);
        const double upperStop = imageHz(e.lowHz, e.highHz, c.rate, stopEdge);
        for (int i = 0; i <= steps; ++i) {
            const double below = lowerStop * i / steps;
            const double above = upperStop + (c.rate / 2.0 - upperStop) * i / steps;
            const double ceiling = fromDecibels(-80.0) * (1.0 + 1e-6);
            ASSERT_LE(magnitude(cascade, below, c.rate), ceiling) << below << " Hz";
            ASSERT_LE(magnitude(cascade, above, c.rate), ceiling) << above << " Hz";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CountsRangesAndRates, ChosenBands,
    ::testing::Values(ChoiceCase { speech, 44100.0, speechBandCount, 100.0, 8000.0 },
        ChoiceCase { speech, 96000.0, speechBandCount, 100.0, 8000.0 },
        ChoiceCase { speech, 16000.0, speechBandCount, 100.0, 0.46 * 16000.0 },
        ChoiceCase { custom(4), 44100.0, 4, 22.5, 20000.0 },
        ChoiceCase { custom(20), 22050.0, 20, 22.5, 0.46 * 22050.0 },
        ChoiceCase { custom(48, BandRange { 100.0, 8000.0 }), 96000.0, 48, 100.0, 8000.0 },
        ChoiceCase { custom(64, BandRange { 10.0, 0.46 * 192000.0 }), 192000.0, 64, 10.0,
            0.46 * 192000.0 }));

// The speech layout's edges, rounded to the hertz, are those the layout bench measured, at every
// rate that holds 8 kHz; it is about 6 dB quieter, and the classic layout keeps its level.
TEST(SpeechBands, HaveTheMeasuredEdgesAtEveryRateThatHoldsThem)
{
    const int expected[][2] = { { 100, 217 }, { 222, 352 }, { 358, 502 }, { 509, 669 },
        { 676, 855 }, { 862, 1060 }, { 1069, 1289 }, { 1299, 1544 }, { 1554, 1826 },
        { 1838, 2140 }, { 2153, 2488 }, { 2503, 2876 }, { 2892, 3306 }, { 3324, 3785 },
        { 3805, 4316 }, { 4338, 4906 }, { 4931, 5562 }, { 5590, 6291 }, { 6322, 7100 },
        { 7135, 8000 } };
    const int count = static_cast<int>(std::size(expected));
    for (const double rate : { 17400.0, 44100.0, 48000.0, 96000.0 }) {
        const auto designed = designBands(speech, rate);
        ASSERT_TRUE(designed) << rate;
        ASSERT_EQ(designed->bands.bandCount(), count);
        for (int band = 0; band < count; ++band) {
            const BandEdges e = designed->bands.edges()[static_cast<std::size_t>(band)];
            EXPECT_EQ(std::lround(e.lowHz), expected[band][0]) << rate << " Hz, band " << band;
            EXPECT_EQ(std::lround(e.highHz), expected[band][1]) << rate << " Hz, band " << band;
        }
        EXPECT_NEAR(20.0 * std::log10(designed->levelGain), -6.0, 0.5);
        // Its lowest bands hold more than one harmonic of a voice: six below 200 Hz wide, where
        // the classic layout has eighteen, and none below 110 Hz.
        int narrow = 0;
        for (const BandEdges& e : designed->bands.edges()) {
            narrow += e.highHz - e.lowHz < 200.0 ? 1 : 0;
            EXPECT_GT(e.highHz - e.lowHz, 110.0) << rate;
        }
        EXPECT_EQ(narrow, 6) << rate;
    }
    const auto classic = designBands(LayoutChoice {}, 96000.0);
    ASSERT_TRUE(classic);
    EXPECT_TRUE(classic->bands.isClassic());
    EXPECT_EQ(classic->levelGain, 1.0);
}

// A range given is kept as given or refused: never moved to fit the rate.
TEST(ChosenBands, RangeTheRateCannotHoldIsRefused)
{
    EXPECT_FALSE(designBands(custom(32, BandRange { 100.0, 12000.0 }), 22050.0));
    EXPECT_FALSE(designBands(custom(32, BandRange { 100.0, 0.46 * 44100.0 + 0.5 }), 44100.0));
    EXPECT_TRUE(designBands(custom(32, BandRange { 100.0, 0.46 * 44100.0 }), 44100.0));
    EXPECT_FALSE(designBands(custom(3), 44100.0));
    EXPECT_FALSE(designBands(custom(65), 44100.0));
}

// What the window keeps and the command line reads comes back as the same choice.
TEST(LayoutChoiceText, ReadsBackWhatItWritesAndNothingElse)
{
    const LayoutChoice kept[] = { LayoutChoice {}, speech, custom(4), custom(64),
        custom(24, BandRange { 100.0, 8000.0 }), custom(17, BandRange { 22.5, 12345.678 }) };
    for (const LayoutChoice& choice : kept)
        EXPECT_EQ(parseLayoutChoiceText(layoutChoiceText(choice)), choice)
            << layoutChoiceText(choice);
    for (const char* text : { "", "3", "65", "-4", "16x", "Speech", "16:100", "16:8000:100",
             "16:5:8000", "16:100:8000:1", "16:nan:8000", "16:100:inf" })
        EXPECT_FALSE(parseLayoutChoiceText(text)) << '"' << text << '"';
}

// At 96 kHz with bands from 100 Hz to 8 kHz, a 12 kHz tone lies above every band: vocoding noise
// with it leaves at least 40 dB less than vocoding it with a 1 kHz tone does.
TEST(ChosenBands, ToneAboveTheRangeIsShutOutAt96kHz)
{
    constexpr double rate = 96000.0;
    const auto designed = designBands(custom(32, BandRange { 100.0, 8000.0 }), rate);
    ASSERT_TRUE(designed);
    const auto outputPower = [&](double toneHz) {
        VocoderEngine engine(designed->bands);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-8000.0, 8000.0);
        const int frames = static_cast<int>(rate); // one second; the last half is measured
        double power = 0.0;
        for (int i = 0; i < frames; ++i) {
            const double tone = 8000.0 * std::sin(2.0 * std::numbers::pi * toneHz * i / rate);
            const double out = engine.processSample(noise(random), tone);
            if (i >= frames / 2)
                power += out * out;
        }
        return power / (frames / 2);
    };
    const double inBand = outputPower(1000.0);
    const double above = outputPower(12000.0);
    ASSERT_GT(inBand, 0.0);
    EXPECT_LE(10.0 * std::log10((above + 1e-300) / inBand), -40.0)
        << "1 kHz: " << inBand << ", 12 kHz: " << above;
}

} // namespace lumivox::engine
