#include "wave_file.h"

#include "little_endian.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <stdio_ext.h>
#include <sys/file.h>
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

    WaveFileError systemError(int code) { return { WaveFileProblem::System, code }; }

    // Opens only regular files: a device or a pipe could feed the chunk search forever or block
    // the open.
    FileHandle openRegularFileForReading(const std::string& path, WaveFileError& error)
    {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            error = systemError(errno);
            return nullptr;
        }
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            error = S_ISDIR(status.st_mode) ? systemError(EISDIR)
                                            : WaveFileError { WaveFileProblem::NotRegularFile, 0 };
            ::close(descriptor);
            return nullptr;
        }
        std::FILE* file = ::fdopen(descriptor, "rb");
        if (file == nullptr) {
            error = systemError(errno);
            ::close(descriptor);
        }
        return FileHandle(file);
    }

    bool isNullDevice(const struct stat& status)
    {
        struct stat nullStatus { };
        return S_ISCHR(status.st_mode) && ::stat("/dev/null", &nullStatus) == 0
            && S_ISCHR(nullStatus.st_mode) && status.st_rdev == nullStatus.st_rdev;
    }

    // Opens the output without emptying it or waiting on it: a FIFO, a device or a folder is
    // refused (but /dev/null is written), and a file that another writer holds locked is refused
    // before anything in it changes. The lock is held until the stream is closed.
    FileHandle openOutputFile(const std::string& path, WaveFileError& error, bool& nullDevice)
    {
        const int descriptor
            = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            // A FIFO without a reader and a socket refuse a non-blocking open with ENXIO.
            error = errno == ENXIO ? WaveFileError { WaveFileProblem::NotRegularFile, 0 }
                                   : systemError(errno);
            return nullptr;
        }
        const auto refuse = [&](WaveFileError reason) {
            error = reason;
            ::close(descriptor);
            return nullptr;
        };
        struct stat status { };
        if (::fstat(descriptor, &status) != 0)
            return refuse(systemError(errno));
        nullDevice = isNullDevice(status);
        if (!nullDevice) {
            if (!S_ISREG(status.st_mode))
                return refuse({ WaveFileProblem::NotRegularFile, 0 });
            if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0)
                return refuse(errno == EWOULDBLOCK ? WaveFileError { WaveFileProblem::InUse, 0 }
                                                   : systemError(errno));
            if (::ftruncate(descriptor, 0) != 0)
                return refuse(systemError(errno));
        }
        const int flags = ::fcntl(descriptor, F_GETFL);
        if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0)
            return refuse(systemError(errno));
        std::FILE* file = ::fdopen(descriptor, "wb");
        if (file == nullptr)
            return refuse(systemError(errno));
        return FileHandle(file);
    }

    // The RIFF size field is 32 bits and counts everything after itself, the pad byte included.
    bool riffSizeWouldOverflow(std::int64_t dataOffset, std::uint64_t dataBytes)
    {
        const std::uint64_t riffBytes = static_cast<std::uint64_t>(dataOffset) - 8 + dataBytes + 1;
        return riffBytes > std::numeric_limits<std::uint32_t>::max();
    }

    // Writes all the bytes at the given offset on the descriptor, past the stream and its buffer.
    bool writeAt(int descriptor, std::int64_t offset, const std::uint8_t* bytes, std::size_t count)
    {
        while (count > 0) {
            const ssize_t written = ::pwrite(descriptor, bytes, count, static_cast<off_t>(offset));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            bytes += written;
            count -= static_cast<std::size_t>(written);
            offset += written;
        }
        return true;
    }

    bool writeUint32At(int descriptor, std::int64_t offset, std::uint32_t value)
    {
        std::uint8_t bytes[4];
        storeUint32(bytes, value);
        return writeAt(descriptor, offset, bytes, sizeof bytes);
    }

    // Where a writer's chunks lie, and how much of its audio the caller handed over.
    struct WrittenLayout {
        std::int64_t riffDataOffset = 0;
        std::int64_t dataOffset = 0;
        std::uint64_t bytesAccepted = 0;
        std::uint16_t blockAlign = 1;
    };

    // Finishes a file whose writing went wrong around the audio that really reached it: whatever
    // the stream still buffers is dropped, the file is cut back to its whole frames on disk, and
    // the sizes are patched to match. Rewriting header bytes and shortening the file need no new
    // space, so this works on a full disk. True when the file could be finished.
    bool finishWrittenPart(std::FILE* file, const WrittenLayout& layout)
    {
        // What cannot be flushed now never reaches the file; purged, it cannot land after the
        // patch when the stream is closed.
        static_cast<void>(std::fflush(file));
        ::__fpurge(file);
        const int descriptor = ::fileno(file);
        struct stat status { };
        if (descriptor < 0 || ::fstat(descriptor, &status) != 0
            || status.st_size < layout.dataOffset)
            return false;

        // Bytes accepted but lost in the buffer are not on disk; bytes on disk beyond those
        // accepted are not audio (a pad byte or a stale tail).
        const auto bytesPresent = static_cast<std::uint64_t>(status.st_size - layout.dataOffset);
        const std::uint64_t frameBytes = std::max<std::uint16_t>(layout.blockAlign, 1);
        std::uint64_t dataBytes = std::min(layout.bytesAccepted, bytesPresent);
        dataBytes -= dataBytes % frameBytes;

        std::int64_t fileEnd = layout.dataOffset + static_cast<std::int64_t>(dataBytes);
        bool finished = ::ftruncate(descriptor, static_cast<off_t>(fileEnd)) == 0;
        finished = writeUint32At(
                       descriptor, layout.dataOffset - 4, static_cast<std::uint32_t>(dataBytes))
            && finished;
        // Without room for the pad byte the file simply ends with the data, where a reader stops.
        const std::uint8_t pad = 0;
        if ((dataBytes & 1u) != 0 && writeAt(descriptor, fileEnd, &pad, 1))
            ++fileEnd;
        finished = writeUint32At(descriptor, layout.riffDataOffset - 4,
                       static_cast<std::uint32_t>(fileEnd - 8))
            && finished;
        return finished;
    }

    // How often a writer brings its header's sizes up to date while it writes.
    constexpr std::chrono::seconds sizesRefreshInterval { 1 };

} // namespace

// Writes the sizes of what has been written so far into the header, so that a run killed at any
// moment leaves a valid wave file. The buffered audio goes out first: a size never counts bytes
// that are not in the file. No pad byte is counted, as none is written yet.
bool refreshWaveSizes(WaveWriter& writer)
{
    std::FILE* file = writer.file_.get();
    if (file == nullptr || std::fflush(file) != 0)
        return false;
    if (writer.discards_)
        return true;
    const int descriptor = ::fileno(file);
    const std::int64_t dataOffset = writer.dataChunk_.dataOffset;
    const auto dataBytes = static_cast<std::uint32_t>(writer.dataBytesWritten_);
    return writeUint32At(descriptor, dataOffset - 4, dataBytes)
        && writeUint32At(descriptor, writer.riffChunk_.dataOffset - 4,
            static_cast<std::uint32_t>(dataOffset - 8 + dataBytes));
}

std::unique_ptr<WaveReader> openWaveReader(
    const std::string& path, WaveFormat* format, std::uint32_t* dataLength, WaveFileError* failure)
{
    WaveFileError unused;
    WaveFileError& error = failure != nullptr ? *failure : unused;
    error = {};
    const auto refuse = [&](WaveFileProblem problem) {
        error.problem = problem;
        return nullptr;
    };
    if (!usablePath(path)) {
        error = systemError(path.empty() ? ENOENT : EINVAL);
        return nullptr;
    }
    auto reader = std::make_unique<WaveReader>();
    reader->file_ = openRegularFileForReading(path, error);
    std::FILE* file = reader->file_.get();
    if (file == nullptr)
        return nullptr;

    bool gaveUp = false;
    ChunkInfo riffChunk;
    riffChunk.formType = waveFormType;
    if (!descendChunk(file, riffChunk, nullptr, ChunkSearch::riffByFormType, &gaveUp))
        return refuse(gaveUp ? WaveFileProblem::TooManyChunks : WaveFileProblem::NotRiffWave);

    // The fmt search is not held to the RIFF chunk's extent, so a RIFF size that is too small does
    // not hide the format.
    ChunkInfo fmtChunk;
    fmtChunk.id = fmtId;
    if (!descendChunk(file, fmtChunk, nullptr, ChunkSearch::byId, &gaveUp))
        return refuse(gaveUp ? WaveFileProblem::TooManyChunks : WaveFileProblem::NoFormatChunk);
    // Refused before anything is allocated: a record too short for the fields callers read, or
    // longer than extraSize can describe.
    if (fmtChunk.size < minimalFormatBytes || fmtChunk.size > largestFormatBytes)
        return refuse(WaveFileProblem::BadFormatChunk);
    reader->formatBytes_.resize(fmtChunk.size);
    if (std::fread(reader->formatBytes_.data(), 1, fmtChunk.size, file) != fmtChunk.size
        || !ascendChunk(file, fmtChunk))
        return refuse(WaveFileProblem::BadFormatChunk);

    ChunkInfo dataChunk;
    dataChunk.id = dataId;
    if (!descendChunk(file, dataChunk, &riffChunk, ChunkSearch::byId, &gaveUp))
        return refuse(gaveUp ? WaveFileProblem::TooManyChunks : WaveFileProblem::NoDataChunk);

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
    if (reader.readError_ != 0) {
        errno = reader.readError_;
        return -1;
    }
    errno = 0;
    const std::size_t bytesRead = std::fread(buffer, 1, wanted, file);
    reader.dataBytesLeft_ -= bytesRead;
    if (bytesRead < wanted) {
        // A read error is not the end of the data: it is remembered, so that later reads fail too
        // rather than carrying on past the bytes that were lost.
        if (std::ferror(file)) {
            reader.readError_ = errno != 0 ? errno : EIO;
            if (bytesRead == 0) {
                errno = reader.readError_;
                return -1;
            }
        } else if (std::feof(file)) {
            reader.dataBytesLeft_ = 0; // a data chunk longer than the file ends with the file
        }
    }
    return static_cast<std::int64_t>(bytesRead);
}

std::unique_ptr<WaveWriter> createWaveWriter(const std::string& path, const WaveFormat& format)
{
    return createWaveWriter(path, format, {});
}

std::unique_ptr<WaveWriter> createWaveWriter(const std::string& path, const WaveFormat& format,
    std::span<const std::uint8_t> extraBytes, WaveFileError* failure)
{
    WaveFileError unused;
    WaveFileError& error = failure != nullptr ? *failure : unused;
    error = {};
    if (!usablePath(path) || extraBytes.size() != format.extraSize) {
        error = systemError(path.empty() ? ENOENT : EINVAL);
        return nullptr;
    }
    auto writer = std::make_unique<WaveWriter>();
    writer->format_ = format;
    writer->extraBytes_.assign(extraBytes.begin(), extraBytes.end());
    writer->file_ = openOutputFile(path, error, writer->discards_);
    std::FILE* file = writer->file_.get();
    if (file == nullptr)
        return nullptr;
    // Past this point only writing can fail.
    const auto writeFailed = [&]() {
        error = systemError(errno != 0 ? errno : EIO);
        return nullptr;
    };

    writer->riffChunk_.id = riffId;
    writer->riffChunk_.formType = waveFormType;
    if (!createChunk(file, writer->riffChunk_))
        return writeFailed();

    ChunkInfo fmtChunk;
    fmtChunk.id = fmtId;
    fmtChunk.size = static_cast<std::uint32_t>(formatRecordBytes + extraBytes.size());
    const auto record = encodeWaveFormat(format);
    if (!createChunk(file, fmtChunk)
        || std::fwrite(record.data(), 1, record.size(), file) != record.size()
        || (!extraBytes.empty()
            && std::fwrite(extraBytes.data(), 1, extraBytes.size(), file) != extraBytes.size())
        || std::ferror(file) || !ascendChunk(file, fmtChunk))
        return writeFailed();

    writer->dataChunk_.id = dataId;
    if (!createChunk(file, writer->dataChunk_))
        return writeFailed();
    // A full disk or an unwritable device shows here rather than after the whole run.
    if (std::fflush(file) != 0)
        return writeFailed();
    writer->sizesRefreshed_ = std::chrono::steady_clock::now();
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
    const auto now = std::chrono::steady_clock::now();
    if (now - writer.sizesRefreshed_ >= sizesRefreshInterval) {
        writer.sizesRefreshed_ = now;
        if (!refreshWaveSizes(writer)) {
            writer.failed_ = true;
            return -1;
        }
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
    // The null device keeps nothing, so it has no header to finish.
    if (writer->discards_)
        return !writer->failed_ && std::fclose(writer->file_.release()) == 0;
    // The buffered audio goes out before the header is touched, so that its failure is seen.
    bool finished = !writer->failed_ && std::fflush(file) == 0
        && ascendChunk(file, writer->dataChunk_) && ascendChunk(file, writer->riffChunk_);
    finished = finished && std::fflush(file) == 0 && !std::ferror(file);
    // After a failed write the file still becomes a valid, shorter recording of the audio that
    // reached it; the failure is reported all the same.
    if (!finished) {
        static_cast<void>(finishWrittenPart(file,
            { writer->riffChunk_.dataOffset, writer->dataChunk_.dataOffset,
                writer->dataBytesWritten_, writer->format_.blockAlign }));
    }
    finished = std::fclose(writer->file_.release()) == 0 && finished;
    return finished;
}

} // namespace lumivox::wave
