#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace lumivox::fuzz {

// An in-memory file for the whole run, reached by path like any file on disk.
inline int memoryFile(const char* name)
{
    const int descriptor = ::memfd_create(name, MFD_CLOEXEC);
    if (descriptor < 0)
        std::abort();
    return descriptor;
}

inline std::string pathOf(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

// Makes the file hold exactly these bytes.
inline bool replaceContents(int descriptor, const std::uint8_t* data, std::size_t size)
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

// A property every input must keep; a broken one is a finding.
inline void check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace lumivox::fuzz
