#pragma once

#include <array>
#include <atomic>
#include <csignal>

namespace lumivox::cli {

// While it exists, Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal, a logout) raise the
// given flag, as the window's Cancel and Stop do, so the job ends at its next block with the
// output finished. A second such signal ends the program at once, for a user who will not wait.
// Only one may exist at a time.
class InterruptToStop {
public:
    explicit InterruptToStop(std::atomic<bool>& stopFlag);
    ~InterruptToStop();
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;

    [[nodiscard]] bool interrupted() const { return signalNumber() != 0; }
    // The first signal that asked the run to stop; 0 when none did.
    [[nodiscard]] int signalNumber() const;

    static constexpr std::array<int, 3> stopSignals { SIGINT, SIGTERM, SIGHUP };

private:
    std::array<struct sigaction, stopSignals.size()> previousActions {};
    std::array<bool, stopSignals.size()> installed {};
};

} // namespace lumivox::cli
