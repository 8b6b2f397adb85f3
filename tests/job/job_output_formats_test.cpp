#include "job_fixture.h"
#include "job_messages.h"
#include "sndfile_io.h"
#include "sound_test_files.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace lumivox::job::test {
namespace {

    // Opus holds 48 kHz; every other format takes it too.
    constexpr int rate = 48000;
    constexpr std::size_t frameCount = 24000;

    // The carrier of a case: how its 16-bit test signal is stored.
    enum class Carrier { Wave8, Wave16, Wave24, Float32 };

    bool writeCarrierAs(const std::string& path, Carrier kind)
    {
        const auto samples = testSignal16(frameCount, 1);
        switch (kind) {
        case Carrier::Wave8:
            writeFile(path, waveFileBytes({ 1, 1, rate, 8 }, testSignal8(frameCount, 1)));
            return true;
        case Carrier::Wave16:
            writeFile(path, waveFileBytes({ 1, 1, rate, 16 }, int16Bytes(samples)));
            return true;
        case Carrier::Wave24: {
            std::vector<int> values(samples.size());
            for (std::size_t i = 0; i < samples.size(); ++i)
                values[i] = samples[i] * 65536 + 23 * 256 * static_cast<int>(i % 7);
            return writeIntegerSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, rate, values);
        }
        case Carrier::Float32: {
            // Loud enough that Output Gain 100 drives results beyond full scale.
            std::vector<double> values(samples.begin(), samples.end());
            for (double& value : values)
                value /= 12000.0;
            return writeDoubleSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, values);
        }
        }
        return false;
    }

    double peakOf(const std::vector<double>& samples)
    {
        double peak = 0.0;
        for (const double s : samples)
            peak = std::max(peak, std::abs(s));
        return peak;
    }

    double decibels(double fraction) { return 20.0 * std::log10(fraction); }

    struct FormatCase {
        const char* label;
        Carrier carrier;
        const char* outputName;
        int format; // libsndfile's major format and subtype of what must be written
        bool lossy; // else the samples are those of the same run to a wave file
        bool namedAsWave = false; // an unknown ending: written as WAV, and said so
    };

    void PrintTo(const FormatCase& row, std::ostream* out) { *out << row.label; }

    const FormatCase formatCases[] = {
        { "Flac16", Carrier::Wave16, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false },
        { "Flac8", Carrier::Wave8, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, false },
        { "Flac24", Carrier::Wave24, "out.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false },
        { "FlacFromFloat", Carrier::Float32, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false },
        { "Aiff16", Carrier::Wave16, "out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false },
        { "AiffFloat", Carrier::Float32, "out.aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, false },
        { "Vorbis", Carrier::Wave16, "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true },
        { "VorbisFrom24", Carrier::Wave24, "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true },
        { "Opus", Carrier::Wave16, "out.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, true },
        { "Mp3", Carrier::Float32, "out.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, true },
        { "UnknownEnding", Carrier::Wave16, "out.xyz", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false,
            true },
    };

    class OutputFormats : public JobTest, public ::testing::WithParamInterface<FormatCase> { };

    // The ending of the output's name picks its format; read back by libsndfile, the file has the
    // carrier's rate, one channel, the run's length and the peak the run reported, and a lossless
    // one the very samples a wave file of the same run holds.
    TEST_P(OutputFormats, AreWrittenAsTheirNamesSay)
    {
        const FormatCase& row = GetParam();
        ASSERT_TRUE(writeCarrierAs(settings.carrierPath, row.carrier));
        writeModulator({ 1, 1, rate, 16 }, int16Bytes(testSignal16(frameCount, 2)));
        settings.sound.gain = row.carrier == Carrier::Float32 ? 100 : 30;

        settings.outputPath = (folder / "reference.wav").string();
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        settings.outputPath = (folder / row.outputName).string();
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const RunReport& report = port.reports.back();

        const auto output = readBack(settings.outputPath);
        ASSERT_TRUE(output.has_value()) << sf_strerror(nullptr);
        EXPECT_EQ(output->info.format, row.format) << std::hex << output->info.format;
        EXPECT_EQ(output->info.samplerate, rate);
        EXPECT_EQ(output->info.channels, 1);
        EXPECT_EQ(report.outputNote.empty(), !row.namedAsWave) << report.outputNote;
        const auto reference = readBack((folder / "reference.wav").string());
        ASSERT_TRUE(reference.has_value());
        ASSERT_EQ(reference->samples.size(), frameCount);

        if (row.lossy) {
            // A codec's frames pad the end; its peak is near that of the samples it was given.
            EXPECT_NEAR(static_cast<double>(output->samples.size()), frameCount, 2048.0);
            EXPECT_NEAR(decibels(peakOf(output->samples)), decibels(report.peak), 1.5);
            return;
        }
        ASSERT_EQ(output->samples.size(), frameCount);
        // An 8-bit file's bytes are centred on 127 here, on 128 for other readers: a step apart.
        if (row.carrier == Carrier::Wave8)
            EXPECT_NEAR(peakOf(output->samples), report.peak, 1.5 / 128.0);
        else
            EXPECT_NEAR(decibels(peakOf(output->samples)), decibels(report.peak), 0.01);
        if (row.format == (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) && row.carrier == Carrier::Float32) {
            // FLAC holds no float: the float results rounded to 24 bits, clamped at full scale.
            std::size_t clamped = 0;
            for (std::size_t i = 0; i < frameCount; ++i) {
                const double wanted = std::clamp(reference->samples[i], -1.0, 1.0);
                ASSERT_NEAR(output->samples[i], wanted, 1.0 / 8388608.0) << "frame " << i;
                clamped += std::abs(reference->samples[i]) > 1.0 ? 1 : 0;
            }
            EXPECT_GT(clamped, 0u) << "the case must reach beyond full scale";
            EXPECT_EQ(report.clippedSamples, clamped);
            EXPECT_FALSE(report.floatOutput);
            return;
        }
        EXPECT_EQ(output->samples, reference->samples);
    }

    INSTANTIATE_TEST_SUITE_P(Endings, OutputFormats, ::testing::ValuesIn(formatCases),
        [](const auto& param) { return std::string(param.param.label); });

    // Opus holds only a few rates, 44100 Hz not among them: the output is brought to 48000 Hz on
    // its way to the encoder, as long and as loud as it was made, and the run says so.
    TEST_F(JobTest, AnOpusOutputAtARateOpusLacksIsResampledTo48000Hertz)
    {
        writeMono16(44100, 44100); // one second at 44100 Hz
        settings.sound.gain = 30;
        settings.outputPath = (folder / "out.opus").string();
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const RunReport& report = port.reports.back();
        EXPECT_NE(
            report.conversion.find("output resampled from 44100 Hz to 48000 Hz"), std::string::npos)
            << report.conversion;
        const auto output = readBack(settings.outputPath);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output->info.samplerate, 48000);
        EXPECT_NEAR(static_cast<double>(output->samples.size()), 48000.0, 2048.0);
        EXPECT_NEAR(decibels(peakOf(output->samples)), decibels(report.peak), 1.5);
    }

    struct NormalizeCase {
        const char* label;
        Carrier carrier;
        const char* outputName;
        double decibels;
        int gain;
    };

    void PrintTo(const NormalizeCase& row, std::ostream* out) { *out << row.label; }

    const NormalizeCase normalizeCases[] = {
        { "Wave16Default", Carrier::Wave16, "out.wav", -1.0, 50 },
        { "Wave16Quiet", Carrier::Wave16, "out.wav", -20.0, 50 },
        { "Wave16FromLoud", Carrier::Wave16, "out.wav", -3.0, 100 },
        { "Wave24", Carrier::Wave24, "out.wav", -0.5, 10 },
        { "FloatFullScale", Carrier::Float32, "out.wav", 0.0, 100 },
        { "Flac16", Carrier::Wave16, "out.flac", -1.0, 5 },
        { "AiffFloat", Carrier::Float32, "out.aiff", -6.0, 50 },
    };

    class NormalizedOutput : public JobTest,
                             public ::testing::WithParamInterface<NormalizeCase> { };

    // A normalized output peaks within 0.1 dB of the level asked for, whatever the gain, and is
    // otherwise the same sound as the output made without it, scaled: every sample rounded once.
    TEST_P(NormalizedOutput, PeaksAtTheLevelAskedFor)
    {
        const NormalizeCase& row = GetParam();
        ASSERT_TRUE(writeCarrierAs(settings.carrierPath, row.carrier));
        writeModulator({ 1, 1, rate, 16 }, int16Bytes(testSignal16(frameCount, 2)));
        settings.sound.gain = row.gain;
        settings.outputPath = (folder / ("plain-" + std::string(row.outputName))).string();
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        const auto plain = readBack(settings.outputPath);

        settings.outputPath = (folder / row.outputName).string();
        settings.normalizeDecibels = row.decibels;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished) << port.reports.back().failureDetail;
        const RunReport& report = port.reports.back();
        const auto normalized = readBack(settings.outputPath);
        ASSERT_TRUE(plain && normalized);
        ASSERT_EQ(normalized->samples.size(), frameCount);
        EXPECT_EQ(normalized->info.format, plain->info.format);

        const double peak = peakOf(normalized->samples);
        EXPECT_NEAR(decibels(peak), row.decibels, 0.1);
        EXPECT_NEAR(decibels(report.peak), row.decibels, 0.1);
        EXPECT_EQ(report.clippedSamples, 0u);
        ASSERT_TRUE(report.normalizedByDecibels.has_value());

        // The same waveform: where the plain output was not clamped, the normalized one is it
        // times the change, within a step of each output's rounding.
        const double change = std::pow(10.0, *report.normalizedByDecibels / 20.0);
        const double step = plain->info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                || plain->info.format == (SF_FORMAT_FLAC | SF_FORMAT_PCM_16)
            ? 1.0 / 32768.0
            : plain->info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_24) ? 1.0 / 8388608.0
                                                                       : 1e-6;
        for (std::size_t i = 0; i < frameCount; ++i) {
            if (std::abs(plain->samples[i]) >= 32767.0 / 32768.0)
                continue;
            ASSERT_NEAR(normalized->samples[i], change * plain->samples[i], step * (1.0 + change))
                << "frame " << i;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Levels, NormalizedOutput, ::testing::ValuesIn(normalizeCases),
        [](const auto& param) { return std::string(param.param.label); });

    // A preview is never normalized: it plays what the engine makes at the gain set.
    TEST_F(JobTest, APreviewIsNotNormalized)
    {
        writeMono16(6000, 6000);
        settings.sound.gain = 10;
        ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
        const double plainPeak = port.reports.back().peak;
        settings.normalizeDecibels = -1.0;
        ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
        EXPECT_FALSE(port.reports.back().normalizedByDecibels.has_value());
        EXPECT_EQ(port.reports.back().peak, plainPeak);
        EXPECT_LT(plainPeak, 0.5);
    }

    // The temporary of a normalized run leaves nothing behind in the output's folder.
    TEST_F(JobTest, ANormalizedRunLeavesOnlyItsOutput)
    {
        writeMono16(6000, 6000);
        settings.normalizeDecibels = -1.0;
        ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(
            names, (std::vector<std::string> { "carrier.wav", "modulator.wav", "output.wav" }));
    }

} // namespace
} // namespace lumivox::job::test
