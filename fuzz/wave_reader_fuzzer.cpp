// Feeds arbitrary bytes to the wave reader as a file: open, then read every sample byte.

#include "wave/wave_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// One in-memory file for the whole run, reached by path like any file on disk.
int memoryFile()
{
    static const int descriptor = [] {
        const int created = ::memfd_create("lumivox-wave-fuzz", MFD_CLOEXEC);
        if (created < 0)
            std::abort();
        return created;
    }();
    return descriptor;
}

bool replaceContents(int descriptor, const std::uint8_t* data, std::size_t size)
{
    if (::ftruncate(descriptor, 0) != 0)
        return false;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t result
            = ::pwrite(descriptor, data + written, size - written, static_cast<off_t>(written));
        if (result <= 0)
            return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lumivox::wave;
    const int descriptor = memoryFile();
    if (!replaceContents(descriptor, data, size))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(descriptor);

    WaveFormat format;
    std::uint32_t dataLength = 0;
    auto reader = openWaveReader(path, &format, &dataLength);
    if (reader == nullptr)
        return 0;

    // What the open promised must hold whatever the file says.
    const auto formatBytes = reader->formatBytes();
    if (formatBytes.size() < minimalFormatBytes || formatBytes.size() > largestFormatBytes)
        std::abort();
    if (dataLength != reader->dataLength())
        std::abort();

    std::uint8_t block[4096];
    std::uint64_t totalBytes = 0;
    for (;;) {
        const std::int64_t bytesRead = readWave(*reader, block, sizeof block);
        if (bytesRead < 0 || static_cast<std::size_t>(bytesRead) > sizeof block)
            std::abort();
        if (bytesRead == 0)
            break;
        totalBytes += static_cast<std::uint64_t>(bytesRead);
    }
    // Reads stop at the data chunk's declared end and cannot return more than the file holds.
    if (totalBytes > dataLength || totalBytes > size)
        std::abort();
    if (!closeWave(std::move(reader)))
        std::abort();
    return 0;
}
