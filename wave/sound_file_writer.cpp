#include "sound_file_writer.h"

#include "wave_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sndfile.h>
#include <soxr.h>
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
    const bool resampled = (container == OutputContainer::Opus && !holds(opusRates))
        || (container == OutputContainer::Mp3 && !holds(mp3Rates));
    constexpr std::uint32_t resampledRate = 48000;
    const std::uint32_t fileRate = resampled ? resampledRate : sampleRate;
    soxr_t resampler = nullptr;
    if (resampled) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t error = nullptr;
        resampler = soxr_create(
            static_cast<double>(sampleRate), resampledRate, 1, &error, &io, &quality, nullptr);
        if (error != nullptr || resampler == nullptr) {
            soxr_delete(resampler);
            cause = "the output could not be brought from " + std::to_string(sampleRate) + " Hz to "
                + std::to_string(resampledRate) + " Hz";
            return nullptr;
        }
    }
    // Released on every way out below unless the writer takes it.
    std::unique_ptr<soxr, void (*)(soxr_t)> heldResampler(resampler, soxr_delete);
    SF_INFO info {};
    info.samplerate = static_cast<int>(std::min<std::uint32_t>(fileRate, 1u << 30));
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
    writer->fileRate_ = fileRate;
    writer->resampler_ = heldResampler.release();
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
        if (resampler_ != nullptr)
            return writeResampled(shorts_.data(), frameCount, false);
        written = sf_write_short(sound, shorts_.data(), frames);
        break;
    case OutputDepth::Int16:
        shorts_.resize(frameCount);
        std::memcpy(shorts_.data(), bytes, 2 * frameCount);
        if (resampler_ != nullptr)
            return writeResampled(shorts_.data(), frameCount, false);
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

// The samples (16-bit values) through the resampler to the encoder; last drains its filter.
bool SoundFileWriter::writeResampled(const short* samples, std::size_t frameCount, bool last)
{
    auto* resampler = static_cast<soxr_t>(resampler_);
    resampleIn_.resize(frameCount);
    for (std::size_t i = 0; i < frameCount; ++i)
        resampleIn_[i] = samples[i] / 32768.0;
    resampleOut_.resize(2 * frameCount + 4096);
    std::size_t taken = 0;
    for (;;) {
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = last
            ? soxr_process(
                resampler, nullptr, 0, nullptr, resampleOut_.data(), resampleOut_.size(), &made)
            : soxr_process(resampler, resampleIn_.data() + taken, frameCount - taken, &used,
                resampleOut_.data(), resampleOut_.size(), &made);
        if (error != nullptr)
            return fail(error);
        taken += used;
        const auto count = static_cast<sf_count_t>(made);
        if (made > 0 && sf_write_double(soundOf(sound_), resampleOut_.data(), count) != count)
            return fail(sf_strerror(soundOf(sound_)));
        if (last ? made == 0 : taken >= frameCount && made < resampleOut_.size())
            return true;
    }
}

bool SoundFileWriter::close()
{
    SNDFILE* sound = soundOf(sound_);
    if (sound == nullptr)
        return !failed_;
    if (resampler_ != nullptr) {
        if (!failed_)
            static_cast<void>(writeResampled(nullptr, 0, true));
        soxr_delete(static_cast<soxr_t>(resampler_));
        resampler_ = nullptr;
    }
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
