#include "sound_file_writer.h"

#include "wave_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sndfile.h>
#include <string_view>

namespace lumivox::wave {

namespace {

    constexpr auto headerRefreshInterval = std::chrono::seconds(1);

    std::string lowerCase(std::string_view text)
    {
        std::string lower(text);
        for (char& c : lower) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c | 0x20);
        }
        return lower;
    }

    int subtypeFor(OutputContainer container, OutputDepth depth)
    {
        switch (container) {
        case OutputContainer::OggVorbis:
            return SF_FORMAT_VORBIS;
        case OutputContainer::Opus:
            return SF_FORMAT_OPUS;
        case OutputContainer::Mp3:
            return SF_FORMAT_MPEG_LAYER_III;
        case OutputContainer::Wave:
        case OutputContainer::Flac:
        case OutputContainer::Aiff:
            break;
        }
        switch (depth) {
        case OutputDepth::UInt8:
            return SF_FORMAT_PCM_S8;
        case OutputDepth::Int16:
            break;
        case OutputDepth::Int24:
            return SF_FORMAT_PCM_24;
        case OutputDepth::Float32:
            return SF_FORMAT_FLOAT;
        }
        return SF_FORMAT_PCM_16;
    }

    int majorFormatFor(OutputContainer container)
    {
        switch (container) {
        case OutputContainer::Flac:
            return SF_FORMAT_FLAC;
        case OutputContainer::OggVorbis:
        case OutputContainer::Opus:
            return SF_FORMAT_OGG;
        case OutputContainer::Mp3:
            return SF_FORMAT_MPEG;
        case OutputContainer::Aiff:
            return SF_FORMAT_AIFF;
        case OutputContainer::Wave:
            break;
        }
        return SF_FORMAT_WAV;
    }

    SNDFILE* soundOf(void* handle) { return static_cast<SNDFILE*>(handle); }

} // namespace

OutputContainerChoice outputContainerFor(const std::string& path)
{
    OutputContainerChoice choice;
    const auto slash = path.find_last_of('/');
    const std::string_view name
        = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0)
        return choice; // no ending, or a hidden file's name
    const std::string ending = lowerCase(name.substr(dot));
    if (ending == ".wav" || ending == ".wave")
        return choice;
    if (ending == ".flac")
        choice.container = OutputContainer::Flac;
    else if (ending == ".ogg" || ending == ".oga")
        choice.container = OutputContainer::OggVorbis;
    else if (ending == ".opus")
        choice.container = OutputContainer::Opus;
    else if (ending == ".mp3")
        choice.container = OutputContainer::Mp3;
    else if (ending == ".aiff" || ending == ".aif" || ending == ".aifc")
        choice.container = OutputContainer::Aiff;
    else
        choice.unknownEnding = std::string(name.substr(dot));
    return choice;
}

OutputDepth depthStoredIn(OutputContainer container, OutputDepth carrierDepth)
{
    switch (container) {
    case OutputContainer::Wave:
    case OutputContainer::Aiff:
        return carrierDepth;
    case OutputContainer::Flac:
        return carrierDepth == OutputDepth::Float32 ? OutputDepth::Int24 : carrierDepth;
    case OutputContainer::OggVorbis:
    case OutputContainer::Opus:
    case OutputContainer::Mp3:
        break;
    }
    return carrierDepth == OutputDepth::UInt8 ? OutputDepth::UInt8 : OutputDepth::Int16;
}

std::unique_ptr<SoundFileWriter> SoundFileWriter::create(const std::string& path,
    OutputContainer container, OutputDepth depth, std::uint32_t sampleRate, std::string& cause)
{
    // Said here in the user's terms rather than in the encoder's.
    constexpr std::uint32_t opusRates[] = { 8000, 12000, 16000, 24000, 48000 };
    constexpr std::uint32_t mp3Rates[]
        = { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 };
    const auto holds = [sampleRate](const auto& rates) {
        return std::find(std::begin(rates), std::end(rates), sampleRate) != std::end(rates);
    };
    const std::string atRate = "; the output's rate, the carrier's, is "
        + std::to_string(sampleRate) + " Hz (write .ogg or .flac instead)";
    if (container == OutputContainer::Opus && !holds(opusRates)) {
        cause = "Opus holds only 8000, 12000, 16000, 24000 and 48000 Hz" + atRate;
        return nullptr;
    }
    if (container == OutputContainer::Mp3 && !holds(mp3Rates)) {
        cause = "MP3 holds only 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 and 48000 Hz"
            + atRate;
        return nullptr;
    }
    SF_INFO info {};
    info.samplerate = static_cast<int>(std::min<std::uint32_t>(sampleRate, 1u << 30));
    info.channels = 1;
    info.format = majorFormatFor(container) | subtypeFor(container, depth);
    if (!sf_format_check(&info)) {
        cause = "this format cannot hold a mono output at " + std::to_string(sampleRate) + " Hz";
        return nullptr;
    }
    WaveFileError why;
    FileHandle file = openForOutput(path, &why);
    if (!file) {
        cause = describe(why);
        return nullptr;
    }
    // libsndfile writes through the descriptor; the stream above it is never written.
    SNDFILE* sound = sf_open_fd(::fileno(file.get()), SFM_WRITE, &info, SF_FALSE);
    if (sound == nullptr) {
        cause = sf_strerror(nullptr);
        return nullptr;
    }
    std::unique_ptr<SoundFileWriter> writer(new SoundFileWriter());
    writer->file_ = std::move(file);
    writer->sound_ = sound;
    writer->depth_ = depth;
    writer->headerWritten_ = std::chrono::steady_clock::now();
    return writer;
}

SoundFileWriter::~SoundFileWriter() { static_cast<void>(close()); }

bool SoundFileWriter::fail(std::string cause)
{
    if (!failed_)
        cause_ = std::move(cause);
    failed_ = true;
    return false;
}

bool SoundFileWriter::write(const std::uint8_t* bytes, std::size_t frameCount)
{
    SNDFILE* sound = soundOf(sound_);
    if (sound == nullptr || failed_)
        return false;
    const auto frames = static_cast<sf_count_t>(frameCount);
    sf_count_t written = 0;
    switch (depth_) {
    case OutputDepth::UInt8:
        // Read as any reader of the wave file reads its bytes: (byte - 128) / 128.
        shorts_.resize(frameCount);
        for (std::size_t i = 0; i < frameCount; ++i)
            shorts_[i] = static_cast<short>((static_cast<int>(bytes[i]) - 128) * 256);
        written = sf_write_short(sound, shorts_.data(), frames);
        break;
    case OutputDepth::Int16:
        shorts_.resize(frameCount);
        std::memcpy(shorts_.data(), bytes, 2 * frameCount);
        written = sf_write_short(sound, shorts_.data(), frames);
        break;
    case OutputDepth::Int24:
        ints_.resize(frameCount);
        for (std::size_t i = 0; i < frameCount; ++i) {
            const std::uint8_t* b = bytes + 3 * i;
            const auto bits = (std::uint32_t { b[0] } << 8) | (std::uint32_t { b[1] } << 16)
                | (std::uint32_t { b[2] } << 24);
            ints_[i] = static_cast<int>(bits);
        }
        written = sf_write_int(sound, ints_.data(), frames);
        break;
    case OutputDepth::Float32:
        floats_.resize(frameCount);
        std::memcpy(floats_.data(), bytes, 4 * frameCount);
        written = sf_write_float(sound, floats_.data(), frames);
        break;
    }
    if (written != frames)
        return fail(sf_strerror(sound));
    const auto now = std::chrono::steady_clock::now();
    if (now - headerWritten_ >= headerRefreshInterval) {
        headerWritten_ = now;
        // The sizes in a header that has them, so that a killed run leaves a file that plays.
        static_cast<void>(sf_command(sound, SFC_UPDATE_HEADER_NOW, nullptr, 0));
    }
    return true;
}

bool SoundFileWriter::close()
{
    SNDFILE* sound = soundOf(sound_);
    if (sound == nullptr)
        return !failed_;
    sound_ = nullptr;
    const int result = sf_close(sound);
    if (result != 0)
        fail(sf_error_number(result));
    errno = 0;
    if (std::fclose(file_.release()) != 0 && !failed_)
        fail(std::strerror(errno));
    return !failed_;
}

} // namespace lumivox::wave
