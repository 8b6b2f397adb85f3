#include "format_causes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <string_view>
#include <unistd.h>

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
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::strerror(errno);
    std::array<unsigned char, 16> bytes {};
    const ssize_t bytesRead = ::pread(descriptor, bytes.data(), bytes.size(), 0);
    const int readError = errno;
    ::close(descriptor);
    if (bytesRead < 0)
        return std::strerror(readError);
    if (bytesRead == 0)
        return "an empty file";
    std::string cause
        = unreadableFormatCause(std::span(bytes.data(), static_cast<std::size_t>(bytesRead)));
    for (const Signature& signature : damagedContainers) {
        if (cause.empty()
            && startsWith(std::span(bytes.data(), static_cast<std::size_t>(bytesRead)), signature))
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
