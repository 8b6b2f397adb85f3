#include "wave_file.h"

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox::wave {

namespace {

    constexpr FourCC waveFormType { 'W', 'A', 'V', 'E' };
    constexpr FourCC fmtId { 'f', 'm', 't', ' ' };
    constexpr FourCC dataId { 'd', 'a', 't', 'a' };

    // A path with an embedded NUL would name a different file than the caller's text.
    bool usablePath(const std::string& path)
    {
        return !path.empty() && path.find('\0') == std::string::npos;
    }

    // Opens only regular files: a device or a pipe could feed the chunk search forever or block
    // the open.
    FileHandle openRegularFileForReading(const std::string& path)
    {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            return nullptr;
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(descriptor);
            return nullptr;
        }
        std::FILE* file = ::fdopen(descriptor, "rb");
        if (file == nullptr)
            ::close(descriptor);
        return FileHandle(file);
    }

    // The RIFF size field is 32 bits and counts everything after itself, the pad byte included.
    bool riffSizeWouldOverflow(std::int64_t dataOffset, std::uint64_t dataBytes)
    {
        const std::uint64_t riffBytes = static_cast<std::uint64_t>(dataOffset) - 8 + dataBytes + 1;
        return riffBytes > std::numeric_limits<std::uint32_t>::max();
    }

} // namespace

std::unique_ptr<WaveReader> openWaveReader(
    const std::string& path, WaveFormat* format, std::uint32_t* dataLength)
{
    if (!usablePath(path))
        return nullptr;
    auto reader = std::make_unique<WaveReader>();
    reader->file_ = openRegularFileForReading(path);
    std::FILE* file = reader->file_.get();
    if (file == nullptr)
        return nullptr;

    ChunkInfo riffChunk;
    riffChunk.formType = waveFormType;
    if (!descendChunk(file, riffChunk, nullptr, ChunkSearch::riffByFormType))
        return nullptr;

    // The fmt search is not held to the RIFF chunk's extent, so a RIFF size that is too small does
    // not hide the format.
    ChunkInfo fmtChunk;
    fmtChunk.id = fmtId;
    if (!descendChunk(file, fmtChunk, nullptr, ChunkSearch::byId))
        return nullptr;
    // Refused before anything is allocated: a record too short for the fields callers read, or
    // longer than extraSize can describe.
    if (fmtChunk.size < minimalFormatBytes || fmtChunk.size > largestFormatBytes)
        return nullptr;
    reader->formatBytes_.resize(fmtChunk.size);
    if (std::fread(reader->formatBytes_.data(), 1, fmtChunk.size, file) != fmtChunk.size)
        return nullptr;
    if (!ascendChunk(file, fmtChunk))
        return nullptr;

    ChunkInfo dataChunk;
    dataChunk.id = dataId;
    if (!descendChunk(file, dataChunk, &riffChunk, ChunkSearch::byId))
        return nullptr;

    reader->format_ = decodeWaveFormat(reader->formatBytes_);
    reader->dataLength_ = dataChunk.size;
    reader->dataBytesLeft_ = dataChunk.size;
    if (format != nullptr)
        *format = reader->format_;
    if (dataLength != nullptr)
        *dataLength = reader->dataLength_;
    return reader;
}

std::int64_t readWave(WaveReader& reader, void* buffer, std::size_t byteCount)
{
    std::FILE* file = reader.file_.get();
    if (file == nullptr || (buffer == nullptr && byteCount > 0))
        return -1;
    const auto wanted
        = static_cast<std::size_t>(std::min<std::uint64_t>(byteCount, reader.dataBytesLeft_));
    if (wanted == 0)
        return 0;
    const std::size_t bytesRead = std::fread(buffer, 1, wanted, file);
    reader.dataBytesLeft_ -= bytesRead;
    if (bytesRead < wanted) {
        if (std::ferror(file) && bytesRead == 0)
            return -1;
        if (std::feof(file))
            reader.dataBytesLeft_ = 0; // a data chunk longer than the file ends with the file
    }
    return static_cast<std::int64_t>(bytesRead);
}

std::unique_ptr<WaveWriter> createWaveWriter(const std::string& path, const WaveFormat& format)
{
    return createWaveWriter(path, format, {});
}

std::unique_ptr<WaveWriter> createWaveWriter(
    const std::string& path, const WaveFormat& format, std::span<const std::uint8_t> extraBytes)
{
    if (!usablePath(path) || extraBytes.size() != format.extraSize)
        return nullptr;
    auto writer = std::make_unique<WaveWriter>();
    writer->format_ = format;
    writer->extraBytes_.assign(extraBytes.begin(), extraBytes.end());
    writer->file_ = FileHandle(std::fopen(path.c_str(), "wbe"));
    std::FILE* file = writer->file_.get();
    if (file == nullptr)
        return nullptr;

    writer->riffChunk_.id = riffId;
    writer->riffChunk_.formType = waveFormType;
    if (!createChunk(file, writer->riffChunk_))
        return nullptr;

    ChunkInfo fmtChunk;
    fmtChunk.id = fmtId;
    fmtChunk.size = static_cast<std::uint32_t>(formatRecordBytes + extraBytes.size());
    const auto record = encodeWaveFormat(format);
    if (!createChunk(file, fmtChunk)
        || std::fwrite(record.data(), 1, record.size(), file) != record.size()
        || (!extraBytes.empty()
            && std::fwrite(extraBytes.data(), 1, extraBytes.size(), file) != extraBytes.size())
        || std::ferror(file) || !ascendChunk(file, fmtChunk))
        return nullptr;

    writer->dataChunk_.id = dataId;
    if (!createChunk(file, writer->dataChunk_))
        return nullptr;
    // A full disk or an unwritable device shows here rather than after the whole run.
    if (std::fflush(file) != 0)
        return nullptr;
    return writer;
}

std::int64_t writeWave(WaveWriter& writer, const void* buffer, std::size_t byteCount)
{
    std::FILE* file = writer.file_.get();
    if (file == nullptr || writer.failed_ || (buffer == nullptr && byteCount > 0))
        return -1;
    if (byteCount == 0)
        return 0;
    if (byteCount > std::numeric_limits<std::uint32_t>::max()
        || riffSizeWouldOverflow(
            writer.dataChunk_.dataOffset, writer.dataBytesWritten_ + byteCount)) {
        writer.failed_ = true;
        return -1;
    }
    const std::size_t bytesWritten = std::fwrite(buffer, 1, byteCount, file);
    writer.dataBytesWritten_ += bytesWritten;
    // A block may only reach the buffer; the failure of an earlier block's flush shows here, as a
    // short count or the stream's error flag.
    if (bytesWritten != byteCount || std::ferror(file)) {
        writer.failed_ = true;
        return -1;
    }
    return static_cast<std::int64_t>(bytesWritten);
}

bool closeWave(std::unique_ptr<WaveReader> reader)
{
    if (reader == nullptr || reader->file_ == nullptr)
        return false;
    return std::fclose(reader->file_.release()) == 0;
}

bool closeWave(std::unique_ptr<WaveWriter> writer)
{
    if (writer == nullptr || writer->file_ == nullptr)
        return false;
    std::FILE* file = writer->file_.get();
    // After a failed write the sizes stay 0, so the file reads as unfinished rather than as a
    // shorter, seemingly complete recording.
    bool finished = !writer->failed_ && ascendChunk(file, writer->dataChunk_)
        && ascendChunk(file, writer->riffChunk_);
    finished = std::fflush(file) == 0 && !std::ferror(file) && finished;
    finished = std::fclose(writer->file_.release()) == 0 && finished;
    return finished;
}

} // namespace lumivox::wave
