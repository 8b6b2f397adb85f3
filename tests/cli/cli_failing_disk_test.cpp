#include "child_process.h"
#include "scratch_folder.h"
#include "test_waves.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace lumivox::cli::test;

namespace {

// A small ext2 file system on a loop device that is shrunk under the mounted file system, so that
// reading the blocks past its new end fails with EIO, as a failing disk does. Needs root, loop
// devices and mount; each step's failure is kept as the reason to skip.
class ShrinkingDisk {
public:
    explicit ShrinkingDisk(const std::filesystem::path& folder)
        : image(folder / "disk.img")
        , mountPoint(folder / "disk")
    {
        if (::geteuid() != 0) {
            problem = "needs root to set up a loop device";
            return;
        }
        std::filesystem::create_directory(mountPoint);
        if (!shell("truncate -s 24M " + image.string())
            || !shell("mkfs.ext2 -q -F -b 1024 " + image.string())) {
            problem = "mkfs.ext2 is missing";
            return;
        }
        const std::string listing = (image.string() + ".loop");
        if (!shell("losetup -f --show " + image.string() + " > " + listing)) {
            problem = "no loop device could be set up";
            return;
        }
        const Bytes name = readFile(listing);
        device.assign(name.begin(), std::find(name.begin(), name.end(), '\n'));
        if (!shell("mount " + device + " " + mountPoint.string())) {
            problem = "the loop device could not be mounted";
            return;
        }
        mounted = true;
    }
    ~ShrinkingDisk()
    {
        if (mounted)
            static_cast<void>(shell("umount " + mountPoint.string()));
        if (!device.empty())
            static_cast<void>(shell("losetup -d " + device));
    }

    // Drops what the page cache holds of the files, then cuts the device to the given size.
    bool shrinkTo(const std::string& size)
    {
        return shell("umount " + mountPoint.string())
            && shell("mount " + device + " " + mountPoint.string())
            && shell("truncate -s " + size + " " + image.string()) && shell("losetup -c " + device);
    }

    std::filesystem::path image;
    std::filesystem::path mountPoint;
    std::string device;
    std::string problem;
    bool mounted = false;

private:
    static bool shell(const std::string& command)
    {
        return std::system((command + " 2>/dev/null").c_str()) == 0;
    }
};

} // namespace

class CliFailingDisk : public ScratchFolderTest { };

// The modulator lies on a disk that returns EIO part way: the run fails with exit 1 and the read
// message, and the output holds the start of the full result.
TEST_F(CliFailingDisk, AReadErrorFailsTheRunAndKeepsTheStartOfTheOutput)
{
    ShrinkingDisk disk(folder);
    if (!disk.problem.empty())
        GTEST_SKIP() << "no failing device to read from: " << disk.problem;

    const std::size_t frameCount = 5'000'000; // 10 MB of 16-bit samples
    const WaveShape mono16 {};
    writeWaveFile(pathOf("carrier.wav"), mono16, carrierSamples(frameCount, 1, 16));
    const auto modulatorBytes = waveFileBytes(mono16, modulatorSamples(frameCount, 1, 16));
    writeFile(pathOf("modulator.wav"), modulatorBytes);
    const std::string brokenModulator = (disk.mountPoint / "modulator.wav").string();
    writeFile(brokenModulator, modulatorBytes);
    ASSERT_TRUE(disk.shrinkTo("6M"));

    const CliRun complete = runCli(
        { pathOf("carrier.wav"), pathOf("modulator.wav"), pathOf("complete.wav") }, folder);
    ASSERT_EQ(complete.end.exitStatus, 0) << complete.standardError;
    const CliRun broken
        = runCli({ pathOf("carrier.wav"), brokenModulator, pathOf("output.wav") }, folder);

    EXPECT_EQ(broken.end.exitStatus, 1);
    EXPECT_NE(
        broken.standardError.find("The modulator wave file could not be read."), std::string::npos)
        << broken.standardError;
    std::string problem;
    const auto output = readOutputWave(pathOf("output.wav"), problem);
    ASSERT_TRUE(output.has_value()) << problem;
    const auto whole = readOutputWave(pathOf("complete.wav"));
    ASSERT_TRUE(whole.has_value());
    EXPECT_GT(output->data.size(), 0u);
    EXPECT_LT(output->data.size(), 6'000'000u);
    EXPECT_TRUE(std::equal(output->data.begin(), output->data.end(), whole->data.begin()));
}
