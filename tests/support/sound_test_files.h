#pragma once

// Recordings for the tests in every format libsndfile writes, from the same 16-bit samples, and
// the reader's whole output.

#include "sndfile_io.h"
#include "wave/sound_file.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <sndfile.h>
#include <string>
#include <vector>

namespace lumivox::test {

// A few seconds' worth of two tones and a slow sweep in 16-bit samples, deterministic.
inline std::vector<std::int16_t> testTones(std::size_t frameCount, double sampleRate)
{
    std::vector<std::int16_t> samples(frameCount);
    for (std::size_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double value = 9000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * t)
            + 6000.0 * std::sin(2.0 * std::numbers::pi * (1000.0 + 300.0 * t) * t);
        samples[i] = static_cast<std::int16_t>(std::lround(value));
    }
    return samples;
}

inline bool writeIntegerSoundFile(const std::string& path, int formatCode, int channels,
    int sampleRate, const std::vector<int>& interleaved)
{
    return writeSoundFile(path, formatCode, channels, sampleRate, interleaved);
}

inline bool writeDoubleSoundFile(const std::string& path, int formatCode, int channels,
    int sampleRate, const std::vector<double>& interleaved)
{
    return writeSoundFile(path, formatCode, channels, sampleRate, interleaved);
}

// Every frame readMonoFrames gives, in blocks of the reader's size; lastResult holds the result
// that ended the reading (0 at the end, -1 on a failure).
inline std::vector<double> readAllFrames(
    wave::SoundFileReader& reader, std::int64_t* lastResult = nullptr)
{
    std::vector<double> frames;
    std::vector<double> block(reader.blockFrames());
    std::int64_t result = 0;
    while ((result = wave::readMonoFrames(reader, block)) > 0)
        frames.insert(frames.end(), block.begin(), block.begin() + result);
    if (lastResult != nullptr)
        *lastResult = result;
    return frames;
}

} // namespace lumivox::test
