// A loopback relay that holds every byte back a while in each direction.

#include "delayrelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void noDelay(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

// One direction of a joined connection: a reader stamps each chunk with the
// time it may leave, a writer sends it then. Two threads, so that reading
// never waits for the delay.
class DelayRelay::Pipe
{
public:
    Pipe(int from, int to, std::chrono::milliseconds delay) : m_from(from), m_to(to), m_delay(delay)
    {
        m_writer = std::thread([this] { write(); });
        m_reader = std::thread([this] { read(); });
    }
    ~Pipe()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        // Wakes a reader blocked in read().
        shutdown(m_from, SHUT_RDWR);
        m_reader.join();
        m_writer.join();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

private:
    struct Chunk
    {
        Clock::time_point due;
        std::string bytes; // empty: the end of the stream
    };

    void read()
    {
        std::string buffer(64 * 1024, '\0');
        for (;;) {
            const ssize_t n = ::read(m_from, buffer.data(), buffer.size());
            Chunk chunk{Clock::now() + m_delay, {}};
            if (n > 0)
                chunk.bytes.assign(buffer.data(), static_cast<std::size_t>(n));
            {
                const std::lock_guard lock(m_mutex);
                m_chunks.push_back(std::move(chunk));
            }
            m_wake.notify_one();
            if (n <= 0)
                return;
        }
    }

    void write()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_chunks.empty(); });
            if (m_stopping)
                return;
            const Clock::time_point due = m_chunks.front().due;
            if (m_wake.wait_until(lock, due, [this] { return m_stopping; }))
                return;
            Chunk chunk = std::move(m_chunks.front());
            m_chunks.pop_front();
            lock.unlock();
            if (chunk.bytes.empty()) {
                shutdown(m_to, SHUT_WR);
                return;
            }
            std::size_t sent = 0;
            while (sent < chunk.bytes.size()) {
                const ssize_t n =
                    send(m_to, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    // The other side is gone: so is the rest of this stream.
                    shutdown(m_from, SHUT_RDWR);
                    return;
                }
                sent += static_cast<std::size_t>(n);
            }
            lock.lock();
        }
    }

    const int m_from;
    const int m_to;
    const std::chrono::milliseconds m_delay;
    std::mutex m_mutex; // guards the two below
    std::condition_variable m_wake;
    std::deque<Chunk> m_chunks;
    bool m_stopping = false;
    std::thread m_writer;
    std::thread m_reader;
};

DelayRelay::DelayRelay(std::uint16_t targetPort, std::chrono::milliseconds oneWay)
    : m_target(targetPort), m_delay(oneWay)
{
    m_listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (!m_listener.valid() ||
        bind(m_listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener.get(), SOMAXCONN) != 0 ||
        getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the delaying relay cannot listen");
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

DelayRelay::~DelayRelay()
{
    // A shut-down listening socket wakes the accept() that waits on it.
    shutdown(m_listener.get(), SHUT_RDWR);
    m_acceptThread.join();
    for (Joined& joined : m_joined) {
        // Wakes every reader and every writer stuck on a full socket.
        shutdown(joined.client.get(), SHUT_RDWR);
        shutdown(joined.server.get(), SHUT_RDWR);
        joined.up.reset();
        joined.down.reset();
    }
}

void DelayRelay::acceptLoop()
{
    for (;;) {
        nqtest::UniqueFd client(accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid()) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        nqtest::UniqueFd server(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in target = loopback(m_target);
        if (!server.valid() ||
            connect(server.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
            continue; // the client sees its connection closed
        noDelay(client.get());
        noDelay(server.get());
        Joined& joined = m_joined.emplace_back();
        joined.client = std::move(client);
        joined.server = std::move(server);
        joined.up = std::make_unique<Pipe>(joined.client.get(), joined.server.get(), m_delay);
        joined.down = std::make_unique<Pipe>(joined.server.get(), joined.client.get(), m_delay);
    }
}
