#include "filter_primitives.h"
#include "filter_tables.h"
#include "frequency_response.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace lumivox::engine {
namespace {

    using testing::fromDecibels;
    using testing::magnitude;
    using testing::zeroFrequencyGain;

    BiquadSection sectionWith(double b1, double b2, double a1, double a2)
    {
        BiquadSection section;
        section.b1 = b1;
        section.b2 = b2;
        section.a1 = a1;
        section.a2 = a2;
        return section;
    }

    // Outputs of a fresh follower fed the constant 1, numbered from 0.
    std::vector<double> envelopeStepResponse(int count)
    {
        EnvelopeFollower follower;
        std::vector<double> outputs;
        for (int n = 0; n < count; ++n)
            outputs.push_back(follower.process(1.0));
        return outputs;
    }

    double zeroFrequencyHz(const BiquadSection& s)
    {
        return std::acos(-s.b1 / 2.0) * testing::designRate / (2.0 * std::numbers::pi);
    }

} // namespace

TEST(BiquadSection, ConstructsNormalisedAndAtRest)
{
    const BiquadSection section;
    EXPECT_EQ(section.z1, 0.0);
    EXPECT_EQ(section.z2, 0.0);
    EXPECT_EQ(section.b0, 1.0);
    EXPECT_EQ(section.a0, 1.0);
}

TEST(BiquadSection, ImpulseResponseBeginsWithTheClosedForm)
{
    const double b1 = -1.98895160405475;
    const double b2 = 0.999999999999995;
    const double a1 = -1.97142230381556;
    const double a2 = 0.993111767954657;
    BiquadSection section = sectionWith(b1, b2, a1, a2);
    EXPECT_EQ(section.process(1.0), 1.0);
    EXPECT_EQ(section.process(0.0), b1 - a1);
    EXPECT_EQ(section.process(0.0), b2 - a2 - a1 * (b1 - a1));
}

TEST(BiquadSection, FirstOutputEqualsTheInput)
{
    BiquadSection section = sectionWith(0.3, -0.7, 0.5, 0.25);
    EXPECT_EQ(section.process(-123.456), -123.456);
}

TEST(BiquadSection, ZeroCoefficientsPassTheInputUnchanged)
{
    BiquadSection section = sectionWith(0.0, 0.0, 0.0, 0.0);
    for (const double x : { 1.0, -2.5, 1e-300, 7.25e10, 0.0, -3.0 })
        EXPECT_EQ(section.process(x), x);
}

TEST(FilterCascade, CountBelowOneMakesOneSection)
{
    for (const int count : { 0, -5 }) {
        const FilterCascade cascade(count);
        EXPECT_EQ(cascade.sectionCount, 1);
        EXPECT_EQ(cascade.sections.size(), 1u);
    }
    const FilterCascade five(5);
    EXPECT_EQ(five.sectionCount, 5);
    EXPECT_EQ(five.sections.size(), 5u);
}

TEST(FilterCascade, FirstOutputIsGainTimesInput)
{
    FilterCascade cascade(5);
    loadCoefficients(cascade, bandCoefficients().subspan(18 * bandRowSize, bandRowSize));
    EXPECT_EQ(cascade.process(0.75), cascade.gain * 0.75);
}

TEST(FilterCascade, RunsSectionsInIndexOrder)
{
    // Two sections that do not commute in floating point would give other bits in the other
    // order; checking against a hand-run in index order pins the order down.
    FilterCascade cascade(2);
    cascade.gain = 0.5;
    cascade.sections[0] = sectionWith(0.1, 0.2, -0.3, 0.4);
    cascade.sections[1] = sectionWith(-1.7, 0.9, 0.6, 0.35);
    BiquadSection first = cascade.sections[0];
    BiquadSection second = cascade.sections[1];
    for (const double x : { 1.0, 0.3, -2.0, 0.7, 0.0, 5.5 })
        EXPECT_EQ(cascade.process(x), second.process(first.process(0.5 * x)));
}

TEST(FilterCascade, SettlesAtTheZeroFrequencyGain)
{
    EnvelopeFollower follower;
    FilterCascade& lowPass = *follower.lowPass;
    const double expected = -3.5 * zeroFrequencyGain(lowPass);
    double y = 0.0;
    for (int n = 0; n < 40'000; ++n)
        y = lowPass.process(-3.5);
    EXPECT_NEAR(y, expected, 1e-12 * std::abs(expected));
}

TEST(EnvelopeFollower, UsesTheEnvelopeValuesBitForBit)
{
    constexpr std::array<std::uint64_t, 9> bits { 0x3F1A3897B0A0B2C1, 0xBFFF9CB283949F83,
        0x3FEFFFFFFFFFFFF7, 0xBFFFD84AF3B78F40, 0x3FEFB10F80B65E7D, 0xBFFFEE876D32B336,
        0x3FEFFFFFFFFFFFF7, 0xBFFFEF5BDE4B99E2, 0x3FEFE05B7ED21438 };
    const EnvelopeFollower follower;
    const FilterCascade& lowPass = *follower.lowPass;
    ASSERT_EQ(lowPass.sectionCount, 2);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(lowPass.gain), bits[0]);
    for (std::size_t s = 0; s < 2; ++s) {
        const BiquadSection& section = lowPass.sections[s];
        EXPECT_EQ(std::bit_cast<std::uint64_t>(section.b1), bits[1 + 4 * s]) << "section " << s;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(section.b2), bits[2 + 4 * s]) << "section " << s;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(section.a1), bits[3 + 4 * s]) << "section " << s;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(section.a2), bits[4 + 4 * s]) << "section " << s;
        EXPECT_EQ(section.b0, 1.0);
        EXPECT_EQ(section.a0, 1.0);
    }
}

TEST(EnvelopeFollower, LowPassHasTheDocumentedShape)
{
    const EnvelopeFollower follower;
    const FilterCascade& lowPass = *follower.lowPass;
    EXPECT_NEAR(std::sqrt(lowPass.sections[0].a2), 0.99517, 5e-6);
    EXPECT_NEAR(std::sqrt(lowPass.sections[1].a2), 0.99807, 5e-6);
    EXPECT_NEAR(zeroFrequencyHz(lowPass.sections[0]), 1094.0, 0.05);
    EXPECT_NEAR(zeroFrequencyHz(lowPass.sections[1]), 458.5, 0.05);
    EXPECT_NEAR(zeroFrequencyGain(lowPass), 0.891250938, 1e-9);
    for (double hertz = 0.0; hertz <= 100.0; hertz += 0.25) {
        EXPECT_LE(magnitude(lowPass, hertz), 1.00001) << hertz << " Hz"; // peaks at 1.0000051
        EXPECT_GE(magnitude(lowPass, hertz), 0.891250938 - 1e-6) << hertz << " Hz";
    }
    EXPECT_NEAR(magnitude(lowPass, 105.1), fromDecibels(-3.0), 1e-3);
    for (double hertz = 424.5; hertz <= 22050.0; hertz += 0.5)
        EXPECT_LE(magnitude(lowPass, hertz), fromDecibels(-80.0)) << hertz << " Hz";
}

TEST(EnvelopeFollower, GivesTheSameOutputForAnInputAndItsNegation)
{
    EnvelopeFollower plain;
    EnvelopeFollower negated;
    for (int n = 0; n < 2000; ++n) {
        const double x = std::sin(0.01 * n) * 0.8 + ((n * 7919) % 13 - 6) * 0.01;
        EXPECT_EQ(plain.process(x), negated.process(-x)) << "at " << n;
    }
}

TEST(EnvelopeFollower, SettlesAtTheZeroFrequencyGainOfTheMagnitude)
{
    EnvelopeFollower follower;
    double y = 0.0;
    for (int n = 0; n < 40'000; ++n)
        y = follower.process(-2.0);
    EXPECT_NEAR(y, 2.0 * 0.891250938, 2e-9);
}

TEST(EnvelopeFollower, StepResponseReachesNinetyPercentAtOutput307)
{
    const std::vector<double> y = envelopeStepResponse(1000);
    const double target = 0.9 * 0.891250938;
    EXPECT_LT(y[306], target);
    EXPECT_GE(y[307], target);
    for (int n = 0; n < 307; ++n)
        ASSERT_LT(y[static_cast<std::size_t>(n)], target) << "at " << n;
}

TEST(EnvelopeFollower, StepResponsePeaksAt434)
{
    const std::vector<double> y = envelopeStepResponse(40'000);
    const auto peak = std::max_element(y.begin(), y.end());
    EXPECT_EQ(peak - y.begin(), 434);
    EXPECT_NEAR(*peak, 1.0891, 5e-5);
    EXPECT_NEAR(*peak / 0.891250938, 1.22, 0.005);
}

TEST(EnvelopeFollower, StepResponseStaysWithinOnePercentFrom1786)
{
    const std::vector<double> y = envelopeStepResponse(40'000);
    const double final = 0.891250938;
    const auto outside = [&](std::size_t n) { return std::abs(y[n] - final) > 0.01 * final; };
    EXPECT_TRUE(outside(1785));
    for (std::size_t n = 1786; n < y.size(); ++n)
        ASSERT_FALSE(outside(n)) << "at " << n;
}

} // namespace lumivox::engine
