#include "format_causes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumivox::wave {

namespace {

    // A format recognised by the bytes at an offset near the start of the file.
    struct Signature {
        std::size_t offset;
        std::string_view bytes;
        std::string_view what;
    };

    constexpr auto signatures = std::to_array<Signature>({
        { 4, "ftyp", "AAC in an MP4 container; convert it to WAV or FLAC" },
        { 0, "ADIF", "raw AAC; convert it to WAV or FLAC" },
        { 0, "wvpk", "WavPack; convert it to WAV or FLAC" },
        { 0, "MAC ", "Monkey's Audio; convert it to WAV or FLAC" },
        { 0, "TTA1", "TTA; convert it to WAV or FLAC" },
        { 0, "MPCK", "Musepack; convert it to WAV or FLAC" },
        { 0, "MP+", "Musepack; convert it to WAV or FLAC" },
        { 0, "#!AMR", "AMR speech; convert it to WAV or FLAC" },
        { 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11",
            "WMA in an ASF container; convert it to WAV or FLAC" },
        { 0, "\x1A\x45\xDF\xA3", "a Matroska or WebM file; convert it to WAV or FLAC" },
        { 0, ".ra\xFD", "RealAudio; convert it to WAV or FLAC" },
        { 0, "OggS",
            "an Ogg file with neither Vorbis nor Opus audio in it; convert it to WAV or FLAC" },
        { 0, "fLaC", "a damaged FLAC file" },
    });

    // Containers that are read, when what they hold could not be.
    constexpr auto damagedContainers = std::to_array<Signature>({
        { 0, "RIFF", "a WAV file whose header cannot be read" },
        { 0, "RF64", "an RF64 file whose header cannot be read" },
        { 0, "riff", "a W64 file whose header cannot be read" },
        { 0, "FORM", "an AIFF file whose header cannot be read" },
    });

    bool startsWith(std::span<const unsigned char> bytes, const Signature& signature)
    {
        if (bytes.size() < signature.offset + signature.bytes.size())
            return false;
        return std::equal(signature.bytes.begin(), signature.bytes.end(),
            bytes.begin() + static_cast<std::ptrdiff_t>(signature.offset),
            [](char expected, unsigned char actual) {
                return static_cast<unsigned char>(expected) == actual;
            });
    }

    // An ADTS frame header: twelve set sync bits, then MPEG layer bits of 0, which MP3 never has.
    bool isAdts(std::span<const unsigned char> bytes)
    {
        return bytes.size() >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xF6) == 0xF0;
    }

    std::string_view containerName(int major)
    {
        switch (major) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
            return "WAV";
        case SF_FORMAT_RF64:
            return "RF64";
        case SF_FORMAT_W64:
            return "W64";
        case SF_FORMAT_AIFF:
            return "AIFF";
        case SF_FORMAT_FLAC:
            return "FLAC";
        case SF_FORMAT_OGG:
            return "Ogg";
        case SF_FORMAT_MPEG:
            return "MPEG";
        case SF_FORMAT_CAF:
            return "CAF";
        case SF_FORMAT_AU:
            return "AU";
        default:
            return "";
        }
    }

    std::string_view encodingName(int subtype)
    {
        switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return "8-bit";
        case SF_FORMAT_PCM_16:
            return "16-bit";
        case SF_FORMAT_PCM_24:
            return "24-bit";
        case SF_FORMAT_PCM_32:
            return "32-bit";
        case SF_FORMAT_FLOAT:
            return "32-bit float";
        case SF_FORMAT_DOUBLE:
            return "64-bit float";
        case SF_FORMAT_ULAW:
            return "u-law";
        case SF_FORMAT_ALAW:
            return "A-law";
        case SF_FORMAT_IMA_ADPCM:
            return "IMA ADPCM";
        case SF_FORMAT_MS_ADPCM:
            return "Microsoft ADPCM";
        case SF_FORMAT_GSM610:
            return "GSM 6.10";
        case SF_FORMAT_VORBIS:
            return "Vorbis";
        case SF_FORMAT_OPUS:
            return "Opus";
        case SF_FORMAT_MPEG_LAYER_I:
            return "MP1";
        case SF_FORMAT_MPEG_LAYER_II:
            return "MP2";
        case SF_FORMAT_MPEG_LAYER_III:
            return "MP3";
        case SF_FORMAT_ALAC_16:
            return "16-bit ALAC";
        case SF_FORMAT_ALAC_20:
            return "20-bit ALAC";
        case SF_FORMAT_ALAC_24:
            return "24-bit ALAC";
        case SF_FORMAT_ALAC_32:
            return "32-bit ALAC";
        default:
            return "";
        }
    }

    std::uint64_t bigEndian(const unsigned char* bytes, int count)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 8) | bytes[i];
        return value;
    }

    // The audio codec an MP4 file holds, by the first sample entry of its sample description
    // ('stsd') box inside the 'moov' box; empty when none can be found. Only the top-level box
    // headers and the 'moov' box (up to a bound) are read.
    std::string mp4CodecName(int descriptor)
    {
        constexpr std::uint64_t mostMovieBytes = 1u << 24;
        struct stat status { };
        if (::fstat(descriptor, &status) != 0)
            return {};
        const auto fileSize = static_cast<std::uint64_t>(status.st_size);
        std::uint64_t offset = 0;
        for (int box = 0; box < 64 && offset + 8 <= fileSize; ++box) {
            unsigned char header[16] {};
            const ssize_t headerRead
                = ::pread(descriptor, header, sizeof header, static_cast<off_t>(offset));
            if (headerRead < 8)
                return {};
            std::uint64_t size = bigEndian(header, 4);
            std::uint64_t headerSize = 8;
            if (size == 1) {
                if (headerRead < 16)
                    return {};
                size = bigEndian(header + 8, 8);
                headerSize = 16;
            } else if (size == 0) {
                size = fileSize - offset;
            }
            if (size < headerSize || offset + headerSize > fileSize)
                return {};
            if (std::memcmp(header + 4, "moov", 4) != 0) {
                if (size > fileSize - offset)
                    return {};
                offset += size;
                continue;
            }
            const std::uint64_t movieBytes
                = std::min({ size - headerSize, fileSize - offset - headerSize, mostMovieBytes });
            std::vector<unsigned char> movie(static_cast<std::size_t>(movieBytes));
            const ssize_t got = ::pread(
                descriptor, movie.data(), movie.size(), static_cast<off_t>(offset + headerSize));
            if (got <= 0)
                return {};
            movie.resize(static_cast<std::size_t>(got));
            // The box's type, its version and flags, the entry count, the first entry's size and
            // then its format.
            constexpr std::string_view stsd = "stsd";
            const auto found = std::search(movie.begin(), movie.end(), stsd.begin(), stsd.end());
            const auto at = static_cast<std::size_t>(found - movie.begin());
            if (found == movie.end() || at + 20 > movie.size())
                return {};
            const std::string_view format(reinterpret_cast<const char*>(&movie[at + 16]), 4);
            if (format == "mp4a")
                return "AAC";
            if (format == "alac")
                return "Apple Lossless";
            if (format == "fLaC")
                return "FLAC";
            if (format == "Opus")
                return "Opus";
            if (format == ".mp3")
                return "MP3";
            if (format == "ac-3" || format == "ec-3")
                return "Dolby Digital";
            return "audio of another kind";
        }
        return {};
    }

} // namespace

std::string unreadableFormatCause(std::span<const unsigned char> leadingBytes)
{
    for (const Signature& signature : signatures) {
        if (startsWith(leadingBytes, signature))
            return std::string(signature.what);
    }
    if (isAdts(leadingBytes))
        return "raw AAC; convert it to WAV or FLAC";
    return {};
}

std::string unreadableFileCause(const std::string& path)
{
    // Not blocking on the open: a FIFO without a writer would wait for ever.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) // a socket refuses to be opened with ENXIO
        return errno == ENXIO ? "not a regular file" : std::strerror(errno);
    std::string cause = unreadableFileCause(descriptor);
    ::close(descriptor);
    return cause;
}

std::string unreadableFileCause(int descriptor)
{
    struct stat status { };
    if (::fstat(descriptor, &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    std::array<unsigned char, 16> bytes {};
    const ssize_t bytesRead = ::pread(descriptor, bytes.data(), bytes.size(), 0);
    if (bytesRead < 0)
        return std::strerror(errno);
    if (bytesRead == 0)
        return "an empty file";
    const std::span<const unsigned char> leading(bytes.data(), static_cast<std::size_t>(bytesRead));
    std::string cause = unreadableFormatCause(leading);
    if (startsWith(leading, signatures[0])) {
        // An MP4 file is named by what it holds; AAC, the usual, when that cannot be told.
        const std::string codec = mp4CodecName(descriptor);
        if (!codec.empty())
            cause = codec + " in an MP4 container; convert it to WAV or FLAC";
    }
    for (const Signature& signature : damagedContainers) {
        if (cause.empty() && startsWith(leading, signature))
            cause = signature.what;
    }
    if (cause.empty())
        cause = "not a WAV, AIFF, FLAC, Ogg Vorbis, Opus or MP3 file that can be read";
    return cause;
}

std::string soundFormatName(int formatCode)
{
    const int major = formatCode & SF_FORMAT_TYPEMASK;
    const int subtype = formatCode & SF_FORMAT_SUBMASK;
    const std::string_view container = containerName(major);
    const std::string_view encoding = encodingName(subtype);
    // An MPEG stream and an Ogg stream are named by their codec alone.
    if (major == SF_FORMAT_MPEG || major == SF_FORMAT_OGG)
        return std::string(encoding.empty() ? container : encoding);
    std::string name(container.empty() ? "audio file" : container);
    if (!encoding.empty())
        name += ", " + std::string(encoding);
    return name;
}

} // namespace lumivox::wave
