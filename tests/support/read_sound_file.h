#pragma once

// A whole sound file as libsndfile, a reader independent of the program's, reads it.

#include <cstddef>
#include <optional>
#include <sndfile.h>
#include <string>
#include <vector>

namespace lumivox::test {

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
