#pragma once

// Sound files written and read whole through libsndfile, independent of the program's own code.

#include <cstddef>
#include <optional>
#include <sndfile.h>
#include <string>
#include <type_traits>
#include <vector>

namespace lumivox::test {

// Writes interleaved samples given as left-justified 32-bit integers (an integer file stores
// their top bits exactly) or as doubles (float and lossy files). False when libsndfile refuses.
template <typename Sample>
inline bool writeSoundFile(const std::string& path, int formatCode, int channels, int sampleRate,
    const std::vector<Sample>& interleaved)
{
    SF_INFO info {};
    info.format = formatCode;
    info.channels = channels;
    info.samplerate = sampleRate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const auto frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    sf_count_t written = 0;
    if constexpr (std::is_same_v<Sample, int>)
        written = sf_writef_int(file, interleaved.data(), frames);
    else
        written = sf_writef_double(file, interleaved.data(), frames);
    return sf_close(file) == 0 && written == frames;
}

// A whole file as libsndfile reads it.
struct ReadBack {
    SF_INFO info {};
    std::vector<double> samples; // interleaved, full scale 1; a 16-bit sample exactly as n/32768

    // One channel's samples.
    [[nodiscard]] std::vector<double> channel(int index) const
    {
        std::vector<double> values;
        for (std::size_t i = static_cast<std::size_t>(index); i < samples.size();
             i += static_cast<std::size_t>(info.channels))
            values.push_back(samples[i]);
        return values;
    }
};

inline std::optional<ReadBack> readBack(const std::string& path)
{
    ReadBack file;
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &file.info);
    if (sound == nullptr)
        return std::nullopt;
    std::vector<double> block(4096 * static_cast<std::size_t>(file.info.channels));
    sf_count_t frames = 0;
    while ((frames = sf_readf_double(sound, block.data(), 4096)) > 0)
        file.samples.insert(
            file.samples.end(), block.begin(), block.begin() + frames * file.info.channels);
    sf_close(sound);
    return file;
}

} // namespace lumivox::test
