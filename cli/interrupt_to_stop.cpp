#include "interrupt_to_stop.h"

namespace lumivox::cli {

namespace {

    // A signal handler may only touch lock-free atomics.
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<int>::is_always_lock_free);
    static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

    std::atomic<std::atomic<bool>*> flagToRaise { nullptr };
    std::atomic<int> firstSignal { 0 };

    extern "C" void raiseStopFlag(int signalNumber)
    {
        int none = 0;
        firstSignal.compare_exchange_strong(none, signalNumber);
        if (std::atomic<bool>* flag = flagToRaise.load())
            flag->store(true);
        // The next stop signal of any kind ends the program at once.
        for (const int other : InterruptToStop::stopSignals)
            static_cast<void>(std::signal(other, SIG_DFL));
    }

} // namespace

InterruptToStop::InterruptToStop(std::atomic<bool>& stopFlag)
{
    firstSignal.store(0);
    flagToRaise.store(&stopFlag);

    struct sigaction action { };
    action.sa_handler = raiseStopFlag;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : stopSignals)
        sigaddset(&action.sa_mask, signalNumber);
    // SA_RESTART keeps file and device writes going.
    action.sa_flags = SA_RESTART;
    sigset_t unblocked;
    sigemptyset(&unblocked);
    for (std::size_t index = 0; index < stopSignals.size(); ++index) {
        installed[index] = sigaction(stopSignals[index], &action, &previousActions[index]) == 0;
        sigaddset(&unblocked, stopSignals[index]);
    }
    // A parent may have left them blocked; a run that cannot be stopped would surprise the user.
    static_cast<void>(sigprocmask(SIG_UNBLOCK, &unblocked, nullptr));
}

InterruptToStop::~InterruptToStop()
{
    for (std::size_t index = 0; index < stopSignals.size(); ++index) {
        if (installed[index])
            static_cast<void>(sigaction(stopSignals[index], &previousActions[index], nullptr));
    }
    flagToRaise.store(nullptr);
}

int InterruptToStop::signalNumber() const { return firstSignal.load(); }

} // namespace lumivox::cli
