#include "interrupt_to_stop.h"

#include <cstring>

namespace lumivox::cli {

namespace {

    // A signal handler may only touch lock-free atomics.
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

    std::atomic<std::atomic<bool>*> flagToRaise { nullptr };
    std::atomic<bool> interruptSeen { false };

    extern "C" void raiseStopFlag(int)
    {
        interruptSeen.store(true);
        if (std::atomic<bool>* flag = flagToRaise.load())
            flag->store(true);
    }

} // namespace

InterruptToStop::InterruptToStop(std::atomic<bool>& stopFlag)
{
    interruptSeen.store(false);
    flagToRaise.store(&stopFlag);

    struct sigaction action { };
    action.sa_handler = raiseStopFlag;
    sigemptyset(&action.sa_mask);
    // SA_RESTART keeps file and device writes going; SA_RESETHAND lets a second Ctrl-C through.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    installed = sigaction(SIGINT, &action, &previousAction) == 0;

    // A parent may have left SIGINT blocked; a run that cannot be stopped would surprise the user.
    sigset_t interruptOnly;
    sigemptyset(&interruptOnly);
    sigaddset(&interruptOnly, SIGINT);
    static_cast<void>(sigprocmask(SIG_UNBLOCK, &interruptOnly, nullptr));
}

InterruptToStop::~InterruptToStop()
{
    if (installed)
        static_cast<void>(sigaction(SIGINT, &previousAction, nullptr));
    flagToRaise.store(nullptr);
}

bool InterruptToStop::interrupted() const { return interruptSeen.load(); }

} // namespace lumivox::cli
