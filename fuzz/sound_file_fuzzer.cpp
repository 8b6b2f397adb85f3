// Feeds arbitrary bytes to the sound-file reader as a file: open, read every frame reduced to mono,
// and resample the start of it to another rate, as a job reads a modulator; then read it as a job
// reads a carrier, repeated for a modulator's length (played from memory or opened again for each
// pass, as the first byte chooses). Whatever is accepted must keep the reader's promises: a format
// within bounds, reads that fit their buffer, finite values in range, a failure that stays a
// failure; the carrier's blocks fill the modulator's length unless the carrier fails or is empty.

#include "carrier_supply.h"
#include "input_blocks.h"
#include "input_source.h"
#include "memory_file.h"
#include "wave/resampler.h"
#include "wave/sound_file.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace lumivox::fuzz;
using namespace lumivox::wave;
using lumivox::job::InputBlocks;
using lumivox::job::InputSource;

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

// A modulator of a fixed length: a slow sine at the carrier's rate.
class SineModulator final : public InputSource {
public:
    SineModulator(std::uint32_t rate, std::uint64_t frames)
        : InputSource(rate, OutputDepth::Int16)
        , total(frames)
    {
    }
    std::int64_t read(std::span<double> values) override
    {
        const auto count
            = static_cast<std::size_t>(std::min<std::uint64_t>(values.size(), total - position));
        for (std::size_t i = 0; i < count; ++i)
            values[i] = 0.5 * std::sin(0.01 * static_cast<double>(position + i));
        position += count;
        return static_cast<std::int64_t>(count);
    }
    std::uint64_t frameCount() const override { return total; }
    std::string failureCause() const override { return {}; }

private:
    std::uint64_t total;
    std::uint64_t position = 0;
};

// The file as a carrier repeated for modulatorFrames frames, block by block as a run reads it.
void readAsRepeatedCarrier(
    const std::string& path, std::size_t keptFrames, std::uint64_t modulatorFrames)
{
    using namespace lumivox::job;
    constexpr std::size_t readerBlock = InputBlocks::maxFrames / 2;
    auto reader = openSoundFile(path, readerBlock);
    if (reader == nullptr)
        return;
    const SoundFileFormat format = reader->format();
    auto carrier = std::make_unique<SoundInputSource>(std::move(reader), InputRole::Carrier);
    const bool empty = carrier->lengthKnown() && carrier->frameCount() == 0;
    RepeatingSource repeated(
        std::move(carrier),
        [&](std::string& cause) -> std::unique_ptr<InputSource> {
            SoundFileRefusal refusal = SoundFileRefusal::None;
            auto again = openSoundFile(path, readerBlock, &refusal, &cause);
            if (again == nullptr)
                return nullptr;
            check(again->format().sampleRate == format.sampleRate);
            return std::make_unique<SoundInputSource>(std::move(again), InputRole::Carrier);
        },
        seamFadeFrames(format.sampleRate), keptFrames);
    SineModulator modulator(format.sampleRate, modulatorFrames);
    InputBlocks blocks(repeated, modulator, static_cast<int>(readerBlock));
    std::vector<double> carrierValues(readerBlock);
    std::vector<double> modulatorValues(readerBlock);
    std::uint64_t framesGiven = 0;
    while (true) {
        int frameCount = 0;
        const InputBlocks::Result result = blocks.read(carrierValues, modulatorValues, frameCount);
        if (result == InputBlocks::Result::Block) {
            check(frameCount > 0 && static_cast<std::size_t>(frameCount) <= readerBlock);
            checkFrames(carrierValues, frameCount, HUGE_VAL);
            framesGiven += static_cast<std::uint64_t>(frameCount);
            continue;
        }
        check(result != InputBlocks::Result::ModulatorFailed);
        if (result == InputBlocks::Result::CarrierFailed) {
            check(!repeated.failureCause().empty());
        } else if (!empty && framesGiven > 0) {
            // Repeated, a carrier that gave anything lasts as long as the modulator.
            check(framesGiven == modulatorFrames);
        }
        check(framesGiven <= modulatorFrames);
        return;
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

    // As a carrier, repeated from memory or opened again for each pass: a few passes of a short
    // file, a modulator's length of at most a few blocks of a long one.
    const bool fromMemory = size > 0 && (data[0] & 1) != 0;
    const auto framesHeld = static_cast<std::uint64_t>(framesRead);
    if (fromMemory)
        readAsRepeatedCarrier(
            path, std::size_t { 1 } << 20, std::min<std::uint64_t>(3 * framesHeld + 5000, 20000));
    else // every pass opened again: a hundred passes at most
        readAsRepeatedCarrier(path, 0, std::min<std::uint64_t>(2 * framesHeld + 100, 8192));

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
