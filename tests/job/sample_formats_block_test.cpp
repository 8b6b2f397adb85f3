// The adapters feed the real engine through its block path; the samples they store must be the
// very integers that one processSample call per sample gives, on every vector unit of the machine.
#include "block_path.h"
#include "sample_formats.h"
#include "vocoder_engine.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace lumivox::job {
namespace {

    using engine::VectorUnit;
    using engine::VocoderEngine;

    // The engine as the per-sample definition: no block path, so the adapters call processSample.
    struct PerSampleEngine {
        VocoderEngine engine;
        double processSample(double carrier, double modulator)
        {
            return engine.processSample(carrier, modulator);
        }
    };

    // The engine with its block path pinned to one vector unit.
    struct PinnedEngine {
        VocoderEngine engine;
        VectorUnit unit;
        double processSample(double carrier, double modulator)
        {
            return engine.processSample(carrier, modulator);
        }
        void processBlock(std::span<const double> carrier, std::span<const double> modulator,
            std::span<double> output)
        {
            engine::processBlockWith(unit, engine, carrier, modulator, output);
        }
    };

    static_assert(!BlockEngine<PerSampleEngine>);
    static_assert(BlockEngine<PinnedEngine>);
    static_assert(BlockEngine<VocoderEngine>);

    struct Sliders {
        int clearance;
        int vagueness;
        int gain;
    };

    void apply(VocoderEngine& engine, Sliders sliders)
    {
        engine.setClearance(sliders.clearance / 100.0);
        engine.setVagueness(sliders.vagueness / 100.0);
        engine.setOutputGain(sliders.gain / 50.0);
    }

    // Slider corners and some positions in between; a preview moves them before every block.
    const Sliders sliderCorners[] = { { 0, 0, 50 }, { 100, 0, 50 }, { 0, 100, 50 },
        { 100, 100, 100 }, { 0, 0, 100 }, { 0, 0, 0 }, { 37, 64, 71 }, { 5, 95, 23 } };

    Sliders slidersForBlock(std::size_t block)
    {
        return Sliders { static_cast<int>(block * 41 % 101), static_cast<int>(block * 17 % 101),
            static_cast<int>(block * 59 % 101) };
    }

    template <typename Sample> std::vector<Sample> readSamples(const std::string& path)
    {
        wave::WaveFormat format;
        std::uint32_t dataLength = 0;
        auto reader = wave::openWaveReader(path, &format, &dataLength);
        EXPECT_TRUE(reader) << path;
        if (!reader)
            return {};
        std::vector<Sample> samples(dataLength / sizeof(Sample));
        const auto bytesRead
            = wave::readWave(*reader, samples.data(), samples.size() * sizeof(Sample));
        EXPECT_EQ(bytesRead, static_cast<std::int64_t>(samples.size() * sizeof(Sample)));
        static_cast<void>(wave::closeWave(std::move(reader)));
        return samples;
    }

    // A recording repeated to the given length: real material for minutes of audio.
    template <typename Sample>
    std::vector<Sample> looped(const std::vector<Sample>& recording, std::size_t sampleCount)
    {
        std::vector<Sample> samples(sampleCount);
        for (std::size_t i = 0; i < sampleCount; ++i)
            samples[i] = recording[i % recording.size()];
        return samples;
    }

    template <typename Sample> std::vector<Sample> noise(std::size_t sampleCount, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> value(
            std::numeric_limits<Sample>::min(), std::numeric_limits<Sample>::max());
        std::vector<Sample> samples(sampleCount);
        for (Sample& s : samples)
            s = static_cast<Sample>(value(rng));
        return samples;
    }

    // Runs an adapter over the inputs in blocks of wandering, often odd, lengths (the job's blocks
    // are up to 2048 or 4096 samples; a short last block is usual), applying the sliders per block.
    template <typename Engine, typename Adapter, typename Sample>
    std::vector<Sample> run(Engine& engine, VocoderEngine& core, Adapter adapter,
        const std::vector<Sample>& carrier, const std::vector<Sample>& modulator,
        const Sliders* fixed)
    {
        std::vector<Sample> output(carrier.size());
        std::size_t length = 4096;
        for (std::size_t start = 0, block = 0; start < output.size(); start += length, ++block) {
            apply(core, fixed ? *fixed : slidersForBlock(block));
            length = std::min<std::size_t>((length * 5 + 1) % 4096 + 1, output.size() - start);
            adapter(engine, output.data() + start, carrier.data() + start, modulator.data() + start,
                static_cast<int>(length));
        }
        return output;
    }

    template <typename Sample, typename Adapter>
    void expectBlockPathMatches(Adapter adapter, const std::vector<Sample>& carrier,
        const std::vector<Sample>& modulator, const Sliders* fixed)
    {
        PerSampleEngine reference;
        const auto want = run(reference, reference.engine, adapter, carrier, modulator, fixed);
        for (VectorUnit unit : engine::vectorUnitsOfThisMachine()) {
            SCOPED_TRACE(engine::vectorUnitName(unit));
            PinnedEngine pinned { {}, unit };
            const auto got = run(pinned, pinned.engine, adapter, carrier, modulator, fixed);
            ASSERT_EQ(got.size(), want.size());
            std::size_t differing = 0;
            for (std::size_t i = 0; i < want.size(); ++i) {
                if (got[i] != want[i] && differing++ == 0)
                    ADD_FAILURE() << "sample " << i << ": " << +got[i] << " instead of "
                                  << +want[i];
            }
            EXPECT_EQ(differing, 0u);
        }
    }

    const auto int16Adapter = [](auto& engine, std::int16_t* output, const std::int16_t* carrier,
                                  const std::int16_t* modulator, int count) {
        processBlockInt16(engine, output, carrier, modulator, count);
    };
    const auto uint8Adapter = [](auto& engine, std::uint8_t* output, const std::uint8_t* carrier,
                                  const std::uint8_t* modulator, int count) {
        processBlockUInt8(engine, output, carrier, modulator, count);
    };

    std::vector<std::uint8_t> toUInt8(const std::vector<std::int16_t>& samples)
    {
        std::vector<std::uint8_t> bytes(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>((samples[i] >> 8) + 128);
        return bytes;
    }

} // namespace

TEST(BlockAdapters, Int16OnRecordingsMatchesPerSampleAtEverySliderCorner)
{
    const auto carrier = readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/carrier-chord.wav");
    const auto modulator = readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/modulator-speech.wav");
    ASSERT_FALSE(carrier.empty());
    ASSERT_EQ(carrier.size(), modulator.size());
    for (const Sliders& sliders : sliderCorners) {
        SCOPED_TRACE(testing::Message()
            << sliders.clearance << "/" << sliders.vagueness << "/" << sliders.gain);
        expectBlockPathMatches(int16Adapter, carrier, modulator, &sliders);
    }
}

TEST(BlockAdapters, Int16WithSlidersMovedEveryBlockMatchesPerSample)
{
    // Fifteen seconds at the examples' 22050 Hz, the recordings looped against each other (every
    // slider corner comes round several times), then noise. The paths do the same operations, so
    // a longer run finds nothing a run through every setting does not.
    const std::size_t sampleCount = 22050 * 15;
    const auto carrier
        = looped(readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/carrier-chord.wav"), sampleCount);
    const auto modulator = looped(
        readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/modulator-speech.wav"), sampleCount);
    expectBlockPathMatches(int16Adapter, carrier, modulator, nullptr);
    expectBlockPathMatches(int16Adapter, noise<std::int16_t>(22050 * 5, 3),
        noise<std::int16_t>(22050 * 5, 4), nullptr);
}

TEST(BlockAdapters, UInt8MatchesPerSampleOnRecordingsAndNoise)
{
    const auto carrier
        = toUInt8(readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/carrier-chord.wav"));
    const auto modulator
        = toUInt8(readSamples<std::int16_t>(LUMIVOX_EXAMPLES_DIR "/modulator-speech.wav"));
    for (const Sliders& sliders : { sliderCorners[0], sliderCorners[3], sliderCorners[6] })
        expectBlockPathMatches(uint8Adapter, carrier, modulator, &sliders);
    expectBlockPathMatches(uint8Adapter, noise<std::uint8_t>(22050 * 20, 5),
        noise<std::uint8_t>(22050 * 20, 6), nullptr);
}

} // namespace lumivox::job
