#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace lumivox::app {

// Turns SIGTERM and SIGHUP (a logout, a service manager) into a call on the event loop. The
// handler only writes the signal's number into a socket pair; a notifier on the other end makes
// the call, so no Qt code ever runs inside the handler. Only one may exist at a time.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    int sockets[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> onSignal;
};

} // namespace lumivox::app
