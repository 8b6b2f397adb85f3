#pragma once

#include <string_view>

namespace lumivox::app {

// Marks a running copy of the program with a name every process of the machine sees: an
// abstract-namespace Unix socket, which vanishes when its holder ends, even when killed.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(std::string_view name = "Lumivox10");
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // True only when another process holds the name. Any other failure lets the program run
    // unguarded.
    [[nodiscard]] bool anotherInstanceRunning() const { return creationError == alreadyInUse; }
    [[nodiscard]] bool holdsName() const { return socketFd >= 0 && creationError == 0; }

private:
    static constexpr int alreadyInUse = -2;
    int socketFd = -1;
    int creationError = 0; // 0, alreadyInUse, or the errno of a failed socket or bind
};

} // namespace lumivox::app
