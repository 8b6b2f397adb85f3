// Throughput of VocoderEngine::processSample, of the block path on each vector unit, of each of its
// two halves alone, and of the job's pipeline on one thread, on two and by its own choice, on one
// second of 44.1 kHz material. Reported as frames per second, as the real-time factor (frames per
// second / 44100), as the block path's fraction of its arithmetic bound and as the fraction of
// blocks the pipeline ran on two threads; every row has every counter (0 where it does not
// apply), as the CSV output wants. Rates are per second of wall time, except for the halves, which
// are timed in processor time so that they compare on a busy machine.
#include "block_path.h"
#include "job/thread_choice.h"
#include "job/vocode_pipeline.h"
#include "vocoder_engine.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

// How the engines run, chosen in main.
lumivox::engine::VectorChoice vectors;

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
    // Every row carries every counter, so that the CSV output has the same columns throughout.
    state.counters["clarity_cost"] = 0.0;
}

// Arguments: Vagueness and Instrument Clearance slider positions (0 to 100).
void processSample(benchmark::State& state)
{
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.setVectorChoice(vectors);
    engine.setVagueness(static_cast<double>(state.range(0)) / 100.0);
    engine.setClearance(static_cast<double>(state.range(1)) / 100.0);
    for (auto _ : state) {
        double sum = 0.0;
        for (std::size_t i = 0; i < input.carrier.size(); ++i)
            sum += engine.processSample(input.carrier[i], input.modulator[i]);
        benchmark::DoNotOptimize(sum);
    }
    reportFrames(state, static_cast<std::int64_t>(input.carrier.size()));
    state.counters["bound_fraction"] = 0.0;
    state.counters["two_thread_fraction"] = 0.0;
}

// The arithmetic bound of the block path, from its instruction mix per frame on Width-wide vectors
// (Width bands per vector, 32 / Width groups): each group runs a gain and 5 sections of 4
// additions on the modulator and on the carrier, with 2 multiplies in section 0 and 3 in the
// others (the numerators' exact 0, 1 and -1 need none), the envelope's gain and 2 sections of 4
// multiplies and 4 additions, the level scale and the carrier band's product, so 41 multiplies
// and 48 additions; the output is a sum of 32 scalars. Vagueness adds reach terms on each side (an
// addition, and a multiply unless the weights are all exactly 1); Instrument Clearance a multiply
// and an addition per group and a sum of 32 scalars for the mean. The core is taken to have two
// multiply and two add pipes (AMD Zen; no fused multiply-adds are allowed), so a frame needs at
// least the larger of multiplies / 2 and additions / 2 cycles. Divisions run on their own unit and
// are not counted.
double boundCyclesPerFrame(int width, const lumivox::engine::VocoderEngine& engine)
{
    const double groups = 32.0 / width;
    double multiplies = 41.0 * groups;
    double additions = 48.0 * groups + 32.0;
    if (engine.vagueness() > 0.0) {
        int reach = 0;
        bool allOne = true;
        for (std::size_t k = 1; k < engine.spreadWeights().size(); ++k) {
            if (engine.spreadWeights()[k] != 0.0) {
                ++reach;
                allOne = allOne && engine.spreadWeights()[k] == 1.0;
            }
        }
        additions += 2.0 * reach * groups;
        if (!allOne)
            multiplies += 2.0 * reach * groups;
    }
    if (engine.clearance() > 0.0) {
        multiplies += groups;
        additions += groups + 32.0;
    }
    return std::max(multiplies, additions) / 2.0;
}

// The clock as the core runs it now: a chain of dependent additions, each taking 3 cycles on the
// cores this is written for, timed in processor time (so that a busy machine does not make the
// clock look slow) over a tenth of a second or so.
double measuredClockHz()
{
    static const double hertz = [] {
        constexpr long additions = 100'000'000;
        volatile double step = 1e-9;
        double sum = 0.0;
        const double increment = step;
        const std::clock_t start = std::clock();
        for (long i = 0; i < additions; ++i)
            sum += increment;
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        benchmark::DoNotOptimize(sum);
        return 3.0 * additions / seconds;
    }();
    return hertz;
}

int laneWidth(lumivox::engine::VectorUnit unit)
{
    switch (unit) {
    case lumivox::engine::VectorUnit::Avx2:
        return 4;
    case lumivox::engine::VectorUnit::Avx512:
        return 8;
    default:
        return 2;
    }
}

// The block path in blocks of 2048 frames, as the job feeds it 16-bit audio, on the vector unit the
// first argument names. bound_fraction is the frame rate over the arithmetic bound of one core.
void runBlocks(benchmark::State& state, double vagueness, double clearance, int harmonicBandBlur)
{
    using lumivox::engine::VectorUnit;
    const auto unit = static_cast<VectorUnit>(state.range(0));
    const auto units = lumivox::engine::vectorUnitsOfThisMachine();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        state.SkipWithError("this machine cannot run that vector unit");
        return;
    }
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.setVectorChoice(vectors);
    state.SetLabel(lumivox::engine::vectorUnitName(unit));
    engine.setVagueness(vagueness);
    engine.setClearance(clearance);
    engine.setHarmonicBandBlur(harmonicBandBlur);
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
    const auto frameCount = static_cast<std::int64_t>(input.carrier.size());
    reportFrames(state, frameCount);
    const double boundFramesPerSecond
        = measuredClockHz() / boundCyclesPerFrame(laneWidth(unit), engine);
    state.counters["bound_fraction"] = benchmark::Counter(
        static_cast<double>(state.iterations() * frameCount) / boundFramesPerSecond,
        benchmark::Counter::kIsRate);
    state.counters["two_thread_fraction"] = 0.0;
}

// Arguments: the vector unit, then the Vagueness and Instrument Clearance positions.
void processBlock(benchmark::State& state)
{
    runBlocks(state, static_cast<double>(state.range(1)) / 100.0,
        static_cast<double>(state.range(2)) / 100.0, 0);
}

// The block path as the follow sound runs it: no Vagueness, the harmonic bands blurred with the
// radius the second argument gives (the follow sound's is FollowVoiceSound::harmonicBandBlur),
// against processBlock's 0 0.
void harmonicBandBlock(benchmark::State& state)
{
    runBlocks(state, 0.0, 0.0, static_cast<int>(state.range(1)));
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

// One half of the engine alone, on one thread, in blocks of 2048 frames: how the work of the two
// threads of a pipeline is balanced. Arguments: the vector unit, the half (0: first, 1: second),
// then the Vagueness and Instrument Clearance positions.
void engineHalf(benchmark::State& state)
{
    using lumivox::engine::VectorUnit;
    const auto unit = static_cast<VectorUnit>(state.range(0));
    const auto units = lumivox::engine::vectorUnitsOfThisMachine();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        state.SkipWithError("this machine cannot run that vector unit");
        return;
    }
    const bool firstHalf = state.range(1) == 0;
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.prepareHalves();
    engine.setVectorChoice(vectors);
    engine.setVagueness(static_cast<double>(state.range(2)) / 100.0);
    engine.setClearance(static_cast<double>(state.range(3)) / 100.0);
    constexpr std::size_t blockLength = 2048;
    std::vector<double> handOver(blockLength * lumivox::engine::VocoderEngine::handOverValues, 1.0);
    std::vector<double> output(input.carrier.size());
    for (auto _ : state) {
        for (std::size_t start = 0; start < output.size(); start += blockLength) {
            const std::size_t length = std::min(blockLength, output.size() - start);
            const std::span<const double> carrier(input.carrier.data() + start, length);
            const std::span<const double> modulator(input.modulator.data() + start, length);
            if (firstHalf)
                engine.firstHalf(carrier, modulator, handOver, unit);
            else
                engine.secondHalf(
                    carrier, modulator, handOver, { output.data() + start, length }, unit);
        }
        benchmark::DoNotOptimize(handOver.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(lumivox::engine::vectorUnitName(unit))
        + (firstHalf ? ", first half" : ", second half"));
    reportFrames(state, static_cast<std::int64_t>(input.carrier.size()));
    state.counters["bound_fraction"] = 0.0;
    state.counters["two_thread_fraction"] = 0.0;
}

void sideArguments(benchmark::internal::Benchmark* benchmark)
{
    using lumivox::engine::VectorUnit;
    for (const auto& [vagueness, clearance] : { std::pair { 0, 0 }, { 50, 30 }, { 100, 0 } }) {
        for (VectorUnit unit : { VectorUnit::Avx2, VectorUnit::Avx512 }) {
            for (int half : { 0, 1 })
                benchmark->Args({ static_cast<int>(unit), half, vagueness, clearance });
        }
    }
}

// Blocks of the material as the job reads them: 2048 frames of 16-bit audio.
// The material over and over, so that a run is long enough for its own choice of threads to time
// both ways and go on with the faster, as a Vocode of a song does.
constexpr std::size_t pipelineRepeats = 30;

class MaterialSource final : public lumivox::job::BlockSource {
public:
    explicit MaterialSource(const Material& input)
        : material(input)
    {
    }
    int readBlock(
        std::span<double> carrier, std::span<double> modulator, std::uint64_t& framesRead) override
    {
        if (position == material.carrier.size() && ++repeats < pipelineRepeats)
            position = 0;
        const std::size_t length = std::min(carrier.size(), material.carrier.size() - position);
        std::copy_n(material.carrier.data() + position, length, carrier.data());
        std::copy_n(material.modulator.data() + position, length, modulator.data());
        position += length;
        framesRead += length;
        return static_cast<int>(length);
    }

private:
    const Material& material;
    std::size_t position = 0;
    std::size_t repeats = 0;
};

class DiscardingSink final : public lumivox::job::BlockSink {
public:
    bool beforeBlock() override { return true; }
    bool takeBlock(std::span<const double> output, std::uint64_t) override
    {
        benchmark::DoNotOptimize(output.data());
        return true;
    }
};

// Every segment one way.
class FixedPlan final : public lumivox::job::SegmentPlan {
public:
    explicit FixedPlan(bool two)
        : twoThreads(two)
    {
    }
    lumivox::job::Segment next() override { return { twoThreads, 1 << 20 }; }
    void record(
        const lumivox::job::Segment&, std::uint64_t, std::chrono::steady_clock::duration) override
    {
    }
    void noSecondThread() override { }

private:
    bool twoThreads;
};

// The job's pipeline on 30 s of the material in blocks of 2048 frames. Arguments: the vector unit,
// the way (1: one thread, 2: always two threads, 0: the run's own choice, timing its first blocks
// both ways as a Vocode does), then the Vagueness and Instrument Clearance positions.
void vocodePipeline(benchmark::State& state)
{
    using lumivox::engine::VectorUnit;
    const auto unit = static_cast<VectorUnit>(state.range(0));
    const auto units = lumivox::engine::vectorUnitsOfThisMachine();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        state.SkipWithError("this machine cannot run that vector unit");
        return;
    }
    const long way = state.range(1);
    const Material& input = material();
    lumivox::engine::VocoderEngine engine;
    engine.setVectorChoice(vectors);
    engine.setVagueness(static_cast<double>(state.range(2)) / 100.0);
    engine.setClearance(static_cast<double>(state.range(3)) / 100.0);
    lumivox::job::VocodePipeline pipeline(engine, 2048, way != 1, unit);
    double twoThreadFraction = 0.0;
    for (auto _ : state) {
        MaterialSource source(input);
        DiscardingSink sink;
        const std::uint64_t before = pipeline.blocksOnTwoThreads();
        if (way == 0) {
            lumivox::job::ThreadChoice choice(true);
            pipeline.run(source, sink, choice);
        } else {
            FixedPlan plan(way == 2);
            pipeline.run(source, sink, plan);
        }
        twoThreadFraction += static_cast<double>(pipeline.blocksOnTwoThreads() - before);
    }
    const auto blocksPerRun
        = static_cast<double>(pipelineRepeats * ((input.carrier.size() + 2047) / 2048));
    state.SetLabel(std::string(lumivox::engine::vectorUnitName(unit))
        + (way == 1        ? ", one thread"
                : way == 2 ? ", two threads"
                           : ", own choice"));
    reportFrames(state, static_cast<std::int64_t>(pipelineRepeats * input.carrier.size()));
    // The same counters on every row, so that the CSV output has every column.
    state.counters["bound_fraction"] = 0.0;
    state.counters["two_thread_fraction"]
        = twoThreadFraction / (blocksPerRun * static_cast<double>(state.iterations()));
}

void pipelineArguments(benchmark::internal::Benchmark* benchmark)
{
    using lumivox::engine::VectorUnit;
    for (const auto& [vagueness, clearance] : { std::pair { 0, 0 }, { 50, 30 }, { 100, 0 } }) {
        for (VectorUnit unit : { VectorUnit::Avx2, VectorUnit::Avx512 }) {
            for (int way : { 1, 2, 0 })
                benchmark->Args({ static_cast<int>(unit), way, vagueness, clearance });
        }
    }
}

double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// What Clarity costs on the block path (the preferred unit, one thread, blocks of 2048 frames):
// an engine at Clarity 0 and one at the argument's position take turns, a second of audio each,
// timed in the thread's processor time so that both meet the same machine. clarity_cost is the
// second engine's time over the first's, less one; the frame rates are of the two together.
void clarityCost(benchmark::State& state)
{
    const Material& input = material();
    lumivox::engine::VocoderEngine plain;
    plain.setVectorChoice(vectors);
    lumivox::engine::VocoderEngine clear;
    clear.setVectorChoice(vectors);
    clear.setClarity(static_cast<double>(state.range(0)) / 100.0);
    const auto unit = vectors.unit;
    state.SetLabel(lumivox::engine::vectorUnitName(unit));
    std::vector<double> output(input.carrier.size());
    constexpr std::size_t blockLength = 2048;
    const auto runSecond = [&](lumivox::engine::VocoderEngine& engine) {
        const double start = threadSeconds();
        for (std::size_t first = 0; first < output.size(); first += blockLength) {
            const std::size_t length = std::min(blockLength, output.size() - first);
            lumivox::engine::processBlockWith(unit, engine,
                { input.carrier.data() + first, length },
                { input.modulator.data() + first, length }, { output.data() + first, length });
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
        return threadSeconds() - start;
    };
    double plainSeconds = 0.0;
    double clearSeconds = 0.0;
    for (auto _ : state) {
        plainSeconds += runSecond(plain);
        clearSeconds += runSecond(clear);
    }
    reportFrames(state, 2 * static_cast<std::int64_t>(input.carrier.size()));
    state.counters["bound_fraction"] = 0.0;
    state.counters["two_thread_fraction"] = 0.0;
    state.counters["clarity_cost"] = clearSeconds / plainSeconds - 1.0;
}

} // namespace

BENCHMARK(engineHalf)
    ->ArgNames({ "unit", "half", "vagueness", "clearance" })
    ->Apply(sideArguments)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(vocodePipeline)
    ->ArgNames({ "unit", "way", "vagueness", "clearance" })
    ->Apply(pipelineArguments)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(clarityCost)
    ->ArgNames({ "clarity" })
    ->Args({ 25 })
    ->Args({ 100 })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(processSample)
    ->ArgNames({ "vagueness", "clearance" })
    ->Args({ 0, 0 })
    ->Args({ 50, 30 })
    ->Args({ 100, 0 })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(processBlock)
    ->ArgNames({ "unit", "vagueness", "clearance" })
    ->Apply(blockArguments)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(harmonicBandBlock)
    ->ArgNames({ "unit", "harmonic_blur" })
    ->Args({ 2, 3 })
    ->Args({ 3, 3 })
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The vector unit and path are chosen once, here, as the programs choose them.
int main(int argc, char** argv)
{
    vectors = lumivox::engine::vectorChoiceFrom(
        std::getenv("LUMIVOX_VECTOR_UNIT"), std::getenv("LUMIVOX_BLOCK_PATH"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
