#pragma once

#include <string>

namespace lumivox::test {

// The name of a test's own JACK server, taken from a pool of four that every test process on the
// computer shares, and held until this object goes. JACK keeps a slot for each server name in a
// registry of eight that all servers of the user share, and a server that ends without cleaning
// up (killed, or failing on its way out) keeps its slot until a server of the same name starts
// again: named afresh each time, eight such endings would leave no JACK test able to start a
// server. Waits while all four are held by other tests.
class JackServerName {
public:
    JackServerName();
    ~JackServerName();
    JackServerName(const JackServerName&) = delete;
    JackServerName& operator=(const JackServerName&) = delete;

    [[nodiscard]] const std::string& name() const { return serverName; }

private:
    int lockFd = -1;
    std::string serverName;
};

} // namespace lumivox::test
