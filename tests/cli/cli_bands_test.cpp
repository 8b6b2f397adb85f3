#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace lumivox::cli::test;

namespace {

struct BandsRun {
    std::uint32_t rate; // of both inputs
    std::vector<std::string> options;
    int exitStatus;
    std::string said; // part of what stderr must hold; empty: nothing to look for
};

void PrintTo(const BandsRun& c, std::ostream* out)
{
    *out << c.rate << " Hz";
    for (const auto& option : c.options)
        *out << ' ' << option;
}

class CliBands : public ScratchFolderTest, public ::testing::WithParamInterface<BandsRun> { };

constexpr std::size_t frames = 4000;

} // namespace

// Bands the recording's rate holds are used; a range it cannot hold is refused once the inputs
// are read, with exit status 1 and no output left behind; a layout that is no layout is bad usage.
TEST_P(CliBands, RunOrRefuseBeforeWritingAnything)
{
    const BandsRun& c = GetParam();
    const WaveShape shape { 1, 1, c.rate, 16 };
    writeWaveFile(pathOf("carrier.wav"), shape, carrierSamples(frames, 1, 16));
    writeWaveFile(pathOf("modulator.wav"), shape, modulatorSamples(frames, 1, 16));
    std::vector<std::string> arguments { "--quiet" };
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    if (std::find(c.options.begin(), c.options.end(), "--carrier-sound") == c.options.end())
        arguments.push_back(pathOf("carrier.wav"));
    arguments.push_back(pathOf("modulator.wav"));
    arguments.push_back(pathOf("out.wav"));
    const CliRun run = runCli(arguments, folder);
    EXPECT_EQ(run.end.exitStatus, c.exitStatus) << run.standardError;
    EXPECT_NE(run.standardError.find(c.said), std::string::npos) << run.standardError;
    EXPECT_EQ(std::filesystem::exists(pathOf("out.wav")), c.exitStatus == 0);
    if (c.exitStatus == 0) {
        EXPECT_EQ(std::filesystem::file_size(pathOf("out.wav")), 44 + 2 + 2 * frames);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, CliBands,
    ::testing::Values(BandsRun { 22050, { "--band-range", "100:12000" }, 1,
                          "lumivox-cli: The band range does not fit the output's sample rate.\n"
                          "lumivox-cli: the bands reach up to 12000 Hz; at 22050 Hz they may "
                          "reach 10143 Hz at most (0.46 x the rate)\n" },
        BandsRun { 22050, { "--carrier-sound", "noise", "--bands=8", "--band-range=50:10200" }, 1,
            "at 22050 Hz they may reach 10143 Hz at most" },
        BandsRun { 22050, { "--bands", "3" }, 2, "'3' is not a band layout" },
        BandsRun { 22050, { "--band-range", "5000:100" }, 2, "'5000:100' is not a band range" },
        BandsRun { 22050, { "--band-range", "100:400000" }, 2, "reaches above 353280 Hz" },
        BandsRun { 22050, { "--bands", "24" }, 0, "" },
        BandsRun { 22050, { "--bands", "speech" }, 0, "" },
        BandsRun { 44100, { "--band-range", "100:12000" }, 0, "" },
        BandsRun { 96000, { "--bands", "64", "--band-range", "10:44160" }, 0, "" }));

// Asking for the classic layout by name changes nothing in the output.
TEST_F(CliBands, ClassicByNameIsTheDefaultSound)
{
    const WaveShape shape { 1, 1, 44100, 16 };
    writeWaveFile(pathOf("carrier.wav"), shape, carrierSamples(frames, 1, 16));
    writeWaveFile(pathOf("modulator.wav"), shape, modulatorSamples(frames, 1, 16));
    const auto vocode = [&](std::vector<std::string> options, const std::string& output) {
        options.insert(options.end(),
            { "--quiet", pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf(output) });
        return runCli(options, folder).end.exitStatus;
    };
    ASSERT_EQ(vocode({}, "default.wav"), 0);
    ASSERT_EQ(vocode({ "--bands", "classic" }, "classic.wav"), 0);
    ASSERT_EQ(vocode({ "--bands", "speech" }, "speech.wav"), 0);
    EXPECT_EQ(readFile(pathOf("classic.wav")), readFile(pathOf("default.wav")));
    EXPECT_NE(readFile(pathOf("speech.wav")), readFile(pathOf("default.wav")));
}
