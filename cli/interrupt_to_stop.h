#pragma once

#include <atomic>
#include <csignal>

namespace lumivox::cli {

// While it exists, Ctrl-C (SIGINT) raises the given flag, as the window's Cancel and Stop do, so
// the job ends at its next block with the output finished. A second Ctrl-C ends the program at
// once, for a user who will not wait. Only one may exist at a time.
class InterruptToStop {
public:
    explicit InterruptToStop(std::atomic<bool>& stopFlag);
    ~InterruptToStop();
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;

    [[nodiscard]] bool interrupted() const;

private:
    struct sigaction previousAction { };
    bool installed = false;
};

} // namespace lumivox::cli
