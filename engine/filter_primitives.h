#pragma once

#include <memory>
#include <vector>

namespace lumivox::engine {

// One normalised second-order IIR section in transposed direct form II (b0 = a0 = 1).
struct BiquadSection {
    double z1 = 0.0;
    double z2 = 0.0;
    double b0 = 1.0; // kept for the record layout; process() does not read it
    double b1 = 0.0;
    double b2 = 0.0;
    double a0 = 1.0; // kept for the record layout; process() does not read it
    double a1 = 0.0;
    double a2 = 0.0;

    double process(double x)
    {
        const double y = x + z1;
        z1 = b1 * x + z2 - a1 * y;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// An input gain followed by a run of sections, processed in index order.
struct FilterCascade {
    explicit FilterCascade(int sectionCount); // fewer than one is taken as one
    FilterCascade(const FilterCascade&) = delete;
    FilterCascade& operator=(const FilterCascade&) = delete;
    FilterCascade(FilterCascade&&) noexcept = default;
    FilterCascade& operator=(FilterCascade&&) noexcept = default;

    double process(double x)
    {
        double v = gain * x;
        for (BiquadSection& section : sections)
            v = section.process(v);
        return v;
    }

    int sectionCount = 1;
    double gain = 0.0;
    std::vector<BiquadSection> sections;
};

// Full-wave rectifier followed by the fixed two-section elliptic low-pass.
struct EnvelopeFollower {
    EnvelopeFollower();
    EnvelopeFollower(const EnvelopeFollower&) = delete;
    EnvelopeFollower& operator=(const EnvelopeFollower&) = delete;
    EnvelopeFollower(EnvelopeFollower&&) noexcept = default;
    EnvelopeFollower& operator=(EnvelopeFollower&&) noexcept = default;

    double process(double x) { return lowPass->process(x >= 0.0 ? x : -x); }

    std::unique_ptr<FilterCascade> lowPass;
};

} // namespace lumivox::engine
