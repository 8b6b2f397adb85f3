#pragma once

#include "output_encoder.h"
#include "wave/sound_file_writer.h"
#include "wave/wave_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumivox::job {

// What a Vocode's output is to be.
struct OutputPlan {
    std::string path;
    wave::WaveFormat waveFormat; // the header of a WAV output
    wave::OutputDepth depth = wave::OutputDepth::Int16; // as the carrier decides
    std::uint32_t sampleRate = 0;
    // The peak the output is brought to, in dB below full scale; none keeps the level as made.
    std::optional<double> normalizeDecibels;
};

// A Vocode's output file: a wave file as it has always been written, or FLAC, Ogg Vorbis, Opus,
// MP3 or AIFF (by the name's ending) through libsndfile. Normalized, the engine's results go
// first to an unnamed temporary file next to the output, exactly as made (8 bytes a frame), and
// finishing stores them again scaled to the peak asked for, so that every sample is rounded only
// once; until then the output is an empty but valid file.
class OutputFile {
public:
    // Null on failure, with the wave writer's reason in why or another cause in cause.
    [[nodiscard]] static std::unique_ptr<OutputFile> open(
        const OutputPlan& plan, wave::WaveFileError& why, std::string& cause);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Stores a block of results made with this Output Gain; false on a failure (failureCause()).
    [[nodiscard]] bool write(std::span<const double> results, double gain);
    // Writes a normalized output's samples and closes the file; false when something failed.
    [[nodiscard]] bool finish();
    [[nodiscard]] std::string failureCause() const;

    // The samples as stored: clamps, peak and the gain that would not have clipped.
    [[nodiscard]] const OutputEncoder& encoder() const { return encoder_; }
    [[nodiscard]] wave::OutputDepth storedDepth() const { return depth_; }
    // The rate the file holds when the format lacks the output's own (Opus, MP3), else 0.
    [[nodiscard]] std::uint32_t resampledTo() const
    {
        return sound_ && sound_->fileRate() != sampleRate_ ? sound_->fileRate() : 0;
    }
    // For a normalized output once finished: the change of level it was given, in decibels.
    [[nodiscard]] std::optional<double> normalizedBy() const { return normalizedBy_; }
    // The ending of the name was not a format that is written: "" otherwise.
    [[nodiscard]] const std::string& unknownEnding() const { return unknownEnding_; }

private:
    explicit OutputFile(wave::OutputDepth depth);
    bool store(std::span<const double> results, double gain);
    bool stageFailed(int code);
    bool writeNormalized();

    OutputEncoder encoder_;
    wave::OutputDepth depth_;
    std::unique_ptr<wave::WaveWriter> wave_;
    std::unique_ptr<wave::SoundFileWriter> sound_;
    std::vector<std::uint8_t> bytes_;
    std::string unknownEnding_;
    std::uint32_t sampleRate_ = 0;
    // Normalizing: the results as made, their largest magnitude and the gain they were made at.
    std::optional<double> normalizeDecibels_;
    wave::FileHandle staged_;
    double loudest_ = 0.0;
    double stagedGain_ = 1.0;
    std::optional<double> normalizedBy_;
    std::string cause_;
    bool finished_ = false;
};

} // namespace lumivox::job
