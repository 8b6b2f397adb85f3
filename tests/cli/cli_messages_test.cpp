#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

constexpr const char* carrierNotOpened = "The carrier wave file could not be opened.";

// A 40-byte WAVE_FORMAT_EXTENSIBLE fmt payload with the given valid bits and sub-format tag.
Bytes extensibleFormat(const WaveShape& shape, std::uint16_t validBits, std::uint16_t subFormat)
{
    Bytes payload
        = formatPayload({ 0xFFFE, shape.channels, shape.sampleRate, shape.bitsPerSample });
    appendUint16(payload, 22);
    appendUint16(payload, validBits);
    appendUint32(payload, shape.channels == 1 ? 0x4 : 0x3);
    appendUint16(payload, subFormat);
    append(payload,
        { 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71 });
    return payload;
}

Bytes extensibleWave(
    const WaveShape& shape, std::uint16_t validBits, std::uint16_t subFormat, const Bytes& samples)
{
    return riff("WAVE",
        { chunk("fmt ", extensibleFormat(shape, validBits, subFormat)), chunk("data", samples) });
}

struct UnusableCarrier {
    const char* name;
    // Makes the carrier at the path; returns an empty text, or why it cannot be made here.
    std::function<std::string(const std::string& path)> make;
    const char* message;
    const char* cause;
};

class CliMessages : public ScratchFolderTest,
                    public ::testing::WithParamInterface<UnusableCarrier> {
protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        writeWaveFile(pathOf("modulator.wav"), {}, modulatorSamples(3000, 1, 16));
    }
};

Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string writes(const std::string& path, const Bytes& bytes)
{
    writeFile(path, bytes);
    return "";
}

constexpr const char* carrierNotPcm
    = "The carrier is either not a valid PCM file, or it has a bit resolution highr than 16.";

} // namespace

// Each way a carrier can be unusable gets the job's sentence after the file's name, and the cause
// on the line below, after the program's name too.
TEST_P(CliMessages, NameTheFileAndTheCause)
{
    const UnusableCarrier& carrier = GetParam();
    const std::string path = pathOf("carrier.wav");
    const std::string problem = carrier.make(path);
    if (!problem.empty())
        GTEST_SKIP() << problem;
    const CliRun run = runCli({ path, pathOf("modulator.wav"), pathOf("out.wav") }, folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    EXPECT_EQ(run.standardError,
        "lumivox-cli: " + path + ": " + carrier.message + "\nlumivox-cli: " + carrier.cause + "\n");
}

INSTANTIATE_TEST_SUITE_P(Carriers, CliMessages,
    ::testing::Values(UnusableCarrier { "Missing", [](const std::string&) { return std::string(); },
                          carrierNotOpened, "No such file or directory" },
        UnusableCarrier { "Flac",
            [](const std::string& path) {
                return writes(path, textBytes(std::string("fLaC\0\0\0\x22", 8)));
            },
            carrierNotOpened, "a damaged FLAC file" },
        UnusableCarrier { "Text",
            [](const std::string& path) { return writes(path, textBytes("words, no sound\n")); },
            carrierNotOpened,
            "not a WAV, AIFF, FLAC, Ogg Vorbis, Opus or MP3 file that can be read" },
        UnusableCarrier { "Empty", [](const std::string& path) { return writes(path, {}); },
            carrierNotOpened, "an empty file" },
        UnusableCarrier { "Aac", [](const std::string& path) { return writes(path, mp4Bytes()); },
            carrierNotOpened, "AAC in an MP4 container; convert it to WAV or FLAC" },
        UnusableCarrier { "Folder",
            [](const std::string& path) {
                return ::mkdir(path.c_str(), 0700) == 0 ? "" : "no folder";
            },
            carrierNotOpened, "Is a directory" },
        UnusableCarrier { "Unreadable",
            [](const std::string& path) -> std::string {
                if (::geteuid() == 0)
                    return "root reads every file";
                writeWaveFile(path, {}, carrierSamples(100, 1, 16));
                return ::chmod(path.c_str(), 0) == 0 ? "" : "no chmod";
            },
            carrierNotOpened, "Permission denied" },
        // Gigabytes of zero bytes before the format read as millions of empty chunks.
        UnusableCarrier { "SparseFourGigabytes",
            [](const std::string& path) -> std::string {
                Bytes head = textBytes("RIFF");
                appendUint32(head, 0xFFFFFFF0);
                appendText(head, "WAVE");
                Bytes tail = chunk("fmt ", formatPayload({}));
                append(tail, chunk("data", Bytes(8)));
                const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                const bool written
                    = ::pwrite(fd, head.data(), head.size(), 0) == ssize_t(head.size())
                    && ::pwrite(fd, tail.data(), tail.size(), off_t { 4'000'000'000 })
                        == ssize_t(tail.size());
                ::close(fd);
                return written ? "" : "no sparse file here";
            },
            carrierNotOpened, "too many chunks before the audio" },
        UnusableCarrier { "ExtensibleUnknownEncoding",
            [](const std::string& path) {
                return writes(path, extensibleWave({ 1, 1, 44100, 16 }, 16, 0x1234, Bytes(40)));
            },
            carrierNotPcm, "compressed or unknown encoding (format tag 4660), not PCM" }),
    [](const ::testing::TestParamInfo<UnusableCarrier>& carrier) {
        return std::string(carrier.param.name);
    });

class CliExtensible : public ScratchFolderTest, public ::testing::WithParamInterface<WaveShape> { };

// Extensible PCM inputs, as many tools write them, vocode exactly as the same samples in plain PCM.
TEST_P(CliExtensible, InputsAreReadLikePlainPcm)
{
    const WaveShape shape = GetParam();
    const Bytes carrier = carrierSamples(5000, shape.channels, shape.bitsPerSample);
    const Bytes modulator = modulatorSamples(5000, shape.channels, shape.bitsPerSample);
    writeWaveFile(pathOf("plain-carrier.wav"), shape, carrier);
    writeWaveFile(pathOf("plain-modulator.wav"), shape, modulator);
    writeFile(pathOf("carrier.wav"), extensibleWave(shape, shape.bitsPerSample, 1, carrier));
    writeFile(pathOf("modulator.wav"), extensibleWave(shape, shape.bitsPerSample, 1, modulator));

    const CliRun plain = runCli(
        { pathOf("plain-carrier.wav"), pathOf("plain-modulator.wav"), pathOf("plain.wav") },
        folder);
    const CliRun extensible
        = runCli({ pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") }, folder);
    ASSERT_EQ(plain.end.exitStatus, 0) << plain.standardError;
    ASSERT_EQ(extensible.end.exitStatus, 0) << extensible.standardError;
    const auto expected = readOutputWave(pathOf("plain.wav"));
    const auto output = readOutputWave(pathOf("out.wav"));
    ASSERT_TRUE(expected.has_value() && output.has_value());
    EXPECT_EQ(output->data.size(), 5000u * shape.bitsPerSample / 8);
    EXPECT_EQ(output->data, expected->data);
}

INSTANTIATE_TEST_SUITE_P(Shapes, CliExtensible,
    ::testing::Values(WaveShape { 1, 1, 44100, 16 }, WaveShape { 1, 2, 44100, 16 },
        WaveShape { 1, 1, 22050, 8 }, WaveShape { 1, 2, 22050, 8 }));

namespace {

// An MP3 recording of a few seconds damaged half way: cut off there, or overwritten for a stretch.
struct DamagedMp3 {
    const char* name;
    std::size_t overwrittenBytes; // 0: cut off
    bool asCarrier;
};

class CliDamagedMp3 : public ScratchFolderTest,
                      public ::testing::WithParamInterface<DamagedMp3> { };

} // namespace

// The MP3 decoder's own notes ("Note: Illegal Audio-MPEG-Header", "Warning: Xing stream size
// off") never reach stderr: with --quiet it holds the failure and its cause alone.
TEST_P(CliDamagedMp3, FailsWithTheCauseAndNothingOfTheDecoders)
{
    const DamagedMp3& row = GetParam();
    const std::string damaged = pathOf("damaged.mp3");
    const std::string wave = pathOf("voice.wav");
    std::vector<double> values(4 * 44100);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = 0.4 * std::sin(0.05 * static_cast<double>(i)) * std::sin(0.0003 * i);
    SF_INFO info {};
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    info.channels = 1;
    info.samplerate = 44100;
    SNDFILE* file = sf_open(damaged.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const auto frames = static_cast<sf_count_t>(values.size());
    EXPECT_EQ(sf_writef_double(file, values.data(), frames), frames);
    ASSERT_EQ(sf_close(file), 0);
    Bytes bytes = readFile(damaged);
    const std::size_t half = bytes.size() / 2;
    if (row.overwrittenBytes == 0)
        bytes.resize(half);
    for (std::size_t i = half; i < half + row.overwrittenBytes && i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37);
    writeFile(damaged, bytes);
    writeWaveFile(wave, {}, modulatorSamples(8 * 44100, 1, 16));

    const CliRun run = runCli({ "--quiet", row.asCarrier ? damaged : wave,
                                  row.asCarrier ? wave : damaged, pathOf("out.wav") },
        folder);
    EXPECT_EQ(run.end.exitStatus, 1);
    const std::string first = "lumivox-cli: " + damaged + ": The "
        + (row.asCarrier ? "carrier" : "modulator") + " wave file could not be read.\n";
    EXPECT_TRUE(run.standardError.starts_with(first + "lumivox-cli: it breaks off after "))
        << run.standardError;
    EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 2)
        << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(Files, CliDamagedMp3,
    ::testing::Values(DamagedMp3 { "CutOffCarrier", 0, true },
        DamagedMp3 { "OverwrittenCarrier", 3000, true },
        DamagedMp3 { "OverwrittenModulator", 3000, false }),
    [](const ::testing::TestParamInfo<DamagedMp3>& row) { return std::string(row.param.name); });
