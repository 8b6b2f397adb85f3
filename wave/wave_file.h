#pragma once

#include "wave_format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace lumivox::wave {

class WaveReader;
class WaveWriter;

// Opens a RIFF/WAVE file and leaves it at its first sample byte; null when the file cannot be
// opened or holds no usable "fmt " and "data" chunks. The format and the data chunk's declared
// length are stored through the out-arguments that are given.
[[nodiscard]] std::unique_ptr<WaveReader> openWaveReader(
    const std::string& path, WaveFormat* format = nullptr, std::uint32_t* dataLength = nullptr);

// Up to byteCount sample bytes: fewer near the end, 0 at the end of the data, -1 on an error.
[[nodiscard]] std::int64_t readWave(WaveReader& reader, void* buffer, std::size_t byteCount);

// Creates (or empties) the file and writes the 46-byte header; null on failure.
[[nodiscard]] std::unique_ptr<WaveWriter> createWaveWriter(
    const std::string& path, const WaveFormat& format);

// Appends sample bytes; the count written, or -1 on an error.
[[nodiscard]] std::int64_t writeWave(WaveWriter& writer, const void* buffer, std::size_t byteCount);

// Finishes the file (a writer's sizes are patched) and releases the handle; true when every step
// succeeded.
[[nodiscard]] bool closeWave(std::unique_ptr<WaveReader> reader);
[[nodiscard]] bool closeWave(std::unique_ptr<WaveWriter> writer);

} // namespace lumivox::wave
