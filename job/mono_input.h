#pragma once

#include "wave/wave_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace lumivox::job {

// A full block of mono samples: 2048 at 16 bits, 4096 at 8 bits.
inline constexpr std::size_t monoBlockBytes = 4096;
// Every block buffer holds twice that, and an interleaved buffer twice as much again.
inline constexpr std::size_t blockBufferBytes = 8192;
inline constexpr std::size_t interleavedBufferBytes = 16384;

// One open input of a job: its reader and format, and the interleaved buffer that a stereo input
// is read into before it is reduced to mono.
struct MonoInput {
    std::unique_ptr<wave::WaveReader> reader;
    wave::WaveFormat format;
    std::uint32_t dataLength = 0; // as the data chunk declares it, in the file's own bytes
    std::unique_ptr<std::uint8_t[]> interleaved; // only for a stereo input
    // An input that another library reads stays open and locked here, so no run empties it.
    wave::FileHandle heldOpen;
    // Reads the reader's sample bytes; empty means wave::readWave.
    std::function<std::int64_t(wave::WaveReader&, void*, std::size_t)> readBytes;

    [[nodiscard]] bool isMono() const { return format.channels == 1; }
    // The input's length once reduced to mono, in bytes.
    [[nodiscard]] std::uint32_t monoByteCount() const
    {
        return isMono() ? dataLength : dataLength / 2;
    }
};

// Reads the input's next block of mono samples into block (at most monoBytes, itself at most
// monoBlockBytes): straight for a mono input, through the interleaved buffer and a reduction
// otherwise. Returns the mono byte count, 0 at the end, or the reader's negative result unchanged.
[[nodiscard]] std::int64_t readMonoBlock(
    MonoInput& input, std::uint8_t* block, bool sixteenBit, std::size_t monoBytes = monoBlockBytes);

} // namespace lumivox::job
