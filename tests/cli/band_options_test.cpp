#include "command_line.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

using lumivox::cli::CommandKind;

namespace {

struct BandOptionCase {
    std::vector<std::string_view> options;
    // For a run: the layout as layoutChoiceText writes it; for bad usage: part of the problem.
    std::string expected;
    bool runs;
};

void PrintTo(const BandOptionCase& c, std::ostream* out)
{
    for (const auto option : c.options)
        *out << option << ' ';
}

class BandOptions : public ::testing::TestWithParam<BandOptionCase> { };

} // namespace

// --bands and --band-range make the layout the job designs, or exit 2 saying what is wrong.
TEST_P(BandOptions, GiveTheLayoutAskedForOrSayWhatIsWrong)
{
    const BandOptionCase& c = GetParam();
    std::vector<std::string_view> arguments { "c.wav", "m.wav", "o.wav" };
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const auto command = lumivox::cli::parseCommandLine(arguments);
    if (c.runs) {
        ASSERT_EQ(command.kind, CommandKind::Run) << command.problem;
        EXPECT_EQ(lumivox::engine::layoutChoiceText(command.options.bands), c.expected);
        return;
    }
    ASSERT_EQ(command.kind, CommandKind::BadUsage);
    EXPECT_NE(command.problem.find(c.expected), std::string::npos) << command.problem;
}

INSTANTIATE_TEST_SUITE_P(Values, BandOptions,
    ::testing::Values(BandOptionCase { {}, "classic", true },
        BandOptionCase { { "--bands", "classic" }, "classic", true },
        BandOptionCase { { "--bands=speech" }, "speech", true },
        BandOptionCase { { "--bands", "4" }, "4", true },
        BandOptionCase { { "--bands=64" }, "64", true },
        BandOptionCase { { "--bands", "24", "--band-range", "100:8000" }, "24:100:8000", true },
        BandOptionCase { { "--band-range=100:8000", "--bands=48" }, "48:100:8000", true },
        BandOptionCase { { "--band-range", "80.5:7000.25" }, "32:80.5:7000.25", true },
        BandOptionCase {
            { "--bands", "3" }, "'3' is not a band layout: give a count from 4 to 64", false },
        BandOptionCase { { "--bands=65" }, "'65' is not a band layout", false },
        BandOptionCase { { "--bands=16:100:8000" }, "is not a band layout", false },
        BandOptionCase { { "--bands" }, "'--bands' needs a value", false },
        BandOptionCase { { "--band-range", "5000:100" },
            "'5000:100' is not a band range: give LOW:HIGH in Hz with LOW below HIGH", false },
        BandOptionCase { { "--band-range=100" }, "is not a band range", false },
        BandOptionCase { { "--band-range=-100:8000" }, "is not a band range", false },
        BandOptionCase { { "--band-range=5:8000" }, "starts below 10 Hz", false },
        BandOptionCase { { "--band-range=100:400000" },
            "'100:400000' reaches above 353280 Hz: bands reach 0.46 x the sample rate", false },
        BandOptionCase { { "--bands=speech", "--band-range=100:8000" },
            "--band-range goes with --bands N: the speech layout has its own range", false }));
