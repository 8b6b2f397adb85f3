// Throughput of VocoderEngine::processSample and of the block path on one second of 44.1 kHz
// material, reported as frames per second and as the real-time factor (frames per second / 44100).
#include "block_path.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>
#include <vector>

namespace {

constexpr int sampleRate = 44100;

struct Material {
    std::vector<double> carrier; // 16-bit sample units
    std::vector<double> modulator; // normalised to about +-1
};

// A sawtooth chord for the carrier; for the modulator a buzz at a gliding pitch through a moving
// formant, with breath noise and short pauses, as a voice gives a vocoder.
Material makeMaterial()
{
    Material material;
    std::uint32_t noise = 12345;
    for (int n = 0; n < sampleRate; ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        double chord = 0.0;
        for (const double hertz : { 110.0, 138.59, 164.81, 220.0 })
            chord += 3500.0 * (2.0 * std::fmod(hertz * t, 1.0) - 1.0);
        material.carrier.push_back(chord);

        noise = noise * 1664525u + 1013904223u;
        const double hiss = static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
        const double pitch = 120.0 + 30.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        const double buzz = std::sin(2.0 * std::numbers::pi * pitch * t);
        const double formant = 0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * 4.0 * t);
        const double voiced = std::fmod(t, 0.5) < 0.4 ? 1.0 : 0.0;
        material.modulator.push_back(voiced * 0.6 * buzz * formant + 0.05 * hiss);
    }
    return material;
}

const Material& material()
{
    static const Material made = makeMaterial();
    return made;
}

void reportFrames(benchmark::State& state, std::int64_t frameCount)
{
    state.SetItemsProcessed(state.iterations() * frameCount);
    state.counters["frames/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * frameCount), benchmark::Counter::kIsRate);
    state.counters["realtime_factor"]
        = benchmark::Counter(static_cast<double>(state.iterations() * frameCount) / sampleRate,
            benchmark::Counter::kIsRate);
}

// Arguments: Vagueness and Instrument Clearance slider positions (0 to 100).
void processSample(benchmark::State& state)
{
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.setVagueness(static_cast<double>(state.range(0)) / 100.0);
    engine.setClearance(static_cast<double>(state.range(1)) / 100.0);
    for (auto _ : state) {
        double sum = 0.0;
        for (std::size_t i = 0; i < input.carrier.size(); ++i)
            sum += engine.processSample(input.carrier[i], input.modulator[i]);
        benchmark::DoNotOptimize(sum);
    }
    reportFrames(state, static_cast<std::int64_t>(input.carrier.size()));
}

// The block path in blocks of 2048 frames, as the job feeds it 16-bit audio. Arguments: the
// vector unit, then the Vagueness and Instrument Clearance positions.
void processBlock(benchmark::State& state)
{
    using lumivox::engine::VectorUnit;
    const auto unit = static_cast<VectorUnit>(state.range(0));
    const auto units = lumivox::engine::vectorUnitsOfThisMachine();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        state.SkipWithError("this machine cannot run that vector unit");
        return;
    }
    state.SetLabel(lumivox::engine::vectorUnitName(unit));
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.setVagueness(static_cast<double>(state.range(1)) / 100.0);
    engine.setClearance(static_cast<double>(state.range(2)) / 100.0);
    std::vector<double> output(input.carrier.size());
    constexpr std::size_t blockLength = 2048;
    for (auto _ : state) {
        for (std::size_t start = 0; start < output.size(); start += blockLength) {
            const std::size_t length = std::min(blockLength, output.size() - start);
            lumivox::engine::processBlockWith(unit, engine,
                { input.carrier.data() + start, length },
                { input.modulator.data() + start, length }, { output.data() + start, length });
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    reportFrames(state, static_cast<std::int64_t>(input.carrier.size()));
}

void blockArguments(benchmark::internal::Benchmark* benchmark)
{
    using lumivox::engine::VectorUnit;
    for (const auto& [vagueness, clearance] : { std::pair { 0, 0 }, { 50, 30 }, { 100, 0 } }) {
        for (VectorUnit unit :
            { VectorUnit::Portable, VectorUnit::Sse2, VectorUnit::Avx2, VectorUnit::Avx512 })
            benchmark->Args({ static_cast<int>(unit), vagueness, clearance });
    }
}

} // namespace

BENCHMARK(processSample)
    ->ArgNames({ "vagueness", "clearance" })
    ->Args({ 0, 0 })
    ->Args({ 50, 30 })
    ->Args({ 100, 0 })
    ->Unit(benchmark::kMillisecond);

BENCHMARK(processBlock)
    ->ArgNames({ "unit", "vagueness", "clearance" })
    ->Apply(blockArguments)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
