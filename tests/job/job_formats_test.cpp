#include "job_fixture.h"
#include "sound_test_files.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumivox::job::test {
namespace {

    constexpr int rate = 44100;
    constexpr std::size_t frameCount = 20000;

    // How a test writes one input from 16-bit samples; every kind but MP3 holds them exactly.
    enum class Kind { Wave16, Flac16, Wave24, Aiff24, Float32, Mp3 };

    bool writeAs(const std::string& path, Kind kind, const std::vector<std::int16_t>& samples,
        int sampleRate = rate)
    {
        if (kind == Kind::Wave16) {
            writeFile(path,
                waveFileBytes(
                    { 1, 1, static_cast<std::uint32_t>(sampleRate), 16 }, int16Bytes(samples)));
            return true;
        }
        if (kind == Kind::Float32 || kind == Kind::Mp3) {
            std::vector<double> values(samples.begin(), samples.end());
            for (double& value : values)
                value /= 32768.0;
            const int format = kind == Kind::Mp3 ? SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III
                                                 : SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            return writeDoubleSoundFile(path, format, 1, sampleRate, values);
        }
        std::vector<int> values(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            values[i] = samples[i] * 65536; // left-justified: the top 16 bits of any depth
        const int format = kind == Kind::Flac16 ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
            : kind == Kind::Wave24              ? SF_FORMAT_WAV | SF_FORMAT_PCM_24
                                                : SF_FORMAT_AIFF | SF_FORMAT_PCM_24;
        return writeIntegerSoundFile(path, format, 1, sampleRate, values);
    }

    // How an output compares with the output of the same audio as 16-bit wave files.
    enum class Compare {
        SameBytes, // the same samples: the inputs gave the engine the same values
        Int24, // 24-bit: the same results, rounded where 16 bits truncate
        Float32, // float: the same results over 32768
        Length, // a lossy carrier: a 16-bit output of about the same length
    };

    struct FormatCase {
        const char* label;
        Kind carrier;
        Kind modulator;
        std::uint16_t formatTag;
        std::uint16_t bitsPerSample;
        Compare compare;
    };

    void PrintTo(const FormatCase& row, std::ostream* out) { *out << row.label; }

    constexpr FormatCase formatCases[] = {
        { "FlacCarrier", Kind::Flac16, Kind::Wave16, 1, 16, Compare::SameBytes },
        { "FlacModulator", Kind::Wave16, Kind::Flac16, 1, 16, Compare::SameBytes },
        { "Aiff24Modulator", Kind::Wave16, Kind::Aiff24, 1, 16, Compare::SameBytes },
        { "Wave24Carrier", Kind::Wave24, Kind::Flac16, 1, 24, Compare::Int24 },
        { "FloatCarrier", Kind::Float32, Kind::Wave16, 3, 32, Compare::Float32 },
        { "Mp3Carrier", Kind::Mp3, Kind::Wave16, 1, 16, Compare::Length },
    };

    std::int32_t int24At(const Bytes& bytes, std::size_t frame)
    {
        const std::size_t at = 3 * frame;
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(bytes[at + 2]) << 24)
                   | (static_cast<std::uint32_t>(bytes[at + 1]) << 16)
                   | (static_cast<std::uint32_t>(bytes[at]) << 8))
            >> 8;
    }

    float floatAt(const Bytes& bytes, std::size_t frame)
    {
        float value = 0.0f;
        std::memcpy(&value, bytes.data() + 4 * frame, sizeof value);
        return value;
    }

    class JobFormats : public JobTest, public ::testing::WithParamInterface<FormatCase> {
    protected:
        // The output of the same audio as two 16-bit wave files.
        std::vector<std::int16_t> referenceOutput()
        {
            JobSettings reference = inMode(settings, JobMode::Vocode);
            reference.carrierPath = (folder / "reference-carrier.wav").string();
            reference.modulatorPath = (folder / "reference-modulator.wav").string();
            reference.outputPath = (folder / "reference-output.wav").string();
            writeAs(reference.carrierPath, Kind::Wave16, carrier);
            writeAs(reference.modulatorPath, Kind::Wave16, modulator);
            JobState side;
            RecordingPort sidePort;
            if (runVocodingJob(reference, side, sidePort, environment) != JobOutcome::Finished)
                return {};
            const auto output = readOutputWave(reference.outputPath);
            return output ? int16Samples(output->data) : std::vector<std::int16_t> {};
        }

        std::vector<std::int16_t> carrier = testSignal16(frameCount, 1);
        std::vector<std::int16_t> modulator = testSignal16(frameCount, 2);
    };

    // Any pair of inputs vocodes like the same audio as 16-bit wave files, stored at the depth
    // the carrier calls for.
    TEST_P(JobFormats, VocodeLikeTheSixteenBitWaveFiles)
    {
        const FormatCase& row = GetParam();
        settings.sound.gain = 80; // some results clip, so that clamping is compared too
        ASSERT_TRUE(writeAs(settings.carrierPath, row.carrier, carrier));
        ASSERT_TRUE(writeAs(settings.modulatorPath, row.modulator, modulator));
        const std::vector<std::int16_t> reference = referenceOutput();
        ASSERT_EQ(reference.size(), frameCount);

        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        std::string problem;
        const auto output = readOutputWave(settings.outputPath, problem);
        ASSERT_TRUE(output) << problem;
        EXPECT_EQ(output->shape.formatTag, row.formatTag);
        EXPECT_EQ(output->shape.bitsPerSample, row.bitsPerSample);
        EXPECT_EQ(output->shape.sampleRate, static_cast<std::uint32_t>(rate));
        EXPECT_EQ(port.reports.back().conversion, "");

        switch (row.compare) {
        case Compare::SameBytes:
            EXPECT_EQ(int16Samples(output->data), reference);
            break;
        case Compare::Int24: {
            ASSERT_EQ(output->data.size(), 3 * frameCount);
            std::size_t keptPrecision = 0;
            for (std::size_t i = 0; i < frameCount; ++i) {
                const std::int32_t sample = int24At(output->data, i);
                // 16 bits truncate, 24 bits round: they differ by at most one 16-bit step.
                ASSERT_LE(std::abs(sample / 256.0 - reference[i]), 1.0) << "frame " << i;
                keptPrecision += sample % 256 != 0 ? 1 : 0;
            }
            EXPECT_GT(keptPrecision, frameCount / 2) << "24 bits hold more than 16";
            break;
        }
        case Compare::Float32: {
            ASSERT_EQ(output->data.size(), 4 * frameCount);
            std::size_t beyondFullScale = 0;
            for (std::size_t i = 0; i < frameCount; ++i) {
                const double value = floatAt(output->data, i) * 32768.0;
                beyondFullScale += std::abs(value) > 32768.0 ? 1 : 0;
                if (std::abs(value) < 32767.0) {
                    // Truncated at 16 bits; within a float's precision otherwise.
                    ASSERT_LT(std::abs(value - reference[i]), 1.0 + 1.0 / 256.0) << "frame " << i;
                }
            }
            EXPECT_GT(beyondFullScale, 0u) << "a float output is not clamped";
            EXPECT_EQ(port.reports.back().clippedSamples, beyondFullScale);
            break;
        }
        case Compare::Length:
            EXPECT_NEAR(static_cast<double>(output->data.size() / 2),
                static_cast<double>(frameCount), 0.1 * frameCount);
            break;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Inputs, JobFormats, ::testing::ValuesIn(formatCases),
        [](const auto& param) { return std::string(param.param.label); });

    // A modulator at half the carrier's rate is resampled to it: the output is as long as the
    // shorter input at the carrier's rate, and the report says what was done.
    TEST_F(JobTest, ResamplesAModulatorAtAnotherRate)
    {
        const std::size_t modulatorFrames = 15000; // 30000 at 44100 Hz, fewer than the carrier's
        writeFile(settings.carrierPath,
            waveFileBytes({ 1, 1, 44100, 16 }, int16Bytes(testSignal16(40000, 1))));
        writeFile(settings.modulatorPath,
            waveFileBytes({ 1, 1, 22050, 16 }, int16Bytes(testSignal16(modulatorFrames, 2))));
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const auto output = readOutputWave(settings.outputPath);
        ASSERT_TRUE(output);
        EXPECT_EQ(output->shape.sampleRate, 44100u);
        EXPECT_NEAR(static_cast<double>(output->data.size() / 2), 2.0 * modulatorFrames, 1.0);
        EXPECT_EQ(port.reports.back().conversion, "modulator resampled from 22050 Hz to 44100 Hz");
        EXPECT_NEAR(port.reports.back().secondsTotal, 2.0 * modulatorFrames / 44100.0, 1e-4);
    }

    // A pair of rates: resampled when the ratio is within what is resampled, refused at once
    // otherwise with both rates named (beyond it libsoxr crashes, or runs for minutes).
    struct RatePairCase {
        const char* label;
        std::uint32_t carrierRate;
        std::uint32_t modulatorRate;
        std::size_t modulatorFrames;
        const char* cause; // empty when the pair is resampled
    };

    void PrintTo(const RatePairCase& row, std::ostream* out) { *out << row.label; }

    class JobRatePairs : public JobTest, public ::testing::WithParamInterface<RatePairCase> { };

    TEST_P(JobRatePairs, AreResampledOrRefusedNamingBothRates)
    {
        const RatePairCase& row = GetParam();
        const double ratio
            = static_cast<double>(row.carrierRate) / static_cast<double>(row.modulatorRate);
        const bool refused = !std::string(row.cause).empty();
        // A carrier as long as the resampled modulator, or a short one for a refused pair.
        const std::size_t carrierFrames
            = refused ? 100 : static_cast<std::size_t>(std::ceil(row.modulatorFrames * ratio)) + 8;
        writeFile(settings.carrierPath,
            waveFileBytes(
                { 1, 1, row.carrierRate, 16 }, int16Bytes(testSignal16(carrierFrames, 1))));
        writeFile(settings.modulatorPath,
            waveFileBytes(
                { 1, 1, row.modulatorRate, 16 }, int16Bytes(testSignal16(row.modulatorFrames, 2))));
        if (!refused) {
            ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished)
                << port.reports.back().failureDetail;
            const auto output = readOutputWave(settings.outputPath);
            ASSERT_TRUE(output);
            EXPECT_NEAR(static_cast<double>(output->data.size() / 2),
                static_cast<double>(row.modulatorFrames) * ratio, 1.0);
            return;
        }
        EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
        EXPECT_EQ(port.eventsStartingWith("error "),
            std::vector<std::string> { "error The carrier and the modulator have different sample "
                                       "rates. Please correct this and try again." });
        ASSERT_EQ(port.reports.size(), 1u);
        EXPECT_EQ(port.reports.back().failureDetail, settings.modulatorPath + ": " + row.cause);
        EXPECT_FALSE(std::filesystem::exists(settings.outputPath));
    }

    INSTANTIATE_TEST_SUITE_P(Rates, JobRatePairs,
        ::testing::Values(
            RatePairCase { "GigahertzCarrierOneHertzVoice", 1073741823, 1, 4,
                "the modulator's 1 Hz is more than 65536 times below the carrier's 1073741823 Hz" },
            RatePairCase { "HundredMegahertzCarrierEightHertzVoice", 100000000, 8, 16,
                "the modulator's 8 Hz is more than 65536 times below the carrier's 100000000 Hz" },
            RatePairCase { "OneHertzCarrierHighRateVoice", 1, 384000, 384000,
                "the modulator's 384000 Hz is more than 1024 times above the carrier's 1 Hz" },
            RatePairCase { "WidestUpsampling", 65536, 1, 4, "" },
            RatePairCase { "WidestDownsampling", 1, 1024, 8192, "" },
            RatePairCase { "WideRatesCloseTogether", 1073741823, 1073741822, 4000, "" }),
        [](const auto& param) { return std::string(param.param.label); });

    // A stop asked for while the resampler works through a block at a wide ratio (about a
    // thousand reads of the modulator for one block) is seen between its steps: the modulator
    // is read at most once more, and the run ends as stopped with its output finished.
    class JobStopWhileResampling : public JobTest,
                                   public ::testing::WithParamInterface<JobMode> { };

    TEST_P(JobStopWhileResampling, IsSeenWithinTheBlock)
    {
        constexpr std::uint32_t modulatorRate = 1024000;
        writeFile(settings.carrierPath,
            waveFileBytes({ 1, 1, 1000, 16 }, int16Bytes(testSignal16(4000, 1))));
        writeFile(settings.modulatorPath,
            waveFileBytes(
                { 1, 1, modulatorRate, 16 }, int16Bytes(testSignal16(4 * modulatorRate, 2))));
        int modulatorReads = 0;
        int readsAfterStop = -1;
        environment.readInput
            = [&](InputRole role, wave::WaveReader& reader, void* buffer, std::size_t count) {
                  if (role == InputRole::Modulator) {
                      ++modulatorReads;
                      if (readsAfterStop >= 0)
                          ++readsAfterStop;
                      if (modulatorReads == 50) {
                          state.stopRequested = true; // as Ctrl-C, SIGTERM or Cancel set it
                          readsAfterStop = 0;
                      }
                  }
                  return wave::readWave(reader, buffer, count);
              };
        EXPECT_EQ(run(GetParam()), JobOutcome::Stopped);
        EXPECT_EQ(modulatorReads >= 50, true);
        EXPECT_LE(readsAfterStop, 1) << "the resampler read on after the stop";
        EXPECT_TRUE(allFlagsClear());
        ASSERT_EQ(port.reports.size(), 1u);
        EXPECT_EQ(port.reports.back().outcome, JobOutcome::Stopped);
        if (GetParam() == JobMode::Vocode) {
            const auto output = readOutputWave(settings.outputPath);
            ASSERT_TRUE(output) << "the output is finished as far as it went";
            EXPECT_EQ(output->data.size(), 0u);
        }
    }

    INSTANTIATE_TEST_SUITE_P(Modes, JobStopWhileResampling,
        ::testing::Values(JobMode::Vocode, JobMode::Preview),
        [](const auto& param) { return std::string(modeName(param.param)); });

    // A float carrier is previewed as 32-bit float: the very samples a Vocode writes.
    TEST_F(JobTest, PreviewPlaysAFloatCarrierAsFloat)
    {
        ASSERT_TRUE(writeAs(settings.carrierPath, Kind::Float32, testSignal16(6000, 1)));
        writeModulator({}, int16Bytes(testSignal16(6000, 2)));
        ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
        EXPECT_EQ(sink.openedWith.bitsPerSample, 32);
        const auto output = completeOutput();
        ASSERT_TRUE(output);
        EXPECT_EQ(sink.played, output->data);
    }

    // An input that is refused or fails, the message and the cause on its second line.
    struct FailureCase {
        const char* label;
        bool carrier; // which input is the bad one; the other is a good 16-bit wave file
        std::function<bool(const std::string& path)> write;
        const char* message;
        const char* cause; // what the second line ends with, or "breaks off" for damage
    };

    void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.label; }

    // A recording of the test signal damaged part way: cut off after keptFraction of its bytes,
    // or overwritten for a stretch from there.
    std::function<bool(const std::string&)> damaged(
        int format, std::size_t overwrittenBytes, double keptFraction = 0.5, int sampleRate = rate)
    {
        return [=](const std::string& path) {
            const auto samples = testSignal16(4 * static_cast<std::size_t>(sampleRate), 3);
            std::vector<double> values(samples.begin(), samples.end());
            for (double& value : values)
                value /= 32768.0;
            if (!writeDoubleSoundFile(path, format, 1, sampleRate, values))
                return false;
            Bytes bytes = readFile(path);
            const auto kept
                = static_cast<std::size_t>(static_cast<double>(bytes.size()) * keptFraction);
            if (overwrittenBytes == 0)
                bytes.resize(kept);
            for (std::size_t i = kept; i < kept + overwrittenBytes && i < bytes.size(); ++i)
                bytes[i] = static_cast<std::uint8_t>(i * 37);
            writeFile(path, bytes);
            return true;
        };
    }

    // A wave file of the given shape holding a few frames, whatever its header says.
    std::function<bool(const std::string&)> waveOfShape(WaveShape shape)
    {
        return [shape](const std::string& path) {
            writeFile(path, waveFileBytes(shape, Bytes(4 * 3 * 100, 0)));
            return true;
        };
    }

    constexpr int mp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    constexpr int vorbis = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    constexpr int opus = SF_FORMAT_OGG | SF_FORMAT_OPUS;

    constexpr const char* carrierNotRead = "The carrier wave file could not be read.";
    constexpr const char* carrierNotPcm
        = "The carrier is either not a valid PCM file, or it has a bit resolution highr than 16.";
    constexpr const char* modulatorNotPcm = "The modulator is either not a valid PCM file, or it "
                                            "has a bit resolution highr than 16.";

    std::vector<FailureCase> failureCases()
    {
        return {
            { "AacCarrier", true,
                [](const std::string& path) {
                    writeFile(path, mp4Bytes());
                    return true;
                },
                "The carrier wave file could not be opened.",
                "AAC in an MP4 container; convert it to WAV or FLAC" },
            { "NineChannelModulator", false,
                [](const std::string& path) {
                    writeFile(path, waveFileBytes({ 1, 9, rate, 16 }, Bytes(9 * 2 * 100, 0)));
                    return true;
                },
                "The modulator must have one or two channels.", "9 channels" },
            { "UnknownEncodingCarrier", true,
                [](const std::string& path) {
                    writeFile(path, waveFileBytes({ 0x1234, 1, rate, 16 }, Bytes(400, 0)));
                    return true;
                },
                "The carrier is either not a valid PCM file, or it has a bit resolution highr "
                "than 16.",
                "compressed or unknown encoding (format tag 4660), not PCM" },
            { "CutOffFlacCarrier", true, damaged(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0),
                "The carrier wave file could not be read.", "breaks off" },
            { "DamagedOggModulator", false, damaged(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1000),
                "The modulator wave file could not be read.", "breaks off" },
            // A compressed carrier that breaks off fails the run as a modulator does.
            { "HalfMp3Carrier", true, damaged(mp3, 0), carrierNotRead, "breaks off" },
            { "OverwrittenMp3Carrier", true, damaged(mp3, 3000), carrierNotRead, "breaks off" },
            { "OverwrittenOggCarrier", true, damaged(vorbis, 3000), carrierNotRead, "breaks off" },
            { "OggCarrierCutAtHalf", true, damaged(vorbis, 0, 0.5), carrierNotRead, "breaks off" },
            { "OggCarrierCutAt90", true, damaged(vorbis, 0, 0.9), carrierNotRead, "breaks off" },
            { "OggCarrierCutAt99", true, damaged(vorbis, 0, 0.99), carrierNotRead, "breaks off" },
            { "OpusCarrierCutAtHalf", true, damaged(opus, 0, 0.5, 48000), carrierNotRead,
                "breaks off" },
            { "OpusCarrierCutAt90", true, damaged(opus, 0, 0.9, 48000), carrierNotRead,
                "breaks off" },
            { "OpusCarrierCutAt99", true, damaged(opus, 0, 0.99, 48000), carrierNotRead,
                "breaks off" },
            // A rate or a channel count that no reader takes is the cause, whatever the depth.
            { "RateZero24BitCarrier", true, waveOfShape({ 1, 1, 0, 24 }), carrierNotPcm,
                "a sample rate of 0 Hz" },
            { "RateZeroFloatModulator", false, waveOfShape({ 3, 1, 0, 32 }), modulatorNotPcm,
                "a sample rate of 0 Hz" },
            { "RateAbove2To30In32BitCarrier", true, waveOfShape({ 1, 1, 1u << 30, 32 }),
                carrierNotPcm, "a sample rate of 1073741824 Hz, too high for a wave file" },
            { "NoChannels24BitCarrier", true, waveOfShape({ 1, 0, rate, 24 }),
                "The carrier must have one or two channels.", "0 channels" },
            { "AllChannelsFloatModulator", false, waveOfShape({ 3, 65535, rate, 32 }),
                "The modulator must have one or two channels.", "65535 channels" },
            { "NineChannels24BitCarrier", true, waveOfShape({ 1, 9, rate, 24 }),
                "The carrier must have one or two channels.", "9 channels" },
        };
    }

    class JobFormatFailures : public JobTest, public ::testing::WithParamInterface<FailureCase> { };

    // The message names the input and the second line why; whatever was vocoded before damage
    // was found stays in the output, a valid wave file.
    TEST_P(JobFormatFailures, NameTheInputAndTheCause)
    {
        const FailureCase& row = GetParam();
        const std::string& bad = row.carrier ? settings.carrierPath : settings.modulatorPath;
        const std::string& good = row.carrier ? settings.modulatorPath : settings.carrierPath;
        writeFile(good, waveFileBytes({}, int16Bytes(testSignal16(8 * rate, 4))));
        ASSERT_TRUE(row.write(bad));

        EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
        EXPECT_EQ(port.eventsStartingWith("error "),
            std::vector<std::string> { "error " + std::string(row.message) });
        ASSERT_EQ(port.reports.size(), 1u);
        const std::string& detail = port.reports.back().failureDetail;
        EXPECT_TRUE(detail.starts_with(bad + ": ")) << detail;
        if (std::string(row.cause) == "breaks off") {
            EXPECT_NE(detail.find(": it breaks off after "), std::string::npos) << detail;
            const auto output = readOutputWave(settings.outputPath);
            ASSERT_TRUE(output) << "the output is finished as far as it went";
            EXPECT_GT(output->data.size(), 2u * rate / 2) << "what came before the damage";
            EXPECT_GT(port.reports.back().secondsDone, 0.5);
        } else {
            EXPECT_EQ(detail, bad + ": " + row.cause);
            EXPECT_FALSE(std::filesystem::exists(settings.outputPath));
        }
        EXPECT_TRUE(allFlagsClear());
    }

    INSTANTIATE_TEST_SUITE_P(Inputs, JobFormatFailures, ::testing::ValuesIn(failureCases()),
        [](const auto& param) { return std::string(param.param.label); });

    // An input that is not a regular file, made at a path.
    enum class Special { Fifo, Socket };

    struct SpecialCase {
        const char* label;
        bool carrier;
        Special kind;
    };

    void PrintTo(const SpecialCase& row, std::ostream* out) { *out << row.label; }

    class JobSpecialInputs : public JobTest, public ::testing::WithParamInterface<SpecialCase> { };

    // A FIFO, or a socket, is refused at once as "not a regular file", never waited on: nobody
    // writes to the FIFO here.
    TEST_P(JobSpecialInputs, AreRefusedWithoutWaiting)
    {
        const SpecialCase& row = GetParam();
        const std::string& special = row.carrier ? settings.carrierPath : settings.modulatorPath;
        const std::string& good = row.carrier ? settings.modulatorPath : settings.carrierPath;
        writeFile(good, waveFileBytes({}, int16Bytes(testSignal16(rate, 4))));
        int listening = -1;
        if (row.kind == Special::Fifo) {
            ASSERT_EQ(::mkfifo(special.c_str(), 0600), 0);
        } else {
            listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_GE(listening, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            ASSERT_LT(special.size(), sizeof address.sun_path);
            std::copy(special.begin(), special.end(), address.sun_path);
            ASSERT_EQ(
                ::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        }

        auto outcome = std::async(std::launch::async, [this] { return run(JobMode::Vocode); });
        const bool ended = outcome.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        // Let a run that waits on the FIFO go on, however often it opens it, so that the test
        // can end.
        for (int attempt = 0; !ended && row.kind == Special::Fifo && attempt < 600; ++attempt) {
            const int writer = ::open(special.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            if (outcome.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready)
                break;
        }
        EXPECT_TRUE(ended) << "the run waited on the input";
        EXPECT_EQ(outcome.get(), JobOutcome::Failed);
        if (listening >= 0)
            ::close(listening);
        const std::string message = row.carrier ? "The carrier wave file could not be opened."
                                                : "The modulator wave file could not be opened.";
        EXPECT_EQ(
            port.eventsStartingWith("error "), std::vector<std::string> { "error " + message });
        ASSERT_EQ(port.reports.size(), 1u);
        EXPECT_EQ(port.reports.back().failureDetail, special + ": not a regular file");
        EXPECT_FALSE(std::filesystem::exists(settings.outputPath));
    }

    INSTANTIATE_TEST_SUITE_P(Inputs, JobSpecialInputs,
        ::testing::Values(SpecialCase { "FifoCarrier", true, Special::Fifo },
            SpecialCase { "FifoModulator", false, Special::Fifo },
            SpecialCase { "SocketCarrier", true, Special::Socket }),
        [](const auto& param) { return std::string(param.param.label); });

} // namespace
} // namespace lumivox::job::test
