#pragma once

#include "test_wave_bytes.h"
#include "wave/wave_format.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace lumivox::wave::test {

using namespace lumivox::test;

// A PCM fmt payload of 16 bytes, padded with extra bytes (counting from 0x10) up to payloadBytes.
inline Bytes pcmFormatPayload(std::uint16_t channels, std::uint32_t sampleRate, std::uint16_t bits,
    std::size_t payloadBytes = 16)
{
    Bytes bytes = lumivox::test::formatPayload({ 1, channels, sampleRate, bits });
    while (bytes.size() < payloadBytes)
        bytes.push_back(static_cast<std::uint8_t>(bytes.size()));
    bytes.resize(payloadBytes);
    return bytes;
}

// The format record of a PCM file, as the writer takes it.
inline WaveFormat pcmWaveFormat(
    std::uint16_t channels, std::uint32_t sampleRate, std::uint16_t bits)
{
    WaveFormat format;
    format.formatTag = pcmFormatTag;
    format.channels = channels;
    format.sampleRate = sampleRate;
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = sampleRate * format.blockAlign;
    format.bitsPerSample = bits;
    return format;
}

inline Bytes countingBytes(std::size_t count, std::uint8_t first = 1)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

// A fresh folder per test, removed afterwards.
class WaveFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path()
            / ("lumivox-wave-" + std::string(info->test_suite_name()) + "-" + info->name() + "-"
                + std::to_string(::getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    std::string writeFile(const std::string& name, const Bytes& bytes) const
    {
        lumivox::test::writeFile(path(name), bytes);
        return path(name);
    }

private:
    std::filesystem::path folder_;
};

} // namespace lumivox::wave::test
