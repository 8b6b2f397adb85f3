#pragma once

#include "riff_chunk.h"
#include "sample_stores.h"
#include "wave_file_error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumivox::wave {

// The kinds of file an output is written as, chosen by the ending of its name.
enum class OutputContainer { Wave, Flac, OggVorbis, Opus, Mp3, Aiff };

struct OutputContainerChoice {
    OutputContainer container = OutputContainer::Wave;
    // The name ends in something that is not one of the formats written (".xyz"): it is written
    // as WAV all the same. Empty for a known ending or none.
    std::string unknownEnding;
};

// ".wav" (and any unknown ending or none) is WAV; ".flac", ".ogg"/".oga" (Vorbis), ".opus",
// ".mp3" and ".aiff"/".aif"/".aifc" are those formats, in either case.
[[nodiscard]] OutputContainerChoice outputContainerFor(const std::string& path);

// The depth an output made at carrierDepth is stored at in the container: FLAC holds no float
// (24-bit instead), and the lossy formats are given 16-bit samples (an 8-bit result widened).
[[nodiscard]] OutputDepth depthStoredIn(OutputContainer container, OutputDepth carrierDepth);

// A mono output written through libsndfile in any container but WAV, from blocks stored as the
// wave writer stores them (OutputDepth's byte layouts). The file is opened and locked as the wave
// writer opens its own (a regular file or /dev/null; one that anyone holds locked is refused
// before it is emptied) and its header is brought up to date at least once a second. Opus holds
// only a few rates and MP3 MPEG's: at another rate the samples are brought to 48000 Hz by libsoxr
// (very high quality) on their way to the encoder.
class SoundFileWriter {
public:
    // Null on failure, with the reason in cause.
    [[nodiscard]] static std::unique_ptr<SoundFileWriter> create(const std::string& path,
        OutputContainer container, OutputDepth depth, std::uint32_t sampleRate, std::string& cause);
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // Appends frameCount samples stored at the writer's depth; false on a failure, after which
    // every write fails and failureCause() says why.
    [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t frameCount);
    // Finishes the file; false when that or an earlier write failed.
    [[nodiscard]] bool close();
    [[nodiscard]] const std::string& failureCause() const { return cause_; }
    // The rate the file holds: the samples' own, or 48000 Hz where the format lacks theirs.
    [[nodiscard]] std::uint32_t fileRate() const { return fileRate_; }

private:
    SoundFileWriter() = default;
    bool fail(std::string cause);
    bool writeResampled(const short* samples, std::size_t frameCount, bool last);

    FileHandle file_; // holds the lock for as long as libsndfile writes through its descriptor
    void* sound_ = nullptr; // SNDFILE*
    OutputDepth depth_ = OutputDepth::Int16;
    std::vector<short> shorts_;
    std::vector<int> ints_;
    std::vector<float> floats_;
    void* resampler_ = nullptr; // soxr_t, when the file's rate is not the samples'
    std::vector<double> resampleIn_;
    std::vector<double> resampleOut_;
    std::uint32_t fileRate_ = 0;
    std::chrono::steady_clock::time_point headerWritten_;
    bool failed_ = false;
    std::string cause_;
};

} // namespace lumivox::wave
