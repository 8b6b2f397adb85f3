#pragma once

#include "riff_chunk.h"
#include "wave_file_error.h"
#include "wave_format.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumivox::wave {

class WaveReader;
class WaveWriter;

// Opens a RIFF/WAVE file and leaves it at its first sample byte; null when the file cannot be
// opened or holds no usable "fmt " and "data" chunks. The file is locked shared (flock) for as
// long as the reader lives, so that no writer of this program empties it meanwhile; a file that a
// writer holds locked is refused. The format and the data chunk's declared
// length are stored through the out-arguments that are given, and on failure the reason.
[[nodiscard]] std::unique_ptr<WaveReader> openWaveReader(const std::string& path,
    WaveFormat* format = nullptr, std::uint32_t* dataLength = nullptr,
    WaveFileError* failure = nullptr);

// Opens a regular file and locks it shared, as openWaveReader does, for as long as the handle
// lives: for a file that another library reads. Null when the file cannot be opened or a writer
// holds it locked, with the reason stored through failure when given.
[[nodiscard]] FileHandle holdForReading(const std::string& path, WaveFileError* failure = nullptr);

// Opens a file for an output as createWaveWriter does (created or emptied, a regular file or
// /dev/null, locked exclusively for as long as the handle lives, refused before it is emptied
// when anyone else holds it locked), for an output that another library writes.
[[nodiscard]] FileHandle openForOutput(const std::string& path, WaveFileError* failure = nullptr);

// Up to byteCount sample bytes: fewer near the end, 0 at the end of the data, -1 (errno set) on an
// error. After an error every read fails.
[[nodiscard]] std::int64_t readWave(WaveReader& reader, void* buffer, std::size_t byteCount);

// Creates (or empties) the file and writes the 46-byte header; null on failure. Only a regular
// file or /dev/null is written. The file is locked (flock) for as long as the writer lives, and
// one that anyone else holds locked (a reader included) is refused before it is emptied.
[[nodiscard]] std::unique_ptr<WaveWriter> createWaveWriter(
    const std::string& path, const WaveFormat& format);

// As above for a format with extra bytes: extraBytes must hold exactly format.extraSize bytes, and
// the header grows by that many. On failure the reason is stored through failure when given.
[[nodiscard]] std::unique_ptr<WaveWriter> createWaveWriter(const std::string& path,
    const WaveFormat& format, std::span<const std::uint8_t> extraBytes,
    WaveFileError* failure = nullptr);

// Appends sample bytes; the count written, or -1 on an error.
[[nodiscard]] std::int64_t writeWave(WaveWriter& writer, const void* buffer, std::size_t byteCount);

// Writes the whole header again, its two sizes brought up to date with the audio written so far
// (flushing it first); writeWave does this by itself at least once a second, so that the file is
// a valid wave file even if the program never gets to close it. False when the flush or the
// write failed, or when the file was cut short by another program meanwhile (the writer has then
// failed with WaveFileProblem::CutShort).
[[nodiscard]] bool refreshWaveSizes(WaveWriter& writer);

// Finishes the file (a writer's whole header is written with the final sizes) and releases the
// handle; true when every step succeeded. When a write to a writer's file failed, or the file was
// cut short under it, the file is cut back to the whole frames that reached it and its header is
// written with those, but the result is still false and the first reason is stored through
// failure when given.
[[nodiscard]] bool closeWave(std::unique_ptr<WaveReader> reader);
[[nodiscard]] bool closeWave(std::unique_ptr<WaveWriter> writer, WaveFileError* failure = nullptr);

// An open input wave file, positioned inside its data chunk. A default-constructed reader has no
// file: reads give -1 and closing gives false.
class WaveReader {
public:
    WaveReader() = default;
    WaveReader(const WaveReader&) = delete;
    WaveReader& operator=(const WaveReader&) = delete;
    WaveReader(WaveReader&&) noexcept = default;
    WaveReader& operator=(WaveReader&&) noexcept = default;

    [[nodiscard]] const WaveFormat& format() const { return format_; }
    // The fmt chunk exactly as stored: 16 bytes for a minimal PCM chunk, more with extra bytes.
    [[nodiscard]] std::span<const std::uint8_t> formatBytes() const { return formatBytes_; }
    // The data chunk's declared size, which may be more than the file holds.
    [[nodiscard]] std::uint32_t dataLength() const { return dataLength_; }
    // The sample bytes read so far.
    [[nodiscard]] std::uint64_t dataBytesRead() const { return dataBytesRead_; }
    // True once a read met the end of the file before the data chunk's declared end: the file was
    // cut short, or written that way.
    [[nodiscard]] bool endedEarly() const { return endedEarly_; }
    // False when the data chunk declares more than the file held when it was opened (a header
    // written ahead of a stream, or a file cut short): its length is then no more than a claim.
    [[nodiscard]] bool declaredLengthHeld() const { return declaredLengthHeld_; }

private:
    friend std::unique_ptr<WaveReader> openWaveReader(
        const std::string&, WaveFormat*, std::uint32_t*, WaveFileError*);
    friend std::int64_t readWave(WaveReader&, void*, std::size_t);
    friend bool closeWave(std::unique_ptr<WaveReader>);

    FileHandle file_;
    std::vector<std::uint8_t> formatBytes_;
    WaveFormat format_;
    std::uint32_t dataLength_ = 0;
    std::uint64_t dataBytesLeft_ = 0; // reads never go past the data chunk
    std::uint64_t dataBytesRead_ = 0;
    bool endedEarly_ = false;
    bool declaredLengthHeld_ = true;
    int readError_ = 0; // errno of a failed read; every later read fails with it
};

// An output wave file being written; its chunk sizes trail the audio by at most a second until
// closeWave writes the final header. A default-constructed writer has no file: writes give -1 and
// closing gives false.
class WaveWriter {
public:
    WaveWriter() = default;
    WaveWriter(const WaveWriter&) = delete;
    WaveWriter& operator=(const WaveWriter&) = delete;
    WaveWriter(WaveWriter&&) noexcept = default;
    WaveWriter& operator=(WaveWriter&&) noexcept = default;

    [[nodiscard]] const WaveFormat& format() const { return format_; }
    [[nodiscard]] std::uint64_t dataBytesWritten() const { return dataBytesWritten_; }
    // True once a write has failed: later writes are refused and closing reports the failure.
    [[nodiscard]] bool failed() const { return failure_.failed; }
    // Why the first failed write failed: a system error, or the file cut short under the writer.
    [[nodiscard]] const WaveFileError& failure() const { return failure_.reason; }

    struct Failure {
        bool failed = false;
        WaveFileError reason;
    };

private:
    friend std::unique_ptr<WaveWriter> createWaveWriter(
        const std::string&, const WaveFormat&, std::span<const std::uint8_t>, WaveFileError*);
    friend std::int64_t writeWave(WaveWriter&, const void*, std::size_t);
    friend bool refreshWaveSizes(WaveWriter&);
    friend bool closeWave(std::unique_ptr<WaveWriter>, WaveFileError*);

    FileHandle file_;
    WaveFormat format_;
    // The header as last written, sizes included; the audio starts right after it.
    std::vector<std::uint8_t> header_;
    std::uint64_t dataBytesWritten_ = 0;
    std::chrono::steady_clock::time_point sizesRefreshed_; // when the header was last written
    Failure failure_;
    bool discards_ = false; // written to /dev/null: there is no header to patch
};

} // namespace lumivox::wave
