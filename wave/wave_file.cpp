#include "wave_file.h"

#include "little_endian.h"
#include "lock_holder.h"

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

    // Why a file that someone else holds locked is refused, by who holds it.
    WaveFileError lockedBy(LockHolder holder)
    {
        switch (holder) {
        case LockHolder::LumivoxWriter:
            return { WaveFileProblem::InUse, 0 };
        case LockHolder::LumivoxReader:
            return { WaveFileProblem::BeingRead, 0 };
        case LockHolder::Unknown:
        case LockHolder::OtherProgram:
            break;
        }
        return { WaveFileProblem::LockedElsewhere, 0 };
    }

    // Opens only regular files: a device or a pipe could feed the chunk search forever or block
    // the open. A file that a writer holds locked is refused.
    FileHandle openRegularFileForReading(const std::string& path, WaveFileError& error)
    {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            // A socket refuses to be opened with ENXIO.
            error = errno == ENXIO ? WaveFileError { WaveFileProblem::NotRegularFile, 0 }
                                   : systemError(errno);
            return nullptr;
        }
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
            error = S_ISDIR(status.st_mode) ? systemError(EISDIR)
                                            : WaveFileError { WaveFileProblem::NotRegularFile, 0 };
            ::close(descriptor);
            return nullptr;
        }
        // Held shared while the file is open: a Lumivox run cannot empty it for its output
        // meanwhile, and other readers are welcome. A file system without locks is read all the
        // same.
        if (::flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            error = lockedBy(findLockHolder(descriptor));
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
    // refused (but /dev/null is written), and a file that anyone holds locked, a reader included,
    // is refused before anything in it changes. The lock is held until the stream is closed.
    FileHandle openOutputFile(const std::string& path, WaveFileError& error, bool& nullDevice)
    {
        // Opened for reading too, so that the header can be checked while the file is written;
        // a file that may only be written is written all the same.
        const int flags = O_CREAT | O_NONBLOCK | O_CLOEXEC;
        int descriptor = ::open(path.c_str(), O_RDWR | flags, 0666);
        if (descriptor < 0 && errno == EACCES)
            descriptor = ::open(path.c_str(), O_WRONLY | flags, 0666);
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
                return refuse(errno == EWOULDBLOCK ? lockedBy(findLockHolder(descriptor))
                                                   : systemError(errno));
            if (::ftruncate(descriptor, 0) != 0)
                return refuse(systemError(errno));
        }
        const int statusFlags = ::fcntl(descriptor, F_GETFL);
        if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) != 0)
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

    // The header of an output file with both sizes 0: "RIFF" of form "WAVE", the fmt chunk (the
    // record, the extra bytes and a pad byte after an odd count) and the data chunk's header.
    std::vector<std::uint8_t> outputHeader(
        const WaveFormat& format, std::span<const std::uint8_t> extraBytes)
    {
        const std::size_t fmtBytes = formatRecordBytes + extraBytes.size();
        std::vector<std::uint8_t> header(12 + 8 + fmtBytes + (fmtBytes & 1u) + 8, 0);
        std::uint8_t* next = header.data();
        const auto putId = [&](const FourCC& id) { next = std::copy(id.begin(), id.end(), next); };
        const auto putUint32 = [&](std::uint32_t value) {
            storeUint32(next, value);
            next += 4;
        };
        putId(riffId);
        putUint32(0);
        putId(waveFormType);
        putId(fmtId);
        putUint32(static_cast<std::uint32_t>(fmtBytes));
        const auto record = encodeWaveFormat(format);
        next = std::copy(record.begin(), record.end(), next);
        next = std::copy(extraBytes.begin(), extraBytes.end(), next);
        next += fmtBytes & 1u; // the pad byte, left zero
        putId(dataId);
        return header; // the data chunk's size is the last four bytes, left zero
    }

    // Puts the two sizes into a header: the data chunk's, and the RIFF chunk's up to fileEnd.
    void setHeaderSizes(
        std::vector<std::uint8_t>& header, std::uint64_t dataBytes, std::int64_t fileEnd)
    {
        storeUint32(header.data() + 4, static_cast<std::uint32_t>(fileEnd - 8));
        storeUint32(header.data() + header.size() - 4, static_cast<std::uint32_t>(dataBytes));
    }

    bool writeHeader(int descriptor, const std::vector<std::uint8_t>& header)
    {
        return writeAt(descriptor, 0, header.data(), header.size());
    }

    // False when the file does not start with exactly the given bytes; true as well when it
    // cannot be read back (opened for writing only).
    bool startsWith(int descriptor, std::span<const std::uint8_t> expected)
    {
        std::uint8_t found[256];
        for (std::size_t offset = 0; offset < expected.size();) {
            const std::size_t wanted = std::min(sizeof found, expected.size() - offset);
            const ssize_t count = ::pread(descriptor, found, wanted, static_cast<off_t>(offset));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return true;
            if (count == 0 || !std::equal(found, found + count, expected.begin() + offset))
                return false;
            offset += static_cast<std::size_t>(count);
        }
        return true;
    }

    // True when the file no longer holds what the writer put there: it is shorter than the bytes
    // written, its header is not the one written last, or part of it reads back as a hole, as it
    // does when another program emptied it and the writer's next block grew it again. Called with
    // the stream's buffer flushed; a check the system cannot make counts as passed.
    bool cutUnderWriter(
        int descriptor, std::span<const std::uint8_t> header, std::uint64_t bytesWritten)
    {
        struct stat status { };
        if (::fstat(descriptor, &status) != 0)
            return false;
        if (static_cast<std::uint64_t>(status.st_size) < bytesWritten)
            return true;
        if (!startsWith(descriptor, header))
            return true;
        // Looking for a hole moves the descriptor's offset, which the stream writes at next.
        const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
        const off_t hole = ::lseek(descriptor, 0, SEEK_HOLE);
        if (position < 0 || ::lseek(descriptor, position, SEEK_SET) != position)
            return false;
        return hole >= 0 && static_cast<std::uint64_t>(hole) < bytesWritten;
    }

    // Finishes a file whose writing went wrong around the audio that really reached it: whatever
    // the stream still buffers is dropped, the file is cut back to its whole frames on disk, and
    // the whole header is written with sizes to match. Rewriting the header and shortening the
    // file need no new space, so this works on a full disk. A file emptied under the writer gets
    // its header back. True when the file could be finished.
    bool finishWrittenPart(std::FILE* file, std::vector<std::uint8_t>& header,
        std::uint64_t bytesAccepted, std::uint16_t blockAlign)
    {
        // What cannot be flushed now never reaches the file; purged, it cannot land after the
        // header when the stream is closed.
        static_cast<void>(std::fflush(file));
        ::__fpurge(file);
        const int descriptor = ::fileno(file);
        struct stat status { };
        if (descriptor < 0 || ::fstat(descriptor, &status) != 0)
            return false;

        // Bytes accepted but lost in the buffer are not on disk; bytes on disk beyond those
        // accepted are not audio (a pad byte or a stale tail).
        const auto dataOffset = static_cast<std::int64_t>(header.size());
        const std::uint64_t bytesPresent = status.st_size > dataOffset
            ? static_cast<std::uint64_t>(status.st_size - dataOffset)
            : 0;
        const std::uint64_t frameBytes = std::max<std::uint16_t>(blockAlign, 1);
        std::uint64_t dataBytes = std::min(bytesAccepted, bytesPresent);
        dataBytes -= dataBytes % frameBytes;

        std::int64_t fileEnd = dataOffset + static_cast<std::int64_t>(dataBytes);
        bool finished = ::ftruncate(descriptor, static_cast<off_t>(fileEnd)) == 0;
        // Without room for the pad byte the file simply ends with the data, where a reader stops.
        const std::uint8_t pad = 0;
        if ((dataBytes & 1u) != 0 && writeAt(descriptor, fileEnd, &pad, 1))
            ++fileEnd;
        setHeaderSizes(header, dataBytes, fileEnd);
        return writeHeader(descriptor, header) && finished;
    }

    // Marks the writer failed, keeping the first reason.
    void noteFailure(WaveWriter::Failure& failure, WaveFileError reason)
    {
        if (failure.reason.problem == WaveFileProblem::None)
            failure.reason = reason;
        failure.failed = true;
    }

    WaveFileError errnoOrEio() { return systemError(errno != 0 ? errno : EIO); }

    // How often a writer brings its header up to date while it writes.
    constexpr std::chrono::seconds sizesRefreshInterval { 1 };

} // namespace

// Writes the whole header, with the sizes of what has been written so far, so that a run killed
// at any moment leaves a valid wave file even if another program has overwritten the header. The
// buffered audio goes out first: a size never counts bytes that are not in the file. No pad byte
// is counted, as none is written yet. A file that was cut short under the writer is left alone and
// the writer fails.
bool refreshWaveSizes(WaveWriter& writer)
{
    std::FILE* file = writer.file_.get();
    if (file == nullptr)
        return false;
    errno = 0;
    if (std::fflush(file) != 0) {
        noteFailure(writer.failure_, errnoOrEio());
        return false;
    }
    if (writer.discards_)
        return true;
    const int descriptor = ::fileno(file);
    const auto dataOffset = static_cast<std::int64_t>(writer.header_.size());
    const std::int64_t fileEnd = dataOffset + static_cast<std::int64_t>(writer.dataBytesWritten_);
    if (cutUnderWriter(descriptor, writer.header_, static_cast<std::uint64_t>(fileEnd))) {
        noteFailure(writer.failure_, { WaveFileProblem::CutShort, 0 });
        return false;
    }
    setHeaderSizes(writer.header_, writer.dataBytesWritten_, fileEnd);
    errno = 0;
    if (!writeHeader(descriptor, writer.header_)) {
        noteFailure(writer.failure_, errnoOrEio());
        return false;
    }
    return true;
}

FileHandle holdForReading(const std::string& path, WaveFileError* failure)
{
    WaveFileError unused;
    WaveFileError& error = failure != nullptr ? *failure : unused;
    error = {};
    if (!usablePath(path)) {
        error = systemError(path.empty() ? ENOENT : EINVAL);
        return nullptr;
    }
    return openRegularFileForReading(path, error);
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
    struct stat status { };
    const long position = std::ftell(file);
    if (position >= 0 && ::fstat(::fileno(file), &status) == 0 && status.st_size >= position)
        reader->declaredLengthHeld_
            = static_cast<std::uint64_t>(status.st_size - position) >= dataChunk.size;
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
    reader.dataBytesRead_ += bytesRead;
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
            // A data chunk longer than the file ends with the file, and the reader says so.
            reader.dataBytesLeft_ = 0;
            reader.endedEarly_ = true;
        }
    }
    return static_cast<std::int64_t>(bytesRead);
}

FileHandle openForOutput(const std::string& path, WaveFileError* failure)
{
    WaveFileError unused;
    WaveFileError& error = failure != nullptr ? *failure : unused;
    error = {};
    if (!usablePath(path)) {
        error = systemError(path.empty() ? ENOENT : EINVAL);
        return nullptr;
    }
    bool nullDevice = false;
    return openOutputFile(path, error, nullDevice);
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
    writer->file_ = openOutputFile(path, error, writer->discards_);
    std::FILE* file = writer->file_.get();
    if (file == nullptr)
        return nullptr;
    // Past this point only writing can fail.
    writer->header_ = outputHeader(format, extraBytes);
    // Sizes that describe the empty file it is until the first refresh, so that a run killed
    // within its first second still leaves a wave file whose sizes add up.
    setHeaderSizes(writer->header_, 0, static_cast<std::int64_t>(writer->header_.size()));
    errno = 0;
    // A full disk or an unwritable device shows here rather than after the whole run.
    if (std::fwrite(writer->header_.data(), 1, writer->header_.size(), file)
            != writer->header_.size()
        || std::fflush(file) != 0) {
        error = errnoOrEio();
        return nullptr;
    }
    writer->sizesRefreshed_ = std::chrono::steady_clock::now();
    return writer;
}

std::int64_t writeWave(WaveWriter& writer, const void* buffer, std::size_t byteCount)
{
    std::FILE* file = writer.file_.get();
    if (file == nullptr || writer.failure_.failed || (buffer == nullptr && byteCount > 0))
        return -1;
    if (byteCount == 0)
        return 0;
    const auto dataOffset = static_cast<std::int64_t>(writer.header_.size());
    if (byteCount > std::numeric_limits<std::uint32_t>::max()
        || riffSizeWouldOverflow(dataOffset, writer.dataBytesWritten_ + byteCount)) {
        noteFailure(writer.failure_, systemError(EFBIG));
        return -1;
    }
    errno = 0;
    const std::size_t bytesWritten = std::fwrite(buffer, 1, byteCount, file);
    writer.dataBytesWritten_ += bytesWritten;
    // A block may only reach the buffer; the failure of an earlier block's flush shows here, as a
    // short count or the stream's error flag.
    if (bytesWritten != byteCount || std::ferror(file)) {
        noteFailure(writer.failure_, errnoOrEio());
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - writer.sizesRefreshed_ >= sizesRefreshInterval) {
        writer.sizesRefreshed_ = now;
        if (!refreshWaveSizes(writer))
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

bool closeWave(std::unique_ptr<WaveWriter> writer, WaveFileError* failure)
{
    WaveFileError unused;
    WaveFileError& error = failure != nullptr ? *failure : unused;
    error = {};
    if (writer == nullptr || writer->file_ == nullptr) {
        error = systemError(EBADF);
        return false;
    }
    WaveWriter::Failure& failed = writer->failure_;
    std::FILE* file = writer->file_.get();
    errno = 0;
    // The buffered audio goes out before the header is touched, so that its failure is seen.
    if (!failed.failed && std::fflush(file) != 0)
        noteFailure(failed, errnoOrEio());
    // The null device keeps nothing, so it has no header to finish.
    if (!writer->discards_) {
        const int descriptor = ::fileno(file);
        const std::uint64_t dataBytes = writer->dataBytesWritten_;
        std::int64_t fileEnd = static_cast<std::int64_t>(writer->header_.size() + dataBytes);
        if (!failed.failed
            && cutUnderWriter(descriptor, writer->header_, static_cast<std::uint64_t>(fileEnd)))
            noteFailure(failed, { WaveFileProblem::CutShort, 0 });
        const std::uint8_t pad = 0;
        if (!failed.failed && (dataBytes & 1u) != 0) {
            if (std::fwrite(&pad, 1, 1, file) != 1 || std::fflush(file) != 0)
                noteFailure(failed, errnoOrEio());
            else
                ++fileEnd;
        }
        if (!failed.failed) {
            setHeaderSizes(writer->header_, dataBytes, fileEnd);
            if (!writeHeader(descriptor, writer->header_))
                noteFailure(failed, errnoOrEio());
        }
        // After a failed write the file still becomes a valid, shorter recording of the audio
        // that reached it; the failure is reported all the same.
        if (failed.failed) {
            static_cast<void>(
                finishWrittenPart(file, writer->header_, dataBytes, writer->format_.blockAlign));
        }
    }
    errno = 0;
    if (std::fclose(writer->file_.release()) != 0)
        noteFailure(failed, errnoOrEio());
    if (failed.failed)
        error = failed.reason;
    return !failed.failed;
}

} // namespace lumivox::wave
