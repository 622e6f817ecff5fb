// A loopback relay that holds every byte back a while in each direction, to play a distant
// host in front of a local server (this kernel has no netem to delay loopback traffic).

#pragma once

#include "loopbackserver.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <thread>

// Accepts on 127.0.0.1 with an ephemeral port and joins each connection to
// the target port, delaying what it forwards by oneWay in each direction:
// a round trip of twice that, whatever the protocol inside (TLS, HTTP/2).
// Bytes flow as fast as they come; only their arrival is late.
class DelayRelay
{
public:
    DelayRelay(std::uint16_t targetPort, std::chrono::milliseconds oneWay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    std::uint16_t port() const { return m_port; }

private:
    class Pipe;
    struct Joined
    {
        nqtest::UniqueFd client;
        nqtest::UniqueFd server;
        std::unique_ptr<Pipe> up;
        std::unique_ptr<Pipe> down;
    };

    void acceptLoop();

    const std::uint16_t m_target;
    const std::chrono::milliseconds m_delay;
    nqtest::UniqueFd m_listener;
    std::uint16_t m_port = 0;
    // Touched only by the accept thread, and by the destructor once it has ended.
    std::list<Joined> m_joined;
    std::thread m_acceptThread;
};
