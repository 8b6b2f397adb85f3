#include "single_instance_guard.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumivox::app {

SingleInstanceGuard::SingleInstanceGuard(std::string_view name)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays '\0': the name lives in the abstract namespace, not in the file system.
    if (name.empty() || name.size() > sizeof address.sun_path - 1) {
        creationError = ENAMETOOLONG;
        return;
    }
    socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        creationError = errno;
        return;
    }
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    // The exact length: with sizeof(sockaddr_un) the trailing zeros would become part of the name.
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        creationError = errno == EADDRINUSE ? alreadyInUse : errno;
        close(socketFd);
        socketFd = -1;
    }
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    if (socketFd >= 0)
        close(socketFd);
}

} // namespace lumivox::app
