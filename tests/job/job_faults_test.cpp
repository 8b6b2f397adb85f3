#include "engine/vocoder_engine.h"
#include "job_fixture.h"
#include "wave/wave_file.h"

#include <csignal>
#include <filesystem>
#include <new>
#include <sys/resource.h>

namespace lumivox::job::test {
namespace {

    class JobFaults : public JobTest { };

    const std::string outputNotOpened = "error The output wave file could not be opened.";
    const std::string outputNotWritten = "error The output wave file could not be written.";

    // Lowers the largest file this process may write, with the signal for it ignored, so writes
    // fail as on a full disk; both are put back afterwards.
    class FileSizeLimit {
    public:
        explicit FileSizeLimit(rlim_t bytes)
        {
            previousHandler = std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &previous);
            rlimit limited = previous;
            limited.rlim_cur = bytes;
            applied = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        }
        ~FileSizeLimit()
        {
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, previousHandler);
        }
        FileSizeLimit(const FileSizeLimit&) = delete;
        FileSizeLimit& operator=(const FileSizeLimit&) = delete;

        bool applied = false;

    private:
        rlimit previous {};
        void (*previousHandler)(int) = SIG_DFL;
    };

} // namespace

TEST_F(JobFaults, AnOddSixteenBitBlockWritesOnlyWholeSamples)
{
    // 2001 bytes of carrier: its last byte is half a sample and is never computed.
    std::vector<std::uint8_t> carrierBytes = int16Bytes(testSignal16(1000, 1));
    carrierBytes.push_back(0x55);
    writeCarrier({}, carrierBytes);
    writeModulator({}, int16Bytes(testSignal16(3000, 2)));
    ASSERT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 2000u);
    EXPECT_EQ(std::filesystem::file_size(settings.outputPath), 46u + 2000u);
}

TEST_F(JobFaults, AnOddSixteenBitPreviewBlockPlaysWholeSamples)
{
    std::vector<std::uint8_t> carrierBytes = int16Bytes(testSignal16(1000, 1));
    carrierBytes.push_back(0x55);
    writeCarrier({}, carrierBytes);
    writeModulator({}, int16Bytes(testSignal16(3000, 2)));
    ASSERT_EQ(run(JobMode::Preview), JobOutcome::Finished);
    EXPECT_EQ(sink.played.size(), 2000u);
}

TEST_F(JobFaults, AFailedWriteStopsTheRunAndIsReported)
{
    writeMono16(40000, 40000);
    // The whole output first, to compare with what the failed run leaves.
    const auto complete = completeOutput();
    ASSERT_TRUE(complete.has_value());
    ASSERT_EQ(complete->data.size(), 80000u);

    {
        FileSizeLimit limit(10000);
        ASSERT_TRUE(limit.applied);
        EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    }
    const auto controls = port.controlEvents();
    EXPECT_EQ(std::count(controls.begin(), controls.end(), outputNotWritten), 1);
    // The run stopped early: the position never got near the end.
    const auto positions = port.eventsStartingWith("progress");
    EXPECT_LT(positions.size(), 6u);
    EXPECT_EQ(controls.back(), "released Vocode");
    EXPECT_TRUE(allFlagsClear());

    // The output is finished as a shorter recording: whole samples, the start of the complete one.
    const auto fileBytes = std::filesystem::file_size(settings.outputPath);
    EXPECT_LE(fileBytes, 10000u);
    wave::WaveFormat format;
    std::uint32_t dataLength = 0;
    auto reader = wave::openWaveReader(settings.outputPath, &format, &dataLength);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(format.blockAlign, 2);
    EXPECT_GT(dataLength, 0u);
    EXPECT_EQ(dataLength % 2, 0u);
    EXPECT_EQ(46u + dataLength, fileBytes);
    std::vector<std::uint8_t> data(80000);
    ASSERT_EQ(wave::readWave(*reader, data.data(), data.size()), dataLength);
    data.resize(dataLength);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), complete->data.begin()));
    EXPECT_TRUE(wave::closeWave(std::move(reader)));
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output->riffSize, fileBytes - 8);
}

TEST_F(JobFaults, AnOutputNamingTheCarrierThroughALinkIsRefused)
{
    writeMono16(500, 500);
    const auto carrierBefore = readFile(settings.carrierPath);
    const auto link = folder / "link.wav";
    std::filesystem::create_symlink(settings.carrierPath, link);
    settings.outputPath = link.string();
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(), std::vector<std::string> { outputNotOpened });
    EXPECT_EQ(readFile(settings.carrierPath), carrierBefore);
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobFaults, AnOutputNamingTheModulatorInAnotherSpellingIsRefused)
{
    writeMono16(500, 500);
    const auto modulatorBefore = readFile(settings.modulatorPath);
    std::filesystem::create_directory(folder / "sub");
    settings.outputPath = (folder / "sub" / ".." / "." / "modulator.wav").string();
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(), std::vector<std::string> { outputNotOpened });
    EXPECT_EQ(readFile(settings.modulatorPath), modulatorBefore);
}

TEST_F(JobFaults, AnOutputHardLinkedToTheModulatorIsRefused)
{
    writeMono16(500, 500);
    const auto modulatorBefore = readFile(settings.modulatorPath);
    std::filesystem::create_hard_link(settings.modulatorPath, settings.outputPath);
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(), std::vector<std::string> { outputNotOpened });
    EXPECT_EQ(readFile(settings.modulatorPath), modulatorBefore);
}

TEST_F(JobFaults, PathsLongerThan259CharactersAreUsedWhole)
{
    std::filesystem::path deep = folder.path;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    settings.carrierPath = (deep / "carrier.wav").string();
    settings.modulatorPath = (deep / "modulator.wav").string();
    settings.outputPath = (deep / "output.wav").string();
    ASSERT_GT(settings.outputPath.size(), 259u);
    writeMono16(700, 700);
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Finished);
    EXPECT_EQ(readOutputWave(settings.outputPath)->data.size(), 1400u);
}

TEST_F(JobFaults, RunningOutOfMemoryBuildingTheEngineIsReported)
{
    writeMono16(500, 500);
    environment.makeEngine
        = []() -> std::unique_ptr<engine::VocoderEngine> { throw std::bad_alloc(); };
    EXPECT_EQ(run(JobMode::Preview), JobOutcome::Failed);
    EXPECT_EQ(port.allEvents(),
        std::vector<std::string> { "error There is not enough memory to vocode these files." });
    EXPECT_EQ(sink.calls, (std::vector<std::string> { "open", "finish abort", "close" }));
    EXPECT_TRUE(allFlagsClear());
}

TEST_F(JobFaults, RunningOutOfMemoryMidRunReturnsTheWindowToIdle)
{
    writeMono16(20000, 20000);
    port.onProgress = [](int percent) {
        if (percent > 0)
            throw std::bad_alloc();
    };
    EXPECT_EQ(run(JobMode::Vocode), JobOutcome::Failed);
    const auto controls = port.controlEvents();
    // The box comes once the controls are back.
    EXPECT_EQ(controls,
        (std::vector<std::string> { "started Vocode", "released Vocode",
            "error There is not enough memory to vocode these files." }));
    EXPECT_TRUE(allFlagsClear());
    // The output is closed as a complete file holding nothing past the failure.
    const auto output = readOutputWave(settings.outputPath);
    ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(output->data.empty());
}

} // namespace lumivox::job::test
