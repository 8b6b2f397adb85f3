#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lumivox::wave {

// How a file stores its samples, which decides how a result made from it is stored.
enum class SampleEncoding {
    Integer, // PCM of any depth, also inside FLAC
    Float, // 32- or 64-bit IEEE float
    Lossy, // MP3, Ogg Vorbis, Opus: decoded, the depth of the source is gone
};

// What an opened sound file holds.
struct SoundFileFormat {
    std::uint32_t sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0; // the stored depth: 8 to 32 for integers, 32 or 64 for floats, 16 lossy
    SampleEncoding encoding = SampleEncoding::Integer;
    std::int64_t frameCount = 0; // as the file declares it; estimated for MP3
    std::string name; // for the user: "FLAC, 24-bit", "MP3", "WAV, 32-bit float"
};

// Why a sound file cannot be used.
enum class SoundFileRefusal {
    None,
    NotOpened, // missing, unreadable or a container that is not read
    Encoding, // the container opened but its samples are coded in a way that is not read
    Channels, // more channels than are read
    SampleRate, // 0 Hz, or beyond what a wave file holds
};

// The most channels a file may have; all of them are averaged into one.
inline constexpr int mostChannels = 8;

class SoundFileReader;

// Opens any recording libsndfile reads among WAV, RF64, W64, AIFF/AIFC, FLAC, Ogg Vorbis, Opus
// and MP3, with integer, float or lossy samples, 1 to 8 channels. Reads come in blocks of up to
// blockFrames frames, the buffer for which is taken here. Null on failure, with the refusal and
// its cause in plain words ("AAC in an MP4 container; convert it to WAV or FLAC") stored through
// the out-arguments given. Only a regular file is opened: a FIFO, a socket or a device is refused
// ("not a regular file") without being waited on.
[[nodiscard]] std::unique_ptr<SoundFileReader> openSoundFile(const std::string& path,
    std::size_t blockFrames, SoundFileRefusal* refusal = nullptr, std::string* cause = nullptr);

// The same for the regular file open on descriptor (one that is held locked, say), read from its
// start through a duplicate of the descriptor; the caller keeps its own.
[[nodiscard]] std::unique_ptr<SoundFileReader> openSoundFileOn(int descriptor,
    std::size_t blockFrames, SoundFileRefusal* refusal = nullptr, std::string* cause = nullptr);

// The file's next frames reduced to mono by the mean of its channels, as many as fit in
// destination (no more than the reader's block), in 16-bit units: an N-bit integer sample divided
// by 2^(N-16), a float or decoded sample times 32768; an 8-bit file stays in 8-bit units (-128 to
// 127). Values that are not a number are read as 0, those beyond a million times full scale as that
// limit. Returns the frame count, 0 at the end, -1 on an
// error, after which every read fails and the reader's failureCause() says why. A file that ends
// before the frames it declares is an error too, but only once the frames it holds have been read.
[[nodiscard]] std::int64_t readMonoFrames(SoundFileReader& reader, std::span<double> destination);

// An open sound file, its format and the interleaved block buffer.
class SoundFileReader {
public:
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;
    SoundFileReader(SoundFileReader&&) noexcept;
    SoundFileReader& operator=(SoundFileReader&&) noexcept;
    ~SoundFileReader();

    [[nodiscard]] const SoundFileFormat& format() const { return format_; }
    [[nodiscard]] const std::string& failureCause() const { return failureCause_; }
    [[nodiscard]] std::size_t blockFrames() const { return blockFrames_; }
    // The full-scale value of the units readMonoFrames gives: 32768, or 128 for 8-bit files.
    [[nodiscard]] double unitsPerFullScale() const { return unitsPerFullScale_; }

private:
    struct Handle;
    SoundFileReader();
    friend std::unique_ptr<SoundFileReader> openSoundFileOn(
        int, std::size_t, SoundFileRefusal*, std::string*);
    friend std::int64_t readMonoFrames(SoundFileReader&, std::span<double>);

    std::unique_ptr<Handle> handle_;
    SoundFileFormat format_;
    std::vector<double> interleaved_;
    std::size_t blockFrames_ = 0;
    double unitsPerFullScale_ = 32768.0;
    std::int64_t framesRead_ = 0;
    std::int64_t leastFrames_ = 0; // fewer at the end means the file was cut off or damaged
    bool isOgg_ = false;
    bool isMpeg_ = false; // decoded by libmpg123, whose own printing is kept quiet
    bool endMissing_ = false; // the stream's end could not be found
    std::string failureCause_;
};

} // namespace lumivox::wave
