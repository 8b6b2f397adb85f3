#include "termination_signals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace lumivox::app {

namespace {

    std::atomic<int> signalWriteEnd { -1 };
    static_assert(std::atomic<int>::is_always_lock_free);

    extern "C" void forwardSignal(int signalNumber)
    {
        const int savedErrno = errno;
        const auto byte = static_cast<unsigned char>(signalNumber);
        const int descriptor = signalWriteEnd.load();
        // A byte not written (the pipe full of earlier ones) still leaves one to wake the loop.
        if (descriptor >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(descriptor, &byte, 1);
        }
        errno = savedErrno;
    }

    constexpr int forwardedSignals[] = { SIGTERM, SIGHUP };

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> callback)
    : onSignal(std::move(callback))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets) != 0)
        return;
    notifier = std::make_unique<QSocketNotifier>(sockets[1], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char drained[16];
        while (::read(sockets[1], drained, sizeof drained) > 0) { }
        onSignal();
    });
    signalWriteEnd.store(sockets[0]);

    struct sigaction action { };
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : forwardedSignals)
        static_cast<void>(sigaction(signalNumber, &action, nullptr));
}

TerminationSignals::~TerminationSignals()
{
    for (const int signalNumber : forwardedSignals)
        static_cast<void>(std::signal(signalNumber, SIG_DFL));
    signalWriteEnd.store(-1);
    notifier.reset();
    for (const int descriptor : sockets) {
        if (descriptor >= 0)
            ::close(descriptor);
    }
}

} // namespace lumivox::app
