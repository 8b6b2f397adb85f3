// Feeds arbitrary bytes to the wave reader as a file: open, then read every sample byte. Whatever
// is accepted is also written out again and read back, which must give the same format and samples.

#include "memory_file.h"
#include "wave/wave_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace lumivox::fuzz;
using namespace lumivox::wave;

// Every sample byte the reader gives, checking each result on the way.
std::vector<std::uint8_t> readAll(WaveReader& reader)
{
    std::vector<std::uint8_t> samples;
    std::uint8_t block[4096];
    for (;;) {
        const std::int64_t bytesRead = readWave(reader, block, sizeof block);
        check(bytesRead >= 0 && static_cast<std::size_t>(bytesRead) <= sizeof block);
        if (bytesRead == 0)
            return samples;
        samples.insert(samples.end(), block, block + bytesRead);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int inputFile = memoryFile("lumivox-fuzz-input");
    static const int outputFile = memoryFile("lumivox-fuzz-output");
    check(replaceContents(inputFile, data, size));

    WaveFormat format;
    std::uint32_t dataLength = 0;
    auto reader = openWaveReader(pathOf(inputFile), &format, &dataLength);
    if (reader == nullptr)
        return 0;

    // What the open promised must hold whatever the file says.
    const auto formatBytes = reader->formatBytes();
    check(formatBytes.size() >= minimalFormatBytes && formatBytes.size() <= largestFormatBytes);
    check(dataLength == reader->dataLength());
    // Judging the encoding reads only within the record, and PCM is the tag it names.
    if (isPcmFormat(formatBytes))
        check(effectiveFormatTag(formatBytes) == pcmFormatTag);
    const std::vector<std::uint8_t> samples = readAll(*reader);
    // Reads stop at the data chunk's declared end and cannot return more than the file holds.
    check(samples.size() <= dataLength && samples.size() <= size);

    // The record written is the one read, its extra bytes kept when the chunk holds them all.
    WaveFormat written = format;
    std::span<const std::uint8_t> extraBytes;
    if (formatBytes.size() == formatRecordBytes + format.extraSize)
        extraBytes = formatBytes.subspan(formatRecordBytes);
    else
        written.extraSize = 0;
    const std::vector<std::uint8_t> extraCopy(extraBytes.begin(), extraBytes.end());
    check(closeWave(std::move(reader)));

    auto writer = createWaveWriter(pathOf(outputFile), written, extraCopy);
    check(writer != nullptr);
    check(writeWave(*writer, samples.data(), samples.size())
        == static_cast<std::int64_t>(samples.size()));
    check(closeWave(std::move(writer)));

    WaveFormat readBack;
    std::uint32_t readBackLength = 0;
    auto again = openWaveReader(pathOf(outputFile), &readBack, &readBackLength);
    check(again != nullptr);
    const auto expectedRecord = encodeWaveFormat(written);
    const auto againBytes = again->formatBytes();
    check(againBytes.size() == formatRecordBytes + extraCopy.size());
    check(std::equal(expectedRecord.begin(), expectedRecord.end(), againBytes.begin()));
    check(std::equal(extraCopy.begin(), extraCopy.end(), againBytes.begin() + formatRecordBytes));
    check(readBackLength == samples.size());
    check(readAll(*again) == samples);
    check(closeWave(std::move(again)));
    return 0;
}
