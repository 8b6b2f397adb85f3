// Feeds arbitrary bytes to the sound-file reader as a file: open, read every frame reduced to mono,
// and resample the start of it to another rate, as a job reads a modulator. Whatever is accepted
// must keep the reader's promises: a format within bounds, reads that fit their buffer, finite
// values in range, a failure that stays a failure.

#include "memory_file.h"
#include "wave/resampler.h"
#include "wave/sound_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace lumivox::fuzz;
using namespace lumivox::wave;

constexpr std::size_t blockFrames = 512;
// Compressed formats can describe hours in a few bytes; the fuzzer reads no more than this.
constexpr std::int64_t mostFramesRead = 1 << 20;
constexpr std::int64_t mostFramesResampled = 1 << 14;

// Every value is finite, and no larger than the bound: an integer file's mean of channels stays
// within full scale, while float and decoded files may go beyond it.
void checkFrames(const std::vector<double>& block, std::int64_t count, double bound)
{
    for (std::int64_t i = 0; i < count; ++i) {
        const double value = block[static_cast<std::size_t>(i)];
        check(std::isfinite(value) && std::abs(value) <= bound);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int inputFile = memoryFile("lumivox-fuzz-sound");
    check(replaceContents(inputFile, data, size));
    const std::string path = "/proc/self/fd/" + std::to_string(inputFile);

    SoundFileRefusal refusal = SoundFileRefusal::None;
    std::string cause;
    auto reader = openSoundFile(path, blockFrames, &refusal, &cause);
    if (reader == nullptr) {
        check(refusal != SoundFileRefusal::None && !cause.empty());
        return 0;
    }
    check(refusal == SoundFileRefusal::None && cause.empty());
    const SoundFileFormat& format = reader->format();
    check(format.channels >= 1 && format.channels <= mostChannels);
    check(format.sampleRate > 0);
    check(!format.name.empty());

    const double bound
        = format.encoding == SampleEncoding::Integer ? reader->unitsPerFullScale() : HUGE_VAL;
    std::vector<double> block(blockFrames + 7);
    std::int64_t framesRead = 0;
    std::int64_t result = 0;
    while (framesRead < mostFramesRead && (result = readMonoFrames(*reader, block)) > 0) {
        check(result <= static_cast<std::int64_t>(blockFrames));
        checkFrames(block, result, bound);
        framesRead += result;
    }
    if (result < 0) {
        check(!reader->failureCause().empty());
        check(readMonoFrames(*reader, block) == -1);
    }

    // The start again, through the resampler to a rate of its own.
    auto again = openSoundFile(path, blockFrames);
    if (again == nullptr)
        return 0;
    const double outputRate = format.sampleRate == 44100 ? 48000.0 : 44100.0;
    std::int64_t framesGiven = 0;
    auto resampler = Resampler::create(static_cast<double>(format.sampleRate), outputRate,
        blockFrames, [&](std::span<double> destination) -> std::int64_t {
            if (framesGiven >= mostFramesResampled)
                return 0;
            const std::int64_t count = readMonoFrames(*again, destination);
            framesGiven += count > 0 ? count : 0;
            return count;
        });
    if (resampler == nullptr)
        return 0;
    std::vector<double> output(1000);
    for (int i = 0; i < 64 && (result = resampler->read(output)) > 0; ++i) {
        check(result <= static_cast<std::int64_t>(output.size()));
        checkFrames(output, result, HUGE_VAL);
    }
    return 0;
}
