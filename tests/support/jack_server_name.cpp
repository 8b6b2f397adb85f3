#include "jack_server_name.h"

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumivox::test {

namespace {
    constexpr int poolSize = 4;

    // The lock file of a name of the pool; readable and writable by every user, so that one
    // user's tests do not lock another's out of it.
    int openLock(int index)
    {
        const std::string path = "/tmp/lumivox-test-jack-" + std::to_string(index) + ".lock";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0)
            static_cast<void>(::fchmod(fd, 0666));
        return fd;
    }
} // namespace

JackServerName::JackServerName()
{
    for (;;) {
        int opened = 0;
        for (int index = 0; index < poolSize; ++index) {
            const int fd = openLock(index);
            if (fd < 0)
                continue;
            ++opened;
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                lockFd = fd;
                serverName = "lumivox-test-" + std::to_string(index);
                return;
            }
            ::close(fd);
        }
        if (opened == 0) { // no lock file can be made: a name of this process's own
            serverName = "lumivox-test-" + std::to_string(::getpid());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

JackServerName::~JackServerName()
{
    if (lockFd >= 0)
        ::close(lockFd); // releases the lock
}

} // namespace lumivox::test
