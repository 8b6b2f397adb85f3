#include "riff_chunk.h"

#include "little_endian.h"

#include <algorithm>
#include <limits>

namespace lumivox::wave {

namespace {

    constexpr std::int64_t chunkHeaderBytes = 8;
    constexpr std::int64_t formTypeBytes = 4;

    FourCC toFourCC(const std::uint8_t* bytes)
    {
        FourCC code;
        std::copy(bytes, bytes + 4, code.begin());
        return code;
    }

    // Offset just past a chunk's data and its pad byte.
    std::int64_t chunkEnd(std::int64_t dataOffset, std::uint32_t size)
    {
        return dataOffset + size + (size & 1u);
    }

    bool seekTo(std::FILE* file, std::int64_t offset)
    {
        return offset >= 0 && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
    }

    // The stream's error flag is checked as well, so that no failure of the stream goes unseen.
    bool writeBytes(std::FILE* file, const std::uint8_t* bytes, std::size_t byteCount)
    {
        return std::fwrite(bytes, 1, byteCount, file) == byteCount && !std::ferror(file);
    }

} // namespace

bool descendChunk(
    std::FILE* file, ChunkInfo& chunk, const ChunkInfo* parent, ChunkSearch search, bool* gaveUp)
{
    if (gaveUp != nullptr)
        *gaveUp = false;
    std::int64_t position = ftello(file);
    if (position < 0)
        return false;
    const std::int64_t limit = parent != nullptr ? parent->dataOffset + parent->size
                                                 : std::numeric_limits<std::int64_t>::max();

    // Every step moves forward by at least one header and skips a chunk's data by seeking, never
    // by reading it; the number of steps is bounded as well.
    for (int examined = 0; position + chunkHeaderBytes <= limit; ++examined) {
        if (examined == chunksSearchedAtMost) {
            if (gaveUp != nullptr)
                *gaveUp = true;
            return false;
        }
        if (!seekTo(file, position))
            return false;
        std::uint8_t header[chunkHeaderBytes];
        if (std::fread(header, 1, sizeof header, file) != sizeof header)
            return false;
        const FourCC id = toFourCC(header);
        const std::uint32_t size = loadUint32(header + 4);
        const std::int64_t dataOffset = position + chunkHeaderBytes;

        if (search == ChunkSearch::byId && id == chunk.id) {
            chunk.size = size;
            chunk.dataOffset = dataOffset;
            chunk.created = false;
            return true;
        }
        if (search == ChunkSearch::riffByFormType && id == riffId && size >= formTypeBytes) {
            std::uint8_t formType[formTypeBytes];
            if (std::fread(formType, 1, sizeof formType, file) != sizeof formType)
                return false;
            if (toFourCC(formType) == chunk.formType) {
                chunk.id = riffId;
                chunk.size = size;
                chunk.dataOffset = dataOffset;
                chunk.created = false;
                return true;
            }
        }
        position = chunkEnd(dataOffset, size);
    }
    return false;
}

bool createChunk(std::FILE* file, ChunkInfo& chunk)
{
    const std::int64_t position = ftello(file);
    if (position < 0)
        return false;
    std::uint8_t header[chunkHeaderBytes + formTypeBytes];
    std::copy(chunk.id.begin(), chunk.id.end(), header);
    storeUint32(header + 4, chunk.size);
    std::size_t headerBytes = chunkHeaderBytes;
    if (chunk.id == riffId) {
        std::copy(chunk.formType.begin(), chunk.formType.end(), header + chunkHeaderBytes);
        headerBytes += formTypeBytes;
    }
    if (!writeBytes(file, header, headerBytes))
        return false;
    chunk.dataOffset = position + chunkHeaderBytes;
    chunk.created = true;
    return true;
}

bool ascendChunk(std::FILE* file, ChunkInfo& chunk)
{
    if (!chunk.created)
        return seekTo(file, chunkEnd(chunk.dataOffset, chunk.size));

    const std::int64_t end = ftello(file);
    if (end < 0)
        return false;
    const std::int64_t length = end - chunk.dataOffset;
    if (length < 0 || length > std::numeric_limits<std::uint32_t>::max())
        return false;
    const auto size = static_cast<std::uint32_t>(length);
    if (size != chunk.size) {
        std::uint8_t sizeBytes[4];
        storeUint32(sizeBytes, size);
        if (!seekTo(file, chunk.dataOffset - 4) || !writeBytes(file, sizeBytes, sizeof sizeBytes)
            || !seekTo(file, end))
            return false;
        chunk.size = size;
    }
    if (size & 1u) {
        const std::uint8_t pad = 0;
        if (!writeBytes(file, &pad, 1))
            return false;
    }
    return true;
}

} // namespace lumivox::wave
