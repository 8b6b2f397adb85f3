#include "sound_file.h"

#include "format_causes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sndfile.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumivox::wave {

struct SoundFileReader::Handle {
    Handle(SNDFILE* opened, int ownDescriptor)
        : file(opened)
        , descriptor(ownDescriptor)
    {
    }
    ~Handle()
    {
        static_cast<void>(sf_close(file));
        ::close(descriptor);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    SNDFILE* file;
    int descriptor; // libsndfile's, a duplicate of the caller's, closed here
};

SoundFileReader::SoundFileReader() = default;
SoundFileReader::SoundFileReader(SoundFileReader&&) noexcept = default;
SoundFileReader& SoundFileReader::operator=(SoundFileReader&&) noexcept = default;
SoundFileReader::~SoundFileReader() = default;

namespace {

    struct Encoding {
        SampleEncoding kind;
        int bitsPerSample;
    };

    Encoding encodingOf(int formatCode)
    {
        switch (formatCode & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_DPCM_8:
            return { SampleEncoding::Integer, 8 };
        case SF_FORMAT_DWVW_12:
            return { SampleEncoding::Integer, 12 };
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_DWVW_16:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_ALAC_16:
            return { SampleEncoding::Integer, 16 };
        case SF_FORMAT_ALAC_20:
            return { SampleEncoding::Integer, 20 };
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_DWVW_24:
        case SF_FORMAT_ALAC_24:
            return { SampleEncoding::Integer, 24 };
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            return { SampleEncoding::Integer, 32 };
        case SF_FORMAT_FLOAT:
            return { SampleEncoding::Float, 32 };
        case SF_FORMAT_DOUBLE:
            return { SampleEncoding::Float, 64 };
        default:
            // MP3, Vorbis, Opus, ADPCM, u-law and the like decode to at most 16 bits' worth.
            return { SampleEncoding::Lossy, 16 };
        }
    }

    // The fewest frames a whole file gives: the count it declares, less a tenth or two codec
    // frames for MP3, whose count libsndfile estimates from the file's size. 0 when nothing is
    // promised.
    std::int64_t leastFramesOf(const SF_INFO& info)
    {
        if (info.frames == SF_COUNT_MAX || info.frames <= 0)
            return 0;
        if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
            return info.frames;
        const std::int64_t allowance = std::max<std::int64_t>(info.frames / 10, 2 * 1152);
        return std::max<std::int64_t>(info.frames - allowance, 0);
    }

    // libsndfile reads on past damage in an Ogg stream and only notes it in its log: a page
    // skipped or a hole in the stream. (A missing end-of-stream flag is no sign: libsndfile's own
    // Ogg files lack it.)
    bool oggLogTellsOfDamage(SNDFILE* file)
    {
        static char log[16384];
        static_cast<void>(sf_command(file, SFC_GET_LOG_INFO, log, sizeof log));
        const std::string_view text(log);
        return text.find("Corrupted bitstream") != std::string_view::npos
            || text.find("reports a hole") != std::string_view::npos;
    }

    // A float sample as the engine may take it: not a number as 0, and anything beyond a million
    // times full scale, which no recording holds, limited to that, so that the sums made from it
    // later stay finite.
    inline double limited(double sample)
    {
        constexpr double largest = 1e6;
        if (!(sample >= -largest))
            return std::isnan(sample) ? 0.0 : -largest;
        return sample > largest ? largest : sample;
    }

    std::string secondsText(std::int64_t frameCount, std::uint32_t sampleRate)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f s",
            static_cast<double>(frameCount) / static_cast<double>(sampleRate));
        return text;
    }

    // libsndfile's words without their "Error : " and final full stop, or plain words where it
    // has none to give (its MP3 decoder's failures).
    std::string libraryWords(SNDFILE* file)
    {
        std::string words = sf_strerror(file);
        constexpr std::string_view prefix = "Error : ";
        if (words.starts_with(prefix))
            words.erase(0, prefix.size());
        if (!words.empty() && words.back() == '.')
            words.pop_back();
        if (words.empty() || words == "Unspecified internal error")
            return "the stream is damaged";
        return words;
    }

    // libmpg123, which libsndfile decodes MP3 with, prints notes on damaged or unusual streams
    // ("Note: Illegal Audio-MPEG-Header", "Warning: Xing stream size off by more than 1%") to the
    // C library's stderr stream, and libsndfile passes on no setting that quiets it. While
    // libsndfile opens a file or decodes an MP3, that stream points at /dev/null: the failure
    // reaches the user as the reader's cause, as for any other file. The program's own messages
    // go through std::cerr, which keeps the stream it was made with, so they are never lost.
    class DecoderQuiet {
    public:
        explicit DecoderQuiet(bool wanted)
        {
            static std::FILE* const nowhere = std::fopen("/dev/null", "we");
            if (!wanted || nowhere == nullptr)
                return;
            hold = std::unique_lock(swapping());
            saved = stderr;
            stderr = nowhere;
        }
        ~DecoderQuiet()
        {
            if (saved != nullptr)
                stderr = saved;
        }
        DecoderQuiet(const DecoderQuiet&) = delete;
        DecoderQuiet& operator=(const DecoderQuiet&) = delete;

    private:
        static std::mutex& swapping()
        {
            static std::mutex mutex;
            return mutex;
        }

        std::unique_lock<std::mutex> hold;
        std::FILE* saved = nullptr;
    };

    // The highest rate whose 32-bit float output still has a byte rate a wave header holds.
    constexpr std::int64_t highestSampleRate = std::numeric_limits<std::uint32_t>::max() / 4;

    void refuse(
        SoundFileRefusal* refusal, std::string* cause, SoundFileRefusal why, std::string because)
    {
        if (refusal != nullptr)
            *refusal = why;
        if (cause != nullptr)
            *cause = std::move(because);
    }

} // namespace

namespace {

    // Opens the file for reading without waiting on it: only a regular file is read, so that a
    // FIFO, a socket or a device never blocks the open or the reads. -1 with the cause set when
    // the file cannot be read.
    int openRegularFile(const std::string& path, std::string& cause)
    {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            // A socket refuses to be opened with ENXIO.
            cause = errno == ENXIO ? "not a regular file" : std::strerror(errno);
            return -1;
        }
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            cause = unreadableFileCause(descriptor);
            ::close(descriptor);
            return -1;
        }
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags >= 0)
            static_cast<void>(::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK));
        return descriptor;
    }

    std::unique_ptr<SoundFileReader> refused(
        SoundFileRefusal* refusal, std::string* cause, SoundFileRefusal why, std::string because)
    {
        refuse(refusal, cause, why, std::move(because));
        return nullptr;
    }

} // namespace

std::unique_ptr<SoundFileReader> openSoundFile(
    const std::string& path, std::size_t blockFrames, SoundFileRefusal* refusal, std::string* cause)
{
    std::string why;
    const int descriptor = openRegularFile(path, why);
    if (descriptor < 0)
        return refused(refusal, cause, SoundFileRefusal::NotOpened, std::move(why));
    auto reader = openSoundFileOn(descriptor, blockFrames, refusal, cause);
    ::close(descriptor);
    return reader;
}

std::unique_ptr<SoundFileReader> openSoundFileOn(
    int descriptor, std::size_t blockFrames, SoundFileRefusal* refusal, std::string* cause)
{
    refuse(refusal, cause, SoundFileRefusal::None, {});
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return refused(
            refusal, cause, SoundFileRefusal::NotOpened, unreadableFileCause(descriptor));
    // libsndfile takes the file from its start, on a duplicate of its own that is closed here.
    const int own = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0 || ::lseek(own, 0, SEEK_SET) != 0) {
        const std::string why = std::strerror(errno);
        if (own >= 0)
            ::close(own);
        return refused(refusal, cause, SoundFileRefusal::NotOpened, why);
    }
    SF_INFO info {};
    SNDFILE* opened = nullptr;
    {
        const DecoderQuiet quiet(true);
        opened = sf_open_fd(own, SFM_READ, &info, SF_FALSE);
    }
    if (opened == nullptr) {
        ::close(own);
        return refused(
            refusal, cause, SoundFileRefusal::NotOpened, unreadableFileCause(descriptor));
    }
    std::unique_ptr<SoundFileReader> reader(new SoundFileReader);
    reader->handle_ = std::make_unique<SoundFileReader::Handle>(opened, own);

    if (info.channels < 1 || info.channels > mostChannels) {
        refuse(refusal, cause, SoundFileRefusal::Channels,
            std::to_string(info.channels) + " channels");
        return nullptr;
    }
    if (info.samplerate <= 0 || info.samplerate > highestSampleRate) {
        refuse(refusal, cause, SoundFileRefusal::SampleRate,
            "a sample rate of " + std::to_string(info.samplerate) + " Hz");
        return nullptr;
    }

    const Encoding encoding = encodingOf(info.format);
    SoundFileFormat& format = reader->format_;
    format.sampleRate = static_cast<std::uint32_t>(info.samplerate);
    format.channels = info.channels;
    format.bitsPerSample = encoding.bitsPerSample;
    format.encoding = encoding.kind;
    format.frameCount = info.frames == SF_COUNT_MAX ? 0 : info.frames;
    format.name = soundFormatName(info.format);
    reader->leastFrames_ = leastFramesOf(info);
    // An Ogg stream's length comes from its last page; a stream cut off has none to give.
    reader->isOgg_ = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
    reader->isMpeg_ = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    reader->endMissing_ = reader->isOgg_ && info.frames == SF_COUNT_MAX;

    // Doubles scaled to full scale 1.0 whatever the depth: the scale to 16-bit units is then a
    // power of two, so that an integer sample keeps every bit.
    static_cast<void>(sf_command(opened, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE));
    reader->unitsPerFullScale_
        = encoding.kind == SampleEncoding::Integer && encoding.bitsPerSample == 8 ? 128.0 : 32768.0;
    reader->blockFrames_ = blockFrames < 1 ? 1 : blockFrames;
    reader->interleaved_.resize(reader->blockFrames_ * static_cast<std::size_t>(info.channels));
    return reader;
}

std::int64_t readMonoFrames(SoundFileReader& reader, std::span<double> destination)
{
    if (!reader.failureCause_.empty() || !reader.handle_)
        return -1;
    SNDFILE* file = reader.handle_->file;
    const std::size_t wanted = std::min(destination.size(), reader.blockFrames_);
    sf_count_t framesRead = 0;
    {
        const DecoderQuiet quiet(reader.isMpeg_);
        framesRead
            = sf_readf_double(file, reader.interleaved_.data(), static_cast<sf_count_t>(wanted));
    }
    const SoundFileFormat& format = reader.format_;
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        // The frames read before the failure are given; the next read fails.
        reader.failureCause_ = "it breaks off after "
            + secondsText(
                reader.framesRead_ + std::max<sf_count_t>(framesRead, 0), format.sampleRate)
            + " (" + libraryWords(file) + ")";
        if (framesRead <= 0)
            return -1;
    }
    if (framesRead <= 0) {
        if (reader.framesRead_ < reader.leastFrames_)
            reader.failureCause_ = "it breaks off after "
                + secondsText(reader.framesRead_, format.sampleRate) + " of "
                + secondsText(format.frameCount, format.sampleRate);
        else if (reader.endMissing_ || (reader.isOgg_ && oggLogTellsOfDamage(file)))
            reader.failureCause_ = "it breaks off after "
                + secondsText(reader.framesRead_, format.sampleRate)
                + " (the Ogg stream is damaged or cut off)";
        return reader.failureCause_.empty() ? 0 : -1;
    }

    const auto channels = static_cast<std::size_t>(reader.format_.channels);
    const double scale = reader.unitsPerFullScale_ / static_cast<double>(channels);
    const double* frame = reader.interleaved_.data();
    for (sf_count_t i = 0; i < framesRead; ++i) {
        double sum = 0.0;
        for (std::size_t channel = 0; channel < channels; ++channel)
            sum += limited(frame[channel]);
        const double value = sum * scale;
        destination[static_cast<std::size_t>(i)] = value;
        frame += channels;
    }
    reader.framesRead_ += framesRead;
    return framesRead;
}

} // namespace lumivox::wave
