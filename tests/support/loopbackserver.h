#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace nqtest {

// Owns one POSIX file descriptor so that no exit path can leak it.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }
    int release() noexcept { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) noexcept;

private:
    int m_fd = -1;
};

struct Request
{
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The server's clock when the request came in (see setClock); 0 without one.
    double time = 0;

    std::string header(std::string_view name) const;
};

struct Reply
{
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool addContentLength = true;
    bool chunked = false;
    std::size_t chunkSize = 1000;
    std::optional<std::size_t> stallAfter;
    // Above zero: the reply goes out one byte at a time, this far apart.
    std::chrono::milliseconds dripInterval{0};
    // With dripInterval: the head goes out at once, only the body drips.
    bool dripBodyOnly = false;

    static Reply html(std::string body);
    static Reply redirect(int status, std::string location);
};

// "http://127.0.0.1:PORT/" where a server listened a moment ago and nothing
// listens now: a connection there is refused.
std::string RefusedAddress();

// HTTP/1.x server on 127.0.0.1 with an ephemeral port; one request per connection unless
// keep-alive is switched on.
class LoopbackServer
{
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const;
    std::string url(std::string_view path = "/") const;

    void serve(std::string path, Reply reply);
    // The first request to path gets first, each later one the next of then;
    // the last of them answers every request after.
    void serveSequence(std::string path, Reply first, std::vector<Reply> then);
    // Stamps each request with clock() as it comes in. The clock is called
    // on the server's threads: it may read nothing but atomics.
    void setClock(std::function<double()> clock);
    void serveRaw(std::string path, std::string bytes, std::optional<std::size_t> stallAfter = {});

    // Asked first for every request, under the server's lock: a reply it
    // gives (a 401 to a request without credentials) is served instead of
    // the path's.
    void setGate(std::function<std::optional<Reply>(const Request&)> gate);

    std::vector<Request> requests() const;
    std::size_t requestCount() const;

    void releaseStalls();

    // On: a connection serves one request after another while the client asks to keep it
    // (HTTP/1.1 unless "Connection: close", HTTP/1.0 with "Connection: keep-alive"). Raw,
    // stalled, dripped and unframed replies still close it.
    void setKeepAlive(bool on);
    // Connections accepted so far.
    std::size_t connectionCount() const;

private:
    struct Route
    {
        Reply reply;
        std::optional<std::string> raw;
        std::optional<std::size_t> rawStallAfter;
        std::vector<Reply> then; // the replies after the first, in turn
        std::size_t served = 0;
    };
    struct Connection
    {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void startConnection(UniqueFd socket);
    void reapFinished();
    void handleConnection(int socket);
    Route* findRoute(std::string_view target);
    void waitForRelease(std::uint64_t generation);
    bool pause(std::chrono::milliseconds interval);

    UniqueFd m_listener;
    UniqueFd m_wakeRead;
    UniqueFd m_wakeWrite;
    std::uint16_t m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::map<std::string, Route, std::less<>> m_routes;
    std::function<std::optional<Reply>(const Request&)> m_gate;
    std::vector<Request> m_requests;
    std::function<double()> m_clock;
    std::uint64_t m_releaseGeneration = 0;
    bool m_stopping = false;
    bool m_keepAlive = false;
    std::size_t m_connectionCount = 0;

    // Touched only by the accept thread, and by the destructor once that thread has ended.
    std::list<Connection> m_connections;
    std::thread m_acceptThread;
};

} // namespace nqtest
