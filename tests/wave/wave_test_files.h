#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumivox::wave::test {

using Bytes = std::vector<std::uint8_t>;

// Builds RIFF files byte by byte, independently of the code under test.

inline void appendUint16(Bytes& bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void appendUint32(Bytes& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void appendText(Bytes& bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

inline void append(Bytes& bytes, const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

// A chunk with its header, its payload and a pad byte after an odd payload. The declared size is
// the payload's unless one is given.
inline Bytes chunk(const std::string& id, const Bytes& payload, std::int64_t declaredSize = -1)
{
    Bytes bytes;
    appendText(bytes, id);
    appendUint32(bytes,
        declaredSize >= 0 ? static_cast<std::uint32_t>(declaredSize)
                          : static_cast<std::uint32_t>(payload.size()));
    append(bytes, payload);
    if (payload.size() % 2 == 1)
        bytes.push_back(0);
    return bytes;
}

// A RIFF chunk of the given form type around the given chunks, its size counting them all.
inline Bytes riff(const std::string& formType, std::initializer_list<Bytes> chunks)
{
    Bytes body;
    appendText(body, formType);
    for (const Bytes& each : chunks)
        append(body, each);
    return chunk("RIFF", body);
}

// A PCM fmt payload of 16 bytes, padded with extra bytes (counting from 0x10) up to payloadBytes.
inline Bytes pcmFormatPayload(std::uint16_t channels, std::uint32_t sampleRate, std::uint16_t bits,
    std::size_t payloadBytes = 16)
{
    Bytes bytes;
    const auto blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    appendUint16(bytes, 1);
    appendUint16(bytes, channels);
    appendUint32(bytes, sampleRate);
    appendUint32(bytes, sampleRate * blockAlign);
    appendUint16(bytes, blockAlign);
    appendUint16(bytes, bits);
    while (bytes.size() < payloadBytes)
        bytes.push_back(static_cast<std::uint8_t>(bytes.size()));
    bytes.resize(payloadBytes);
    return bytes;
}

inline Bytes countingBytes(std::size_t count, std::uint8_t first = 1)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

inline std::uint32_t uint32At(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes.at(offset))
        | (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8)
        | (static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16)
        | (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
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
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    static Bytes readFile(const std::string& filePath)
    {
        std::ifstream in(filePath, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path folder_;
};

} // namespace lumivox::wave::test
