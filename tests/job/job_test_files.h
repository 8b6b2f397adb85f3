#pragma once

// Sample bytes and signals for the job's tests, on top of the shared wave file helpers.

#include "test_wave_bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace lumivox::job::test {

using namespace lumivox::test;

inline std::vector<std::uint8_t> int16Bytes(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t sample : samples)
        appendUint16(bytes, static_cast<std::uint16_t>(sample));
    return bytes;
}

inline std::vector<std::int16_t> int16Samples(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return samples;
}

// A deterministic, busy signal: a few partials and a little pseudo-random noise.
inline std::vector<std::int16_t> testSignal16(std::size_t sampleCount, unsigned seed)
{
    std::vector<std::int16_t> samples(sampleCount);
    std::uint32_t noise = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < sampleCount; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i);
        const double value = 9000.0 * std::sin(t * (0.031 + 0.007 * seed))
            + 5000.0 * std::sin(t * 0.177) + static_cast<double>(noise >> 20) - 2048.0;
        samples[i] = static_cast<std::int16_t>(value);
    }
    return samples;
}

inline std::vector<std::uint8_t> testSignal8(std::size_t sampleCount, unsigned seed)
{
    std::vector<std::uint8_t> samples(sampleCount);
    for (std::size_t i = 0; i < sampleCount; ++i) {
        const double t = static_cast<double>(i);
        samples[i] = static_cast<std::uint8_t>(
            127.0 + 90.0 * std::sin(t * (0.05 + 0.01 * seed)) + 30.0 * std::sin(t * 0.31));
    }
    return samples;
}

// A fresh folder per test, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "lumivox-job-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path / name; }

    std::filesystem::path path;
};

} // namespace lumivox::job::test
