#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <bit>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace lumivox::cli::test;

namespace {

constexpr std::uint32_t rate = 8000;
const WaveShape mono16 { 1, 1, rate, 16 };

Bytes carrierSeconds(double seconds)
{
    return carrierSamples(static_cast<std::size_t>(seconds * rate), 1, 16);
}

Bytes modulatorSeconds(double seconds)
{
    return modulatorSamples(static_cast<std::size_t>(seconds * rate), 1, 16);
}

// A square wave near full scale, as 16-bit samples or as 32-bit floats.
Bytes loudSquare(std::size_t frameCount, bool asFloat)
{
    Bytes bytes;
    for (std::size_t i = 0; i < frameCount; ++i) {
        const bool high = (i / 40) % 2 != 0;
        if (asFloat)
            appendUint32(bytes, std::bit_cast<std::uint32_t>(high ? 0.98f : -0.98f));
        else
            appendUint16(bytes, static_cast<std::uint16_t>(high ? 32000 : -32000));
    }
    return bytes;
}

// A wave file whose header declares more audio than the file holds: cut off by someone, or
// written to a pipe (the header's sizes never filled in).
Bytes declaringMore(const WaveShape& shape, const Bytes& samples, std::uint32_t declaredBytes)
{
    Bytes file = waveFileBytes(shape, samples);
    const auto put = [&](std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(4, declaredBytes + 36);
    put(40, declaredBytes);
    return file;
}

struct EndLinesCase {
    const char* name;
    std::function<void(const std::filesystem::path& folder)> writeInputs;
    std::vector<std::string> options;
    // Each must begin a line on stderr (or, starting with a space, stand anywhere in one); "{out}"
    // stands for the output's path.
    std::vector<std::string> linesSaid;
    std::vector<std::string> notSaid; // no line may hold any of these
};

class CliEndLines : public ScratchFolderTest,
                    public ::testing::WithParamInterface<EndLinesCase> { };

} // namespace

// The lines after a run tell which input ended first and how much of the other was left out from
// what the files hold, whatever their headers declare.
TEST_P(CliEndLines, TellWhatTheFilesHeld)
{
    const EndLinesCase& c = GetParam();
    c.writeInputs(folder);
    std::vector<std::string> arguments = c.options;
    arguments.insert(
        arguments.end(), { pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("out.wav") });
    const CliRun run = runCli(arguments, folder);
    ASSERT_EQ(run.end.exitStatus, 0) << run.standardError;
    for (std::string line : c.linesSaid) {
        if (const auto out = line.find("{out}"); out != std::string::npos)
            line.replace(out, 5, pathOf("out.wav"));
        const std::string wanted = line.starts_with(' ') ? line : "lumivox-cli: " + line;
        EXPECT_NE(run.standardError.find(wanted), std::string::npos)
            << "missing: " << line << "\nin:\n"
            << run.standardError;
    }
    for (const std::string& text : c.notSaid)
        EXPECT_EQ(run.standardError.find(text), std::string::npos) << run.standardError;
}

INSTANTIATE_TEST_SUITE_P(Inputs, CliEndLines,
    ::testing::Values(
        EndLinesCase { "CarrierCutShort",
            [](const std::filesystem::path& folder) {
                const Bytes whole = carrierSeconds(20.0);
                writeFile(folder / "carrier.wav",
                    declaringMore(mono16, Bytes(whole.begin(), whole.begin() + 2 * 20000),
                        static_cast<std::uint32_t>(whole.size())));
                writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(9.0));
            },
            {},
            { "the carrier's data ended at 2.5 s of 20.0 s declared", "2.50 s written to {out}",
                "the carrier ended first; 6.50 s of the modulator was left out",
                "--repeat-carrier plays the carrier again from its start to the modulator's "
                "length" },
            { "the modulator ended first" } },
        EndLinesCase { "PipedCarrier",
            [](const std::filesystem::path& folder) {
                writeFile(
                    folder / "carrier.wav", declaringMore(mono16, carrierSeconds(5.0), 0x7ffff000));
                writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(3.0));
            },
            {}, { "the modulator ended first; 2.00 s of the carrier was left out" },
            { "data ended", "--repeat-carrier" } },
        EndLinesCase { "ShorterCarrier",
            [](const std::filesystem::path& folder) {
                writeWaveFile(folder / "carrier.wav", mono16, carrierSeconds(2.0));
                writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(3.25));
            },
            {},
            { "the carrier ended first; 1.25 s of the modulator was left out",
                "--repeat-carrier plays the carrier again from its start to the modulator's "
                "length" },
            {} },
        EndLinesCase { "ShorterCarrierRepeated",
            [](const std::filesystem::path& folder) {
                writeWaveFile(folder / "carrier.wav", mono16, carrierSeconds(2.0));
                writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(3.25));
            },
            { "--repeat-carrier" }, { "3.25 s written to {out}, peak" },
            { "ended first", "--repeat-carrier plays" } },
        EndLinesCase { "LongerCarrier",
            [](const std::filesystem::path& folder) {
                writeWaveFile(folder / "carrier.wav", mono16, carrierSeconds(4.0));
                writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(1.5));
            },
            {}, { "the modulator ended first; 2.50 s of the carrier was left out" },
            { "--repeat-carrier" } },
        EndLinesCase { "FloatBeyondFullScale",
            [](const std::filesystem::path& folder) {
                writeWaveFile(
                    folder / "carrier.wav", WaveShape { 3, 1, rate, 32 }, loudSquare(20000, true));
                writeWaveFile(folder / "modulator.wav", mono16, loudSquare(20000, false));
            },
            { "--gain", "100" },
            { "2.50 s written to {out}, peak +",
                " samples beyond full scale (float, not clamped); --gain " },
            { " clipped", "peak 0.0 dBFS" } }),
    [](const ::testing::TestParamInfo<EndLinesCase>& param) { return param.param.name; });

namespace {

class CliShownNames : public ScratchFolderTest { };

} // namespace

// A name holding an escape sequence or a newline reaches the terminal escaped, in a failure's
// line as in the line after a finished run: nothing in it acts on the terminal.
TEST_F(CliShownNames, AreEscapedInEveryLine)
{
    writeWaveFile(folder / "carrier.wav", mono16, carrierSeconds(1.0));
    writeWaveFile(folder / "modulator.wav", mono16, modulatorSeconds(1.0));
    const std::string oddName = "a\x1b[31mred\nline.wav";
    const std::string shown = "a\\033[31mred\\nline.wav";

    const CliRun refused
        = runCli({ pathOf(oddName), pathOf("modulator.wav"), pathOf("o.wav") }, folder);
    EXPECT_EQ(refused.end.exitStatus, 1);
    EXPECT_NE(refused.standardError.find(pathOf(shown) + ": The carrier wave file could not be"),
        std::string::npos)
        << refused.standardError;

    const CliRun written
        = runCli({ pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf(oddName) }, folder);
    EXPECT_EQ(written.end.exitStatus, 0);
    EXPECT_NE(
        written.standardError.find("written to " + pathOf(shown) + ", peak"), std::string::npos)
        << written.standardError;
    for (const CliRun* run : { &refused, &written }) {
        EXPECT_EQ(run->standardError.find('\x1b'), std::string::npos);
        // Every line begins with the program's name: no name began a line of its own.
        std::size_t start = 0;
        while (start < run->standardError.size()) {
            EXPECT_EQ(run->standardError.compare(start, 13, "lumivox-cli: "), 0)
                << run->standardError;
            start = run->standardError.find('\n', start) + 1;
            if (start == 0)
                break;
        }
    }
}
