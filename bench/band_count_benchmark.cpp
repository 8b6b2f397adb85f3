// What the band count costs the engine: one second of 44.1 kHz noise and a swelling tone through
// processBlock with 16, 32 and 48 bands over the same range (22.5 Hz to 20 kHz), the classic
// layout and the speech layout, on the vector unit the program would choose (LUMIVOX_VECTOR_UNIT).

#include "engine/block_path.h"
#include "engine/layout_choice.h"
#include "engine/vocoder_engine.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace lumivox::engine;

VectorChoice vectors;
constexpr double rate = 44100.0;

// 0: classic, 1: speech, otherwise that many bands over the classic range.
DesignedBands bandsFor(int count)
{
    LayoutChoice choice;
    if (count == 1)
        choice.kind = LayoutKind::Speech;
    else if (count != 0)
        choice = { LayoutKind::Custom, count, BandRange { 22.5, 20000.0 } };
    return *designBands(choice, rate);
}

void bandCount(benchmark::State& state)
{
    const DesignedBands bands = bandsFor(static_cast<int>(state.range(0)));
    VocoderEngine engine(bands.bands, vectors);
    const auto frames = static_cast<std::size_t>(rate);
    std::vector<double> carrier(frames), modulator(frames), output(frames);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> noise(-8000.0, 8000.0);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        carrier[i] = noise(random);
        modulator[i] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * 3.0 * t))
            * std::sin(2.0 * std::numbers::pi * 220.0 * t);
    }
    for (auto _ : state) {
        processBlockWith(vectors.unit, engine, carrier, modulator, output);
        benchmark::DoNotOptimize(output.data());
    }
    state.counters["bands"] = bands.bands.bandCount();
}

} // namespace

BENCHMARK(bandCount)
    ->ArgNames({ "bands" })
    ->Arg(0)
    ->Arg(1)
    ->Arg(16)
    ->Arg(32)
    ->Arg(48)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    vectors
        = vectorChoiceFrom(std::getenv("LUMIVOX_VECTOR_UNIT"), std::getenv("LUMIVOX_BLOCK_PATH"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
