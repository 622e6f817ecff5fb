#pragma once

#include "loopbackserver.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

// HTTP/1.1 server of fixed pages on 127.0.0.1 with an ephemeral port that
// keeps connections open for further requests, as real servers do, so that a
// client that reuses its connections gains by it. It can hold back its
// replies to play a distant host: one round trip before the first reply of a
// connection (its set-up) and one before every reply.
class SiteServer
{
public:
    struct Latency
    {
        std::chrono::milliseconds perConnection{0};
        std::chrono::milliseconds perRequest{0};
    };
    using Pages = std::unordered_map<std::string, std::string>; // path to HTML body

    explicit SiteServer(Pages pages) : SiteServer(std::move(pages), Latency()) {}
    SiteServer(Pages pages, Latency latency);
    ~SiteServer();
    SiteServer(const SiteServer&) = delete;
    SiteServer& operator=(const SiteServer&) = delete;

    std::string url(std::string_view path) const;
    std::size_t connectionCount() const { return m_connectionCount; }
    std::size_t requestCount() const { return m_requestCount; }
    // Requests held from their arrival to their reply's last byte, on
    // average over the span from the first arrival to the last reply since
    // the last reset: the client's requests in flight as the server saw them.
    double meanInFlight() const;
    void resetInFlight();

private:
    struct Connection
    {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(int socket);
    bool pause(std::chrono::milliseconds delay) const;
    bool sendAll(int socket, std::string_view bytes) const;
    void reapFinished();

    const Pages m_pages; // never changed once serving: read without a lock
    const Latency m_latency;
    nqtest::UniqueFd m_listener;
    nqtest::UniqueFd m_wakeRead;
    nqtest::UniqueFd m_wakeWrite;
    std::uint16_t m_port = 0;
    std::atomic<std::size_t> m_connectionCount{0};
    std::atomic<std::size_t> m_requestCount{0};
    mutable std::mutex m_flightMutex;
    std::chrono::steady_clock::duration m_busy{};
    std::chrono::steady_clock::time_point m_firstArrival{};
    std::chrono::steady_clock::time_point m_lastReply{};
    bool m_anyRequest = false;

    // Touched only by the accept thread, and by the destructor once it has ended.
    std::list<Connection> m_connections;
    std::thread m_acceptThread;
};
