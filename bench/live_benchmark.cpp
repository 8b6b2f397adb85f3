// The live session as an audio callback drives it: one period of voice in, one of output out, at
// 48 kHz with the noise carrier and the classic bands. The share of one core that live vocoding
// takes is 48000 over the frames per second of processor time (core_percent), measured in processor
// time so that other programs on a busy machine do not count; LUMIVOX_VECTOR_UNIT pins the vector
// unit as usual.

#include "engine/layout_choice.h"
#include "job/live_session.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double rate = 48000.0;

// Arguments: the period in frames, the Vagueness and Clarity slider positions, whether the voice
// has fallen silent (after a second of it, 20 s of silence, and silence timed: the filters' states
// then decay through numbers too small for their normal form), and the band count (0: the classic
// layout; otherwise that many bands over the classic range, designed at 48 kHz).
void liveSession(benchmark::State& state)
{
    const auto period = static_cast<std::size_t>(state.range(0));
    lumivox::job::CarrierChoice noise;
    noise.kind = lumivox::job::CarrierKind::Noise;
    lumivox::job::SoundSettings sound;
    sound.vagueness = static_cast<int>(state.range(1));
    sound.clarity = static_cast<int>(state.range(2));
    lumivox::engine::LayoutChoice layout;
    if (state.range(4) != 0)
        layout = { lumivox::engine::LayoutKind::Custom, static_cast<int>(state.range(4)),
            lumivox::engine::BandRange { 22.5, 20000.0 } };
    lumivox::job::LiveSession session(
        lumivox::job::makeSoundCarrier(noise, static_cast<std::uint32_t>(rate)), sound, period,
        nullptr, *lumivox::engine::designBands(layout, rate));
    // A second of a buzzing voice whose level swells, played round and round.
    std::vector<float> voice(static_cast<std::size_t>(rate) / period * period);
    for (std::size_t i = 0; i < voice.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        voice[i] = static_cast<float>((0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * 3.0 * t)) * 0.4
            * std::sin(2.0 * std::numbers::pi * 140.0 * t));
    }
    std::vector<float> out(period);
    std::size_t at = 0;
    if (state.range(3) != 0) {
        for (std::size_t done = 0; done < voice.size(); done += period)
            session.process(std::span(voice).subspan(done, period), {}, out);
        std::fill(voice.begin(), voice.end(), 0.0F);
        for (int second = 0; second < 20; ++second)
            for (std::size_t done = 0; done < voice.size(); done += period)
                session.process(std::span(voice).subspan(done, period), {}, out);
    }
    for (auto _ : state) {
        session.process(std::span(voice).subspan(at, period), {}, out);
        benchmark::DoNotOptimize(out.data());
        at = (at + period) % voice.size();
    }
    const auto frames = static_cast<double>(state.iterations() * period);
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    // Per cent of one core: processor seconds per second of audio, times 100.
    state.counters["core_percent"] = benchmark::Counter(
        frames / rate / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(liveSession)
    ->ArgNames({ "period", "vagueness", "clarity", "silent", "bands" })
    ->Args({ 64, 0, 0, 0, 0 })
    ->Args({ 128, 0, 0, 0, 0 })
    ->Args({ 256, 0, 0, 0, 0 })
    ->Args({ 128, 50, 0, 0, 0 })
    ->Args({ 128, 0, 50, 0, 0 })
    ->Args({ 128, 0, 0, 1, 0 })
    ->Args({ 64, 0, 0, 0, 16 })
    ->Args({ 64, 0, 0, 0, 48 })
    ->Args({ 64, 0, 0, 0, 64 })
    ->Args({ 64, 100, 50, 0, 64 });

BENCHMARK_MAIN();
