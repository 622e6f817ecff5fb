#include "siteserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <stdexcept>
#include <system_error>

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr int kIdleMs = 30000; // a keep-alive connection left unused this long is closed

[[noreturn]] void throwErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(a) == lower(b);
           });
}

// The value of a header in a request head, or empty.
std::string_view headerValue(std::string_view head, std::string_view name)
{
    std::size_t pos = head.find("\r\n");
    while (pos != std::string_view::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line =
            head.substr(start, (end == std::string_view::npos ? head.size() : end) - start);
        if (startsWithNoCase(line, name) && line.size() > name.size() && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.remove_suffix(1);
            return value;
        }
        pos = end;
    }
    return {};
}

} // namespace

SiteServer::SiteServer(Pages pages, Latency latency) : m_pages(std::move(pages)), m_latency(latency)
{
    m_listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!m_listener.valid())
        throwErrno("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(m_listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throwErrno("bind");
    if (listen(m_listener.get(), SOMAXCONN) != 0)
        throwErrno("listen");
    socklen_t length = sizeof address;
    if (getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throwErrno("getsockname");
    m_port = ntohs(address.sin_port);
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0)
        throwErrno("pipe2");
    m_wakeRead.reset(wake[0]);
    m_wakeWrite.reset(wake[1]);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

SiteServer::~SiteServer()
{
    // The wake pipe is never drained, so every waiting thread sees it.
    const char byte = 1;
    [[maybe_unused]] const auto written = write(m_wakeWrite.get(), &byte, 1);
    m_acceptThread.join();
    for (auto& connection : m_connections)
        connection.thread.join();
}

double SiteServer::meanInFlight() const
{
    const std::lock_guard lock(m_flightMutex);
    const auto span = m_lastReply - m_firstArrival;
    if (!m_anyRequest || span.count() <= 0)
        return 0;
    return std::chrono::duration<double>(m_busy).count() /
           std::chrono::duration<double>(span).count();
}

void SiteServer::resetInFlight()
{
    const std::lock_guard lock(m_flightMutex);
    m_busy = {};
    m_anyRequest = false;
}

std::string SiteServer::url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void SiteServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        if (poll(fds, 2, 1000) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        reapFinished();
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        nqtest::UniqueFd socket(accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!socket.valid())
            continue;
        const int on = 1;
        setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ++m_connectionCount;
        auto& connection = m_connections.emplace_back();
        connection.thread = std::thread([this, &connection, fd = socket.release()] {
            const nqtest::UniqueFd owned(fd);
            try {
                serve(owned.get());
            } catch (const std::exception&) {
                // A connection that fails ends alone; the client sees it closed.
            }
            connection.done = true;
        });
    }
}

void SiteServer::reapFinished()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (it->done) {
            it->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

// Sleeps for the delay; false when the server is stopping.
bool SiteServer::pause(std::chrono::milliseconds delay) const
{
    if (delay.count() <= 0)
        return true;
    pollfd wake{m_wakeRead.get(), POLLIN, 0};
    return poll(&wake, 1, static_cast<int>(delay.count())) == 0;
}

bool SiteServer::sendAll(int socket, std::string_view bytes) const
{
    while (!bytes.empty()) {
        const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void SiteServer::serve(int socket)
{
    if (!pause(m_latency.perConnection))
        return;
    std::string buffer;
    char chunk[16 * 1024];
    for (;;) {
        std::size_t headEnd = buffer.find("\r\n\r\n");
        while (headEnd == std::string::npos) {
            if (buffer.size() > kMaxHead)
                return;
            pollfd fds[2] = {{socket, POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
            if (poll(fds, 2, kIdleMs) <= 0 || fds[1].revents != 0)
                return;
            const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            buffer.append(chunk, static_cast<std::size_t>(got));
            headEnd = buffer.find("\r\n\r\n");
        }
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd + 4);

        // A request body is read and ignored.
        std::size_t bodyLength = 0;
        const std::string_view lengthText = headerValue(head, "Content-Length");
        if (!lengthText.empty() &&
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), bodyLength)
                    .ec != std::errc())
            return;
        while (buffer.size() < bodyLength) {
            const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
        buffer.erase(0, bodyLength);

        const std::size_t methodEnd = head.find(' ');
        const std::size_t targetEnd = head.find(' ', methodEnd + 1);
        const std::size_t lineEnd = head.find("\r\n");
        if (methodEnd == std::string::npos || targetEnd == std::string::npos || targetEnd > lineEnd)
            return;
        const std::string method = head.substr(0, methodEnd);
        std::string target = head.substr(methodEnd + 1, targetEnd - methodEnd - 1);
        const std::string version = head.substr(targetEnd + 1, lineEnd - targetEnd - 1);
        target = target.substr(0, target.find_first_of("?#"));
        const std::string_view connectionHeader = headerValue(head, "Connection");
        const bool keepAlive = version == "HTTP/1.1"
                                   ? !startsWithNoCase(connectionHeader, "close")
                                   : startsWithNoCase(connectionHeader, "keep-alive");
        ++m_requestCount;
        const auto arrived = std::chrono::steady_clock::now();

        const auto page = m_pages.find(target);
        const bool found = page != m_pages.end();
        const std::string_view body = found ? std::string_view(page->second) : "Not found\n";
        std::string reply = found ? "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                  : "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        reply += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        if (!pause(m_latency.perRequest))
            return;
        const bool sent = sendAll(socket, reply) && (method == "HEAD" || sendAll(socket, body));
        {
            const auto replied = std::chrono::steady_clock::now();
            const std::lock_guard lock(m_flightMutex);
            m_busy += replied - arrived;
            if (!m_anyRequest || arrived < m_firstArrival)
                m_firstArrival = arrived;
            if (!m_anyRequest || replied > m_lastReply)
                m_lastReply = replied;
            m_anyRequest = true;
        }
        if (!sent || !keepAlive)
            return;
    }
}
