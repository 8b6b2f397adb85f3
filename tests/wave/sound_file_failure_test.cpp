#include "sound_test_files.h"
#include "wave/format_causes.h"
#include "wave/resampler.h"
#include "wave_test_files.h"

#include <filesystem>

namespace lumivox::wave::test {
namespace {

    constexpr std::size_t blockFrames = 2048;

    // A file that is refused when it is opened, and why.
    struct RefusalCase {
        const char* label;
        Bytes bytes; // written as the file unless the label is "Missing"
        SoundFileRefusal refusal;
        const char* cause;
    };

    void PrintTo(const RefusalCase& row, std::ostream* out) { *out << row.label; }

    // A box of an MP4 file: its big-endian size, its type and its contents.
    Bytes mp4Box(const char* type, const Bytes& contents)
    {
        Bytes box;
        const auto size = static_cast<std::uint32_t>(8 + contents.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            box.push_back(static_cast<std::uint8_t>(size >> shift));
        appendText(box, type);
        append(box, contents);
        return box;
    }

    // An MP4 file whose one track's sample entry has the given format, with its movie box after
    // the media data as a recorder leaves it.
    Bytes mp4Holding(const char* format)
    {
        Bytes entry(28, 0); // the sample entry's fields after its size and format
        Bytes stsd { 0, 0, 0, 0, 0, 0, 0, 1 }; // version and flags, one entry
        append(stsd, mp4Box(format, entry));
        const Bytes moov = mp4Box("moov",
            mp4Box("trak", mp4Box("mdia", mp4Box("minf", mp4Box("stbl", mp4Box("stsd", stsd))))));
        Bytes brands;
        appendText(brands, "M4A ");
        append(brands, Bytes(4, 0));
        appendText(brands, "M4A isommp42");
        Bytes file = mp4Box("ftyp", brands);
        append(file, mp4Box("mdat", Bytes(500, 0x5A)));
        append(file, moov);
        return file;
    }

    std::vector<RefusalCase> refusalCases()
    {
        Bytes text;
        appendText(text, "These are the notes for the session, not a recording.\n");
        Bytes adts { 0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC };
        append(adts, Bytes(200, 0x21));
        Bytes wavPack;
        appendText(wavPack, "wvpk");
        append(wavPack, Bytes(60, 0));
        Bytes zeroRate = waveFileBytes({ 1, 1, 0, 24 }, Bytes(300, 0x10));
        return {
            { "Missing", {}, SoundFileRefusal::NotOpened, "No such file or directory" },
            { "Empty", {}, SoundFileRefusal::NotOpened, "an empty file" },
            { "Mp4", mp4Bytes(), SoundFileRefusal::NotOpened,
                "AAC in an MP4 container; convert it to WAV or FLAC" },
            // An MP4 file is named by the codec its sample description names.
            { "Mp4WithAac", mp4Holding("mp4a"), SoundFileRefusal::NotOpened,
                "AAC in an MP4 container; convert it to WAV or FLAC" },
            { "Mp4WithAppleLossless", mp4Holding("alac"), SoundFileRefusal::NotOpened,
                "Apple Lossless in an MP4 container; convert it to WAV or FLAC" },
            { "Mp4WithFlac", mp4Holding("fLaC"), SoundFileRefusal::NotOpened,
                "FLAC in an MP4 container; convert it to WAV or FLAC" },
            { "Mp4WithOpus", mp4Holding("Opus"), SoundFileRefusal::NotOpened,
                "Opus in an MP4 container; convert it to WAV or FLAC" },
            { "Adts", adts, SoundFileRefusal::NotOpened, "raw AAC; convert it to WAV or FLAC" },
            { "WavPack", wavPack, SoundFileRefusal::NotOpened,
                "WavPack; convert it to WAV or FLAC" },
            { "Text", text, SoundFileRefusal::NotOpened,
                "not a WAV, AIFF, FLAC, Ogg Vorbis, Opus or MP3 file that can be read" },
            { "ZeroRate", zeroRate, SoundFileRefusal::NotOpened,
                "a WAV file whose header cannot be read" },
        };
    }

    class SoundFileRefusals : public WaveFileTest,
                              public ::testing::WithParamInterface<RefusalCase> { };

    TEST_P(SoundFileRefusals, NameTheCause)
    {
        const RefusalCase& row = GetParam();
        std::string file = path("input");
        if (std::string(row.label) != "Missing")
            writeFile(file, row.bytes);
        SoundFileRefusal refusal = SoundFileRefusal::None;
        std::string cause;
        EXPECT_EQ(openSoundFile(file, blockFrames, &refusal, &cause), nullptr);
        EXPECT_EQ(refusal, row.refusal);
        EXPECT_EQ(cause, row.cause);
    }

    INSTANTIATE_TEST_SUITE_P(Files, SoundFileRefusals, ::testing::ValuesIn(refusalCases()),
        [](const auto& param) { return std::string(param.param.label); });

    TEST_F(WaveFileTest, MoreThanEightChannelsAreRefused)
    {
        const std::string file = path("nine.w64");
        ASSERT_TRUE(writeIntegerSoundFile(
            file, SF_FORMAT_W64 | SF_FORMAT_PCM_16, 9, 44100, std::vector<int>(9 * 100, 0)));
        SoundFileRefusal refusal = SoundFileRefusal::None;
        std::string cause;
        EXPECT_EQ(openSoundFile(file, blockFrames, &refusal, &cause), nullptr);
        EXPECT_EQ(refusal, SoundFileRefusal::Channels);
        EXPECT_EQ(cause, "9 channels");
    }

    // A recording damaged after its start: cut off half way, or with a stretch of its middle
    // overwritten. (libmpg123 skips a short stretch of damage, and the MP3 plays on after a gap;
    // what it cannot get past must be noticed.)
    struct DamageCase {
        const char* label;
        int formatCode;
        int sampleRate;
        std::size_t bytesOverwritten; // 0: cut off
    };

    void PrintTo(const DamageCase& row, std::ostream* out) { *out << row.label; }

    constexpr DamageCase damageCases[] = {
        { "FlacCutOff", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 0 },
        { "FlacOverwritten", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 1000 },
        { "VorbisCutOff", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 0 },
        { "VorbisOverwritten", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1000 },
        { "OpusCutOff", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 0 },
        { "OpusOverwritten", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1000 },
        { "Mp3Overwritten", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 4000 },
    };

    class DamagedRecordings : public WaveFileTest,
                              public ::testing::WithParamInterface<DamageCase> { };

    // The frames before the damage are given, then the read fails with the cause; it is never
    // taken for the end of a shorter recording.
    TEST_P(DamagedRecordings, GiveTheirGoodFramesThenFail)
    {
        const DamageCase& row = GetParam();
        const auto frameCount = static_cast<std::size_t>(row.sampleRate) * 10;
        const auto tone = testTones(frameCount, row.sampleRate);
        std::vector<double> samples(tone.begin(), tone.end());
        for (double& sample : samples)
            sample /= 32768.0;
        const std::string file = path("damaged");
        ASSERT_TRUE(writeDoubleSoundFile(file, row.formatCode, 1, row.sampleRate, samples));

        Bytes bytes = readFile(file);
        const std::size_t half = bytes.size() / 2;
        if (row.bytesOverwritten == 0)
            bytes.resize(half);
        for (std::size_t i = half; i < half + row.bytesOverwritten && i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 37);
        writeFile(file, bytes);

        std::string cause;
        auto reader = openSoundFile(file, blockFrames, nullptr, &cause);
        ASSERT_NE(reader, nullptr) << cause;
        std::int64_t lastResult = 0;
        const std::vector<double> frames = readAllFrames(*reader, &lastResult);
        EXPECT_EQ(lastResult, -1);
        EXPECT_GT(frames.size(), frameCount / 8);
        EXPECT_LT(frames.size(), frameCount);
        EXPECT_TRUE(reader->failureCause().starts_with("it breaks off after "))
            << reader->failureCause();
        std::vector<double> block(blockFrames);
        EXPECT_EQ(readMonoFrames(*reader, block), -1) << "every later read fails";
    }

    INSTANTIATE_TEST_SUITE_P(Files, DamagedRecordings, ::testing::ValuesIn(damageCases),
        [](const auto& param) { return std::string(param.param.label); });

    TEST(Resampler, GivesWhatItMadeBeforeItsSourceFailedThenFails)
    {
        int blocksGiven = 0;
        FrameSource source = [&](std::span<double> destination) -> std::int64_t {
            if (blocksGiven == 10)
                return -1;
            ++blocksGiven;
            std::fill(destination.begin(), destination.end(), 1000.0);
            return static_cast<std::int64_t>(destination.size());
        };
        auto resampler = Resampler::create(22050.0, 44100.0, 1024, source);
        ASSERT_NE(resampler, nullptr);
        std::vector<double> block(512);
        std::size_t framesMade = 0;
        std::int64_t result = 0;
        while ((result = resampler->read(block)) > 0)
            framesMade += static_cast<std::size_t>(result);
        EXPECT_EQ(result, -1);
        EXPECT_GT(framesMade, 10u * 1024u); // most of 20480 frames; the filter holds back the rest
        EXPECT_LE(framesMade, 2u * 10u * 1024u);
        EXPECT_EQ(resampler->read(block), -1);
    }

} // namespace
} // namespace lumivox::wave::test
