#include "engine/follow_voice_sound.h"
#include "engine/vocoder_engine.h"
#include "job_fixture.h"
#include "job_messages.h"
#include "run_facts.h"
#include "sound_test_files.h"
#include "wave/wave_file.h"

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <numbers>
#include <sys/file.h>
#include <unistd.h>

namespace lumivox::job::test {
namespace {

    class CarrierSounds : public JobTest { };

    struct SoundCase {
        CarrierKind kind;
        std::uint16_t modulatorBits;
        std::uint16_t modulatorChannels;
        std::uint32_t sampleRate;
        std::size_t modulatorFrames;
        JobMode mode;
    };

    class BuiltInCarrier : public JobTest, public ::testing::WithParamInterface<SoundCase> {
    protected:
        void writeVoice(const SoundCase& c)
        {
            const std::size_t samples = c.modulatorFrames * c.modulatorChannels;
            const WaveShape shape { 1, c.modulatorChannels, c.sampleRate, c.modulatorBits };
            writeModulator(shape,
                c.modulatorBits == 8 ? testSignal8(samples, 2)
                                     : int16Bytes(testSignal16(samples, 2)));
        }
        // The 16-bit samples the run gave: from the output file, or from what was played.
        std::vector<std::int16_t> runOnce(const SoundCase& c)
        {
            sink.played.clear();
            EXPECT_EQ(run(c.mode), JobOutcome::Finished);
            if (c.mode == JobMode::Preview) {
                EXPECT_EQ(sink.openedWith.bitsPerSample, 16);
                EXPECT_EQ(sink.openedWith.sampleRate, static_cast<double>(c.sampleRate));
                return int16Samples(sink.played);
            }
            const auto output = readOutputWave(settings.outputPath);
            EXPECT_TRUE(output.has_value());
            if (!output)
                return {};
            EXPECT_EQ(output->shape.channels, 1);
            EXPECT_EQ(output->shape.bitsPerSample, 16);
            EXPECT_EQ(output->shape.sampleRate, c.sampleRate);
            return int16Samples(output->data);
        }
    };

    // No carrier file exists: the sound stands in for it, 16-bit at the modulator's rate and as
    // long as the modulator, and a second run gives the same bits.
    TEST_P(BuiltInCarrier, IsAsLongAsTheModulatorAndTheSameEveryRun)
    {
        const SoundCase c = GetParam();
        writeVoice(c);
        settings.carrierPath = (folder / "no-such-carrier.wav").string();
        settings.carrier.kind = c.kind;
        settings.carrier.followSemitones = 5;
        // Only the follow sound blurs the bands narrower than the voice's harmonics.
        const engine::VocoderEngine* used = nullptr;
        environment.makeEngine = [&used] {
            auto made = std::make_unique<engine::VocoderEngine>();
            used = made.get();
            return made;
        };
        std::vector<double> blurs;
        port.onProgress = [&](int) { blurs.push_back(used->harmonicBandBlur()); };
        const auto first = runOnce(c);
        ASSERT_FALSE(blurs.empty());
        EXPECT_EQ(blurs.front(),
            c.kind == CarrierKind::FollowVoice ? engine::FollowVoiceSound::harmonicBandBlur : 0.0);
        EXPECT_EQ(first.size(), c.modulatorFrames);
        std::size_t loud = 0;
        for (const std::int16_t sample : first)
            loud += std::abs(sample) > 100 ? 1 : 0;
        EXPECT_GT(loud, first.size() / 4) << "the output is nearly silent";
        EXPECT_EQ(runOnce(c), first);
        // Nothing of the modulator was left out, and the report says so.
        ASSERT_FALSE(port.reports.empty());
        EXPECT_NEAR(port.reports.back().modulatorSeconds,
            static_cast<double>(c.modulatorFrames) / c.sampleRate, 1e-9);
        EXPECT_FALSE(cutShortOf(port.reports.back()).has_value());
    }

    INSTANTIATE_TEST_SUITE_P(Sounds, BuiltInCarrier,
        ::testing::Values(SoundCase { CarrierKind::Chord, 16, 1, 44100, 10000, JobMode::Vocode },
            SoundCase { CarrierKind::Noise, 16, 2, 22050, 7001, JobMode::Vocode },
            SoundCase { CarrierKind::FollowVoice, 16, 1, 44100, 9000, JobMode::Vocode },
            SoundCase { CarrierKind::FollowVoice, 8, 1, 8000, 5000, JobMode::Vocode },
            SoundCase { CarrierKind::Chord, 8, 2, 11025, 6000, JobMode::Vocode },
            SoundCase { CarrierKind::FollowVoice, 16, 1, 44100, 9000, JobMode::Preview },
            SoundCase { CarrierKind::Noise, 8, 1, 16000, 5000, JobMode::Preview }));

    // The carrier as a repeat must give it, from the definition of the seam: the first pass up to
    // its last fade samples, then at each seam the tail fading out (cosine) over the head fading
    // in (sine), then the carrier again from sample fade on.
    std::vector<double> repeatedCarrier(
        const std::vector<double>& carrier, std::size_t fade, std::size_t total)
    {
        std::vector<double> out(carrier.begin(), carrier.end() - static_cast<std::ptrdiff_t>(fade));
        while (out.size() < total) {
            for (std::size_t i = 0; i < fade; ++i) {
                const double u = (static_cast<double>(i) + 0.5) / static_cast<double>(fade);
                out.push_back(
                    carrier[carrier.size() - fade + i] * std::cos(0.5 * std::numbers::pi * u)
                    + carrier[i] * std::sin(0.5 * std::numbers::pi * u));
            }
            out.insert(out.end(), carrier.begin() + static_cast<std::ptrdiff_t>(fade),
                carrier.end() - static_cast<std::ptrdiff_t>(fade));
        }
        out.resize(total);
        return out;
    }

    struct RepeatCase {
        std::size_t carrierFrames;
        std::size_t modulatorFrames;
        std::uint32_t sampleRate;
    };

    class RepeatedCarrier : public JobTest, public ::testing::WithParamInterface<RepeatCase> { };

    TEST_P(RepeatedCarrier, PlaysAgainWithCrossfadedSeamsForTheModulatorsLength)
    {
        const RepeatCase c = GetParam();
        const auto carrier = testSignal16(c.carrierFrames, 1);
        const auto modulator = testSignal16(c.modulatorFrames, 2);
        const WaveShape shape { 1, 1, c.sampleRate, 16 };
        writeCarrier(shape, int16Bytes(carrier));
        writeModulator(shape, int16Bytes(modulator));
        settings.repeatCarrier = true;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output.has_value());
        const auto got = int16Samples(output->data);

        const auto fade = static_cast<std::size_t>(std::lround(0.02 * c.sampleRate));
        const std::vector<double> carrierValues(carrier.begin(), carrier.end());
        const auto wanted = carrier.size() >= modulator.size()
            ? std::vector<double>(carrierValues.begin(),
                carrierValues.begin() + static_cast<std::ptrdiff_t>(modulator.size()))
            : repeatedCarrier(carrierValues, fade, modulator.size());
        engine::VocoderEngine engine;
        std::vector<std::int16_t> expected;
        for (std::size_t i = 0; i < modulator.size(); ++i) {
            const double y = engine.processSample(wanted[i], modulator[i] / 32767.0);
            expected.push_back(
                static_cast<std::int16_t>(std::trunc(std::clamp(y, -32767.0, 32767.0))));
        }
        EXPECT_EQ(got, expected);
        // Repeated, a shorter carrier cuts nothing short; a longer one is still cut.
        ASSERT_EQ(port.reports.size(), 1U);
        const auto cutShort = cutShortOf(port.reports.front());
        EXPECT_EQ(cutShort.has_value(), carrier.size() > modulator.size());
    }

    INSTANTIATE_TEST_SUITE_P(Lengths, RepeatedCarrier,
        ::testing::Values(RepeatCase { 3000, 10000, 44100 }, RepeatCase { 2500, 9001, 22050 },
            RepeatCase { 20000, 6000, 44100 }));

    TEST_F(CarrierSounds, ARepeatFailsPlainlyWhenTheCarrierCannotBeOpenedAgain)
    {
        writeMono16(3000, 10000);
        settings.repeatCarrier = true;
        // The carrier goes away once the run has read it the first time.
        environment.readInput
            = [this](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t count) {
                  if (role == InputRole::Carrier)
                      std::filesystem::remove(settings.carrierPath);
                  return wave::readWave(reader, buffer, count);
              };
        EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
        EXPECT_EQ(port.eventsStartingWith("error"),
            std::vector<std::string> { "error " + std::string(message::carrierNotOpened) });
    }

    TEST_F(CarrierSounds, AnEmptyCarrierRepeatedGivesAnEmptyOutput)
    {
        writeMono16(0, 5000);
        settings.repeatCarrier = true;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output.has_value());
        EXPECT_TRUE(output->data.empty());
    }

    // A modulator of any kind from 16-bit samples, through libsndfile unless it is 8-bit wave.
    enum class VoiceKind { Wave8, Flac24, Float32, Vorbis };

    bool writeVoiceAs(const std::string& path, VoiceKind kind, std::uint32_t sampleRate,
        const std::vector<std::int16_t>& samples)
    {
        if (kind == VoiceKind::Wave8) {
            writeFile(path, waveFileBytes({ 1, 1, sampleRate, 8 }, testSignal8(samples.size(), 2)));
            return true;
        }
        const auto rate = static_cast<int>(sampleRate);
        if (kind == VoiceKind::Flac24) {
            std::vector<int> values(samples.begin(), samples.end());
            for (int& value : values)
                value *= 65536;
            return lumivox::test::writeIntegerSoundFile(
                path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, rate, values);
        }
        std::vector<double> values(samples.begin(), samples.end());
        for (double& value : values)
            value /= 32768.0;
        const int format = kind == VoiceKind::Vorbis ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                                                     : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        return lumivox::test::writeDoubleSoundFile(path, format, 1, rate, values);
    }

    struct DepthCase {
        const char* label;
        VoiceKind modulator;
        std::uint32_t sampleRate;
        std::uint16_t formatTag;
        std::uint16_t bitsPerSample;
    };

    void PrintTo(const DepthCase& row, std::ostream* out) { *out << row.label; }

    class BuiltInCarrierDepth : public JobTest, public ::testing::WithParamInterface<DepthCase> { };

    // A built-in sound is made at the modulator's own rate, nothing resampled, and stored 16-bit
    // unless the modulator is wider, then as that modulator would be stored as a carrier.
    TEST_P(BuiltInCarrierDepth, FollowsTheModulatorsRateAndWiderDepth)
    {
        const DepthCase& row = GetParam();
        constexpr std::size_t frames = 12000;
        settings.modulatorPath = (folder / "voice.sound").string();
        ASSERT_TRUE(writeVoiceAs(
            settings.modulatorPath, row.modulator, row.sampleRate, testSignal16(frames, 2)));
        settings.carrier.kind = CarrierKind::Chord;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        std::string problem;
        const auto output = readOutputWave(settings.outputPath, problem);
        ASSERT_TRUE(output) << problem;
        EXPECT_EQ(output->shape.formatTag, row.formatTag);
        EXPECT_EQ(output->shape.bitsPerSample, row.bitsPerSample);
        EXPECT_EQ(output->shape.sampleRate, row.sampleRate);
        EXPECT_EQ(port.reports.back().conversion, "");
        const std::size_t bytesPerFrame = row.bitsPerSample / 8U;
        // A lossy modulator may decode a little longer or shorter than it was written.
        const std::size_t slack = row.modulator == VoiceKind::Vorbis ? 2048 : 0;
        EXPECT_NEAR(static_cast<double>(output->data.size() / bytesPerFrame),
            static_cast<double>(frames), static_cast<double>(slack));
        EXPECT_FALSE(cutShortOf(port.reports.back()).has_value());
        EXPECT_GT(port.reports.back().peak, 0.01) << "the output is nearly silent";
    }

    constexpr DepthCase depthCases[] = {
        { "Wave8", VoiceKind::Wave8, 11025, 1, 16 },
        { "Flac24", VoiceKind::Flac24, 48000, 1, 24 },
        { "Float32", VoiceKind::Float32, 22050, 3, 32 },
        { "Vorbis", VoiceKind::Vorbis, 44100, 1, 16 },
    };

    INSTANTIATE_TEST_SUITE_P(Modulators, BuiltInCarrierDepth, ::testing::ValuesIn(depthCases),
        [](const auto& row) { return std::string(row.param.label); });

    // A FLAC file whose header says nothing of its length (0 frames), as one written to a stream
    // is: the total sample count in STREAMINFO zeroed.
    void forgetFlacLength(const std::string& path)
    {
        Bytes bytes = readFile(path);
        ASSERT_GE(bytes.size(), 26U);
        ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
        bytes[21] &= 0xF0;
        std::fill(bytes.begin() + 22, bytes.begin() + 26, std::uint8_t { 0 });
        writeFile(path, bytes);
    }

    struct RepeatReadCase {
        const char* label;
        bool flacCarrier;
        std::uint32_t carrierRate;
        std::uint32_t modulatorRate;
        bool lengthUnknown = false; // the FLAC file's header says 0 frames
        bool keptInMemory = true; // else every pass is opened and decoded again
    };

    void PrintTo(const RepeatReadCase& row, std::ostream* out) { *out << row.label; }

    class RepeatedCarrierRead : public JobTest,
                                public ::testing::WithParamInterface<RepeatReadCase> { };

    // A carrier read through libsndfile is opened again there to repeat, and gives the bits of the
    // same carrier as a 16-bit wave file; a modulator at another rate is resampled first and the
    // carrier repeated to its resampled length.
    TEST_P(RepeatedCarrierRead, RepeatsToTheModulatorsLengthAtTheCarriersRate)
    {
        const RepeatReadCase& row = GetParam();
        constexpr std::size_t carrierFrames = 3000;
        constexpr std::size_t modulatorFrames = 11000;
        const auto carrier = testSignal16(carrierFrames, 1);
        const auto modulator = testSignal16(modulatorFrames, 2);
        writeModulator({ 1, 1, row.modulatorRate, 16 }, int16Bytes(modulator));
        writeCarrier({ 1, 1, row.carrierRate, 16 }, int16Bytes(carrier));
        settings.repeatCarrier = true;
        if (!row.keptInMemory)
            environment.carrierKeptFrames = 0;
        std::vector<std::int16_t> reference;
        if (row.flacCarrier) {
            ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
            const auto fromWave = readOutputWave(settings.outputPath);
            ASSERT_TRUE(fromWave);
            reference = int16Samples(fromWave->data);
            settings.carrierPath = (folder / "carrier.flac").string();
            std::vector<int> values(carrier.begin(), carrier.end());
            for (int& value : values)
                value *= 65536;
            ASSERT_TRUE(lumivox::test::writeIntegerSoundFile(settings.carrierPath,
                SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, static_cast<int>(row.carrierRate), values));
            if (row.lengthUnknown)
                forgetFlacLength(settings.carrierPath);
        }
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output);
        EXPECT_EQ(output->shape.sampleRate, row.carrierRate);
        const auto got = int16Samples(output->data);
        const double wantedFrames = static_cast<double>(modulatorFrames) * row.carrierRate
            / static_cast<double>(row.modulatorRate);
        EXPECT_NEAR(static_cast<double>(got.size()), wantedFrames, 1.0);
        EXPECT_FALSE(cutShortOf(port.reports.back()).has_value());
        if (row.flacCarrier)
            EXPECT_EQ(got, reference);
        else
            EXPECT_NE(port.reports.back().conversion, "");
    }

    constexpr RepeatReadCase repeatReadCases[] = {
        { "FlacCarrier", true, 44100, 44100 },
        { "FlacCarrierOpenedForEveryPass", true, 44100, 44100, false, false },
        { "FlacCarrierOfUnknownLength", true, 44100, 44100, true },
        { "FlacCarrierOfUnknownLengthOpenedForEveryPass", true, 44100, 44100, true, false },
        { "ModulatorResampled", false, 22050, 44100 },
    };

    INSTANTIATE_TEST_SUITE_P(Inputs, RepeatedCarrierRead, ::testing::ValuesIn(repeatReadCases),
        [](const auto& row) { return std::string(row.param.label); });

    struct ShortCarrierCase {
        const char* label;
        int format; // libsndfile's
        int sampleRate;
        std::size_t frames;
    };

    void PrintTo(const ShortCarrierCase& row, std::ostream* out) { *out << row.label; }

    class ShortCarrierRepeated : public JobTest,
                                 public ::testing::WithParamInterface<ShortCarrierCase> { };

    // A short compressed carrier is decoded once and played again from memory: once its first
    // pass is read, the file is not needed again, and its removal does not end the repeat.
    TEST_P(ShortCarrierRepeated, IsDecodedOnceAndPlayedFromMemory)
    {
        const ShortCarrierCase& row = GetParam();
        constexpr std::size_t modulatorFrames = 3 * 44100;
        settings.carrierPath = (folder / "carrier.sound").string();
        const auto samples = testSignal16(row.frames, 1);
        std::vector<double> values(samples.begin(), samples.end());
        for (double& value : values)
            value /= 32768.0;
        ASSERT_TRUE(lumivox::test::writeDoubleSoundFile(
            settings.carrierPath, row.format, 1, row.sampleRate, values));
        writeModulator({ 1, 1, 44100, 16 }, int16Bytes(testSignal16(modulatorFrames, 2)));
        settings.repeatCarrier = true;
        environment.readInput
            = [this](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t count) {
                  if (role == InputRole::Modulator)
                      std::filesystem::remove(settings.carrierPath);
                  return wave::readWave(reader, buffer, count);
              };
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output);
        const double wantedFrames = static_cast<double>(modulatorFrames) * row.sampleRate / 44100.0;
        EXPECT_NEAR(static_cast<double>(output->data.size() / 2), wantedFrames, 2.0);
        EXPECT_GT(port.reports.back().peak, 0.001) << "the output is silent";
    }

    constexpr ShortCarrierCase shortCarrierCases[] = {
        { "TenFramesOfOgg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 10 },
        { "ASecondOfOpus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 48000 },
        { "HalfASecondOfMp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 22050 },
        { "AThirdOfASecondOfFlac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 14700 },
    };

    INSTANTIATE_TEST_SUITE_P(Carriers, ShortCarrierRepeated, ::testing::ValuesIn(shortCarrierCases),
        [](const auto& row) { return std::string(row.param.label); });

    // Every pass of a repeated carrier is held locked as the first is: a carrier that another run
    // writes by the time it is opened again is refused, not read.
    TEST_F(CarrierSounds, ARepeatRefusesACarrierThatAnotherRunWritesMeanwhile)
    {
        settings.carrierPath = (folder / "carrier.flac").string();
        const auto samples = testSignal16(3000, 1);
        std::vector<int> values(samples.begin(), samples.end());
        for (int& value : values)
            value *= 65536;
        ASSERT_TRUE(lumivox::test::writeIntegerSoundFile(
            settings.carrierPath, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, values));
        writeModulator({ 1, 1, 44100, 16 }, int16Bytes(testSignal16(20000, 2)));
        settings.repeatCarrier = true;
        environment.carrierKeptFrames = 0; // every pass opened again

        // Once the run has started, the carrier's name comes to stand for a file that is written
        // by another run, which holds it locked as a writer does.
        const std::string replacement = (folder / "being-written.flac").string();
        ASSERT_TRUE(lumivox::test::writeIntegerSoundFile(
            replacement, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, values));
        const int writer = ::open(replacement.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
        bool replaced = false;
        environment.readInput
            = [&](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t count) {
                  if (role == InputRole::Modulator && !replaced)
                      replaced = ::rename(replacement.c_str(), settings.carrierPath.c_str()) == 0;
                  return wave::readWave(reader, buffer, count);
              };
        EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
        ::close(writer);
        EXPECT_TRUE(replaced);
        EXPECT_EQ(port.eventsStartingWith("error"),
            std::vector<std::string> { "error " + std::string(message::carrierNotOpened) });
        ASSERT_EQ(port.reports.size(), 1U);
        EXPECT_EQ(port.reports.back().failureDetail,
            settings.carrierPath + ": another run is writing to it");
    }

} // namespace
} // namespace lumivox::job::test
