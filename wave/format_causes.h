#pragma once

#include <span>
#include <string>

namespace lumivox::wave {

// Why a file that no reader accepts cannot be read, from its first bytes, in plain words with what
// to do about it: "AAC in an MP4 container; convert it to WAV or FLAC". Empty when the bytes are
// not those of a format this knows.
[[nodiscard]] std::string unreadableFormatCause(std::span<const unsigned char> leadingBytes);

// The same for a file on disk: the system's words when it cannot be read at all, "not a regular
// file" for a pipe, socket or device (which is never waited on), "an empty file", the format's
// cause, or else that it is none of the formats that are read.
[[nodiscard]] std::string unreadableFileCause(const std::string& path);

// The same for the file open on a descriptor, read from its start without moving its offset.
[[nodiscard]] std::string unreadableFileCause(int descriptor);

// A short name for a libsndfile format code (container and encoding): "FLAC, 24-bit", "MP3",
// "WAV, 32-bit float", "AIFF, u-law".
[[nodiscard]] std::string soundFormatName(int formatCode);

} // namespace lumivox::wave
