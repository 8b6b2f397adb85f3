#include "carrier_supply.h"
#include "job_test_files.h"
#include "run_sources.h"

#include <atomic>
#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

namespace lumivox::job::test {
namespace {

    constexpr std::uint32_t rate = 48000;
    constexpr std::size_t carrierFrames = 3000; // shorter than what is read: it loops
    constexpr std::size_t framesCompared = 5 * carrierFrames;

    struct SharedCase {
        const char* name;
        CarrierKind kind;
    };

    class SharedCarrier : public ::testing::TestWithParam<SharedCase> { };

    // A live run plays the carrier a Preview of the same carrier would vocode, sample for sample:
    // the built-in sounds as made, and a carrier file repeated with the same crossfaded seams.
    TEST_P(SharedCarrier, LiveCarrierIsThePreviewsCarrier)
    {
        const TemporaryFolder folder;
        JobSettings settings;
        settings.mode = JobMode::Preview;
        settings.carrier.kind = GetParam().kind;
        settings.repeatCarrier = true;
        settings.carrierPath = (folder / "carrier.wav").string();
        settings.modulatorPath = (folder / "modulator.wav").string();
        const WaveShape shape { 1, 1, rate, 16 };
        writeWaveFile(settings.carrierPath, shape, int16Bytes(testSignal16(carrierFrames, 3)));
        writeWaveFile(settings.modulatorPath, shape, int16Bytes(testSignal16(framesCompared, 4)));

        const std::atomic<bool> stop { false };
        RunInputs inputs(
            settings, {}, [](std::size_t bytes) { return std::make_unique<std::uint8_t[]>(bytes); },
            stop);
        ASSERT_FALSE(inputs.takeBuffers());
        const auto refused = inputs.open();
        ASSERT_FALSE(refused) << refused->message;
        std::vector<double> previewed(framesCompared);
        for (std::size_t done = 0; done < previewed.size();) {
            const std::int64_t got = inputs.carrier().read(std::span(previewed).subspan(
                done, std::min<std::size_t>(2048, previewed.size() - done)));
            ASSERT_GT(got, 0) << done;
            done += static_cast<std::size_t>(got);
        }

        std::unique_ptr<LiveCarrier> live;
        if (GetParam().kind == CarrierKind::File) {
            std::string problem;
            auto recording = loadLiveCarrier(settings.carrierPath, rate, problem);
            ASSERT_TRUE(recording) << problem;
            live = makeLoopedCarrier(std::move(*recording), seamFadeFrames(rate));
        } else {
            live = makeSoundCarrier(settings.carrier, rate);
        }
        // In periods of another size than the Preview's blocks, as an audio system gives them.
        std::vector<double> played(framesCompared);
        const std::vector<double> silence(played.size(), 0.0);
        for (std::size_t done = 0; done < played.size(); done += 128) {
            const std::size_t count = std::min<std::size_t>(128, played.size() - done);
            live->fill(std::span(silence).subspan(done, count), {},
                std::span(played).subspan(done, count));
        }
        for (std::size_t i = 0; i < framesCompared; ++i)
            ASSERT_EQ(played[i], previewed[i]) << i;
    }

    INSTANTIATE_TEST_SUITE_P(Carriers, SharedCarrier,
        ::testing::Values(SharedCase { "RepeatedFile", CarrierKind::File },
            SharedCase { "Chord", CarrierKind::Chord }, SharedCase { "Noise", CarrierKind::Noise }),
        [](const auto& named) { return std::string(named.param.name); });

} // namespace
} // namespace lumivox::job::test
