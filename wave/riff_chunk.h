#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace lumivox::wave {

using FourCC = std::array<char, 4>;

// Owns an open C stream; closing through the deleter ignores the result, so code that needs the
// result releases the pointer and calls std::fclose itself.
struct FileCloser {
    void operator()(std::FILE* file) const { static_cast<void>(std::fclose(file)); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// One chunk of a RIFF file: what was searched for or created, and where its data lies.
struct ChunkInfo {
    FourCC id {};
    std::uint32_t size = 0; // declared size, without the 8-byte header or a pad byte
    FourCC formType {}; // RIFF chunks only
    std::int64_t dataOffset = 0; // file offset of the first data byte (the form type for RIFF)
    bool created = false; // written by us, so its size is rewritten when it is left
};

inline constexpr FourCC riffId { 'R', 'I', 'F', 'F' };

enum class ChunkSearch {
    byId, // any chunk whose id equals chunk.id
    riffByFormType, // a "RIFF" chunk whose form type equals chunk.formType
};

// From the current position, examines chunk headers in order and skips each one that does not
// match by its declared size rounded up to even. The search ends at the parent's declared end when
// a parent is given, else at the end of the file. On a match, fills the record and leaves the
// position at the chunk's data (after the form type for a RIFF chunk). A search that has examined
// chunksSearchedAtMost headers gives up and sets gaveUp when given: a file of zeros or nonsense
// would otherwise be walked eight bytes at a time.
[[nodiscard]] bool descendChunk(std::FILE* file, ChunkInfo& chunk, const ChunkInfo* parent,
    ChunkSearch search, bool* gaveUp = nullptr);

inline constexpr int chunksSearchedAtMost = 1000;

// Writes a chunk header (with the form type for a "RIFF" chunk) holding chunk.size at the current
// position and marks the record as created.
[[nodiscard]] bool createChunk(std::FILE* file, ChunkInfo& chunk);

// Moves to the end of the chunk. For a created chunk, first rewrites its size to the bytes written
// since its header (when that differs) and appends a zero pad byte after an odd length.
[[nodiscard]] bool ascendChunk(std::FILE* file, ChunkInfo& chunk);

} // namespace lumivox::wave
