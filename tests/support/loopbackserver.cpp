#include "loopbackserver.h"

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
#include <chrono>
#include <system_error>

namespace nqtest {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxLine = 64 * 1024;
constexpr std::size_t kMaxBody = 64 * 1024 * 1024;
constexpr auto kIoTimeout = std::chrono::seconds(30);
constexpr auto kStallCap = std::chrono::seconds(30);
constexpr auto kLinger = std::chrono::seconds(1);
constexpr int kReapIntervalMs = 100;

[[noreturn]] void throwErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string toLower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool hasHeader(const std::vector<std::pair<std::string, std::string>>& headers,
               std::string_view name)
{
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return iequals(h.first, name); });
}

template <typename T> std::optional<T> parseNumber(std::string_view text, int base)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::string hex(std::size_t value)
{
    char buf[2 * sizeof(std::size_t)];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, 16);
    return std::string(buf, result.ptr);
}

std::string redirectReason(int status)
{
    switch (status) {
    case 300:
        return "Multiple Choices";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    default:
        return "Redirect";
    }
}

std::string serialize(const Reply& reply, bool headOnly, bool keepAlive = false)
{
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    if (reply.chunked) {
        if (!hasHeader(reply.headers, "Transfer-Encoding"))
            out += "Transfer-Encoding: chunked\r\n";
    } else if (reply.addContentLength && !hasHeader(reply.headers, "Content-Length")) {
        out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    if (!hasHeader(reply.headers, "Connection"))
        out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    if (headOnly)
        return out;
    if (!reply.chunked)
        return out + reply.body;

    // A zero size would never make progress.
    const std::size_t step = std::max<std::size_t>(reply.chunkSize, 1);
    for (std::size_t at = 0; at < reply.body.size(); at += step) {
        const std::size_t n = std::min(step, reply.body.size() - at);
        out += hex(n) + "\r\n";
        out.append(reply.body, at, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

bool clientKeepsAlive(const Request& request)
{
    const std::string connection = toLower(request.header("Connection"));
    if (request.version == "HTTP/1.0")
        return connection.find("keep-alive") != std::string::npos;
    return connection.find("close") == std::string::npos;
}

Reply plainReply(int status, std::string reason)
{
    Reply r;
    r.status = status;
    r.reason = std::move(reason);
    r.headers = {{"Content-Type", "text/html"}};
    r.body = "<html><body><h1>" + std::to_string(r.status) + " " + r.reason + "</h1></body></html>";
    return r;
}

Reply errorReply(int status)
{
    switch (status) {
    case 413:
        return plainReply(status, "Content Too Large");
    case 431:
        return plainReply(status, "Request Header Fields Too Large");
    default:
        return plainReply(400, "Bad Request");
    }
}

// Origin-form of an absolute-form target, so proxy-style requests route like direct ones.
std::string originForm(std::string_view target)
{
    const auto scheme = target.find("://");
    if (target.empty() || target.front() == '/' || scheme == std::string_view::npos)
        return std::string(target);
    const auto rest = target.find_first_of("/?", scheme + 3);
    if (rest == std::string_view::npos)
        return "/";
    if (target[rest] == '?')
        return "/" + std::string(target.substr(rest));
    return std::string(target.substr(rest));
}

// Waits until `fd` reports `events`; false once the server stops, the deadline passes or poll
// fails. The wake pipe is never drained, so every waiter sees it.
bool waitFor(int fd, int wakeFd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, static_cast<int>(std::min<decltype(left)>(left, 1000)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        if (fds[0].revents != 0)
            return true; // errors and hang-ups surface in the following recv/send
    }
}

// Buffered, interruptible I/O on one accepted, non-blocking socket.
class Channel
{
public:
    Channel(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}

    std::string& buffer() { return m_buf; }

    bool fill(Clock::time_point deadline)
    {
        char chunk[16 * 1024];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                m_buf.append(chunk, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0)
                return false;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            if (!waitFor(m_fd, m_wakeFd, POLLIN, deadline))
                return false;
        }
    }

    bool sendAll(std::string_view data, Clock::time_point deadline)
    {
        while (!data.empty()) {
            const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n >= 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return false;
            if (!waitFor(m_fd, m_wakeFd, POLLOUT, deadline))
                return false;
        }
        return true;
    }

    // Half-close, then drain briefly: closing with unread input would send RST and could
    // destroy the response before the client has read it.
    void finish()
    {
        ::shutdown(m_fd, SHUT_WR);
        const auto deadline = Clock::now() + kLinger;
        char scratch[4096];
        while (waitFor(m_fd, m_wakeFd, POLLIN, deadline)) {
            const ssize_t n = ::recv(m_fd, scratch, sizeof scratch, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return;
        }
    }

private:
    int m_fd;
    int m_wakeFd;
    std::string m_buf;
};

// 0: done; -1: the client went away or the server is stopping; otherwise an HTTP error status.
using Outcome = int;
constexpr Outcome kOk = 0;
constexpr Outcome kGone = -1;

Outcome readLine(Channel& ch, Clock::time_point deadline, std::string& line)
{
    std::string& buf = ch.buffer();
    std::size_t from = 0;
    for (;;) {
        const auto eol = buf.find("\r\n", from);
        if (eol != std::string::npos) {
            line = buf.substr(0, eol);
            buf.erase(0, eol + 2);
            return kOk;
        }
        if (buf.size() > kMaxLine)
            return 400;
        from = buf.empty() ? 0 : buf.size() - 1;
        if (!ch.fill(deadline))
            return kGone;
    }
}

Outcome readExactly(Channel& ch, Clock::time_point deadline, std::size_t n, std::string& out)
{
    std::string& buf = ch.buffer();
    while (buf.size() < n) {
        if (!ch.fill(deadline))
            return kGone;
    }
    out.append(buf, 0, n);
    buf.erase(0, n);
    return kOk;
}

Outcome readChunkedBody(Channel& ch, Clock::time_point deadline, std::string& body)
{
    std::string line;
    for (;;) {
        if (const Outcome o = readLine(ch, deadline, line); o != kOk)
            return o;
        const std::string_view sizeField = trim(std::string_view(line).substr(0, line.find(';')));
        const auto size = parseNumber<std::size_t>(sizeField, 16);
        if (!size)
            return 400;
        if (*size == 0)
            break;
        if (*size > kMaxBody - body.size())
            return 413;
        if (const Outcome o = readExactly(ch, deadline, *size, body); o != kOk)
            return o;
        std::string crlf;
        if (const Outcome o = readExactly(ch, deadline, 2, crlf); o != kOk)
            return o;
        if (crlf != "\r\n")
            return 400;
    }
    do { // trailer fields are read and dropped
        if (const Outcome o = readLine(ch, deadline, line); o != kOk)
            return o;
    } while (!line.empty());
    return kOk;
}

Outcome parseHead(std::string_view head, Request& req)
{
    auto eol = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, eol);
    const auto sp1 = requestLine.find(' ');
    const auto sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp1 == sp2 || sp1 == 0 || sp2 + 1 == requestLine.size())
        return 400;
    req.method = requestLine.substr(0, sp1);
    req.target = trim(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    req.version = requestLine.substr(sp2 + 1);
    if (req.target.empty() || req.version.rfind("HTTP/", 0) != 0)
        return 400;

    while (eol != std::string_view::npos) {
        const auto start = eol + 2;
        eol = head.find("\r\n", start);
        const std::string_view line = head.substr(start, eol - start);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return 400;
        req.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return kOk;
}

struct Incoming
{
    Request request;
    Outcome outcome = kGone;
};

Incoming readRequest(Channel& ch, Clock::time_point deadline)
{
    Incoming in;
    std::string& buf = ch.buffer();
    std::size_t headEnd = std::string::npos;
    for (std::size_t from = 0;;) {
        headEnd = buf.find("\r\n\r\n", from);
        if (headEnd != std::string::npos || buf.size() >= kMaxHead)
            break;
        from = buf.size() >= 3 ? buf.size() - 3 : 0;
        if (!ch.fill(deadline))
            return in;
    }
    if (headEnd == std::string::npos || headEnd + 4 > kMaxHead) {
        in.outcome = 431;
        return in;
    }
    if ((in.outcome = parseHead(std::string_view(buf).substr(0, headEnd), in.request)) != kOk)
        return in;
    buf.erase(0, headEnd + 4);

    Request& req = in.request;
    const bool chunked =
        toLower(req.header("Transfer-Encoding")).find("chunked") != std::string::npos;
    std::optional<std::size_t> length;
    if (!chunked && !req.header("Content-Length").empty()) {
        length = parseNumber<std::size_t>(req.header("Content-Length"), 10);
        if (!length || *length > kMaxBody) {
            in.outcome = length ? 413 : 400;
            return in;
        }
    }

    // Clients that ask would otherwise sit out their own timeout before sending the body.
    const bool bodyExpected = chunked || (length && *length > 0);
    if (bodyExpected && buf.empty() && iequals(req.header("Expect"), "100-continue") &&
        !ch.sendAll("HTTP/1.1 100 Continue\r\n\r\n", deadline)) {
        in.outcome = kGone;
        return in;
    }

    if (chunked)
        in.outcome = readChunkedBody(ch, deadline, req.body);
    else if (length)
        in.outcome = readExactly(ch, deadline, *length, req.body);
    return in;
}

} // namespace

void UniqueFd::reset(int fd) noexcept
{
    if (m_fd >= 0 && m_fd != fd)
        ::close(m_fd);
    m_fd = fd;
}

std::string Request::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (iequals(key, name))
            return value;
    }
    return {};
}

Reply Reply::html(std::string body)
{
    Reply r;
    r.headers = {{"Content-Type", "text/html"}};
    r.body = std::move(body);
    return r;
}

Reply Reply::redirect(int status, std::string location)
{
    Reply r;
    r.status = status;
    r.reason = redirectReason(status);
    r.headers = {{"Location", std::move(location)}, {"Content-Type", "text/html"}};
    // No link in the body: a crawler must follow the Location header, not discover the URL here.
    r.body = "<html><body>Moved</body></html>";
    return r;
}

LoopbackServer::LoopbackServer()
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throwErrno("pipe2");
    m_wakeRead.reset(pipeFds[0]);
    m_wakeWrite.reset(pipeFds[1]);

    m_listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_listener.valid())
        throwErrno("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(0x7f000001u);
    if (::bind(m_listener.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throwErrno("bind");
    if (::listen(m_listener.get(), SOMAXCONN) != 0)
        throwErrno("listen");
    socklen_t len = sizeof addr;
    if (::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throwErrno("getsockname");
    m_port = ntohs(addr.sin_port);

    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_released.notify_all();
    const char byte = 1;
    while (::write(m_wakeWrite.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    m_listener.reset(); // refuse whatever is still queued in the backlog
    for (auto& c : m_connections) {
        if (c.thread.joinable())
            c.thread.join();
    }
}

std::uint16_t LoopbackServer::port() const
{
    return m_port;
}

std::string LoopbackServer::url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void LoopbackServer::serve(std::string path, Reply reply)
{
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(std::move(path),
                              Route{std::move(reply), std::nullopt, std::nullopt, {}, 0});
}

void LoopbackServer::serveSequence(std::string path, Reply first, std::vector<Reply> then)
{
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(
        std::move(path), Route{std::move(first), std::nullopt, std::nullopt, std::move(then), 0});
}

void LoopbackServer::setClock(std::function<double()> clock)
{
    const std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

void LoopbackServer::setGate(std::function<std::optional<Reply>(const Request&)> gate)
{
    const std::lock_guard lock(m_mutex);
    m_gate = std::move(gate);
}

void LoopbackServer::serveRaw(std::string path, std::string bytes,
                              std::optional<std::size_t> stallAfter)
{
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(std::move(path), Route{Reply{}, std::move(bytes), stallAfter, {}, 0});
}

std::vector<Request> LoopbackServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t LoopbackServer::requestCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests.size();
}

void LoopbackServer::releaseStalls()
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_releaseGeneration;
    }
    m_released.notify_all();
}

void LoopbackServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        const int r = ::poll(fds, 2, kReapIntervalMs);
        reapFinished();
        if (r < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        for (;;) {
            UniqueFd client(
                ::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (client.valid()) {
                startConnection(std::move(client));
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // e.g. EMFILE
            break;
        }
    }
}

void LoopbackServer::startConnection(UniqueFd socket)
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_connectionCount;
    }
    const int one = 1;
    // Stalled prefixes must reach the client now, not when Nagle decides.
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Connection& c = m_connections.emplace_back();
    try {
        c.thread = std::thread([this, &c, fd = std::move(socket)] {
            handleConnection(fd.get());
            c.done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        m_connections.pop_back(); // out of threads: drop this client, keep serving
    }
}

void LoopbackServer::reapFinished()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (it->done.load(std::memory_order_acquire)) {
            it->thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

LoopbackServer::Route* LoopbackServer::findRoute(std::string_view target)
{
    const std::string origin = originForm(target);
    if (const auto it = m_routes.find(origin); it != m_routes.end())
        return &it->second;
    const std::string_view path = std::string_view(origin).substr(0, origin.find('?'));
    if (const auto it = m_routes.find(path); it != m_routes.end())
        return &it->second;
    return nullptr;
}

void LoopbackServer::waitForRelease(std::uint64_t generation)
{
    std::unique_lock lock(m_mutex);
    m_released.wait_for(lock, kStallCap,
                        [&] { return m_stopping || m_releaseGeneration != generation; });
}

// False once the server stops.
bool LoopbackServer::pause(std::chrono::milliseconds interval)
{
    std::unique_lock lock(m_mutex);
    return !m_released.wait_for(lock, interval, [&] { return m_stopping; });
}

void LoopbackServer::handleConnection(int socket)
{
    Channel ch(socket, m_wakeRead.get());
    for (;;) {
        const auto deadline = Clock::now() + kIoTimeout;
        Incoming in = readRequest(ch, deadline);
        if (in.outcome != kOk) {
            if (in.outcome > 0)
                ch.sendAll(serialize(errorReply(in.outcome), false), deadline);
            break;
        }

        const bool headOnly = in.request.method == "HEAD";
        std::string response;
        std::optional<std::size_t> stallAfter;
        std::chrono::milliseconds drip{0};
        std::size_t dripFrom = 0;
        bool keepAlive = false;
        std::uint64_t generation = 0;
        {
            const std::lock_guard lock(m_mutex);
            // Taken with the request recorded, so a test that saw the request and then releases
            // can never leave this connection stalled.
            generation = m_releaseGeneration;
            keepAlive = m_keepAlive && clientKeepsAlive(in.request);
            const std::optional<Reply> gated = m_gate ? m_gate(in.request) : std::nullopt;
            if (gated) {
                keepAlive = keepAlive && gated->addContentLength;
                response = serialize(*gated, headOnly, keepAlive);
            } else if (Route* route = findRoute(in.request.target); route == nullptr) {
                response = serialize(plainReply(404, "Not Found"), headOnly, keepAlive);
            } else if (route->raw) {
                response = *route->raw;
                stallAfter = route->rawStallAfter;
                keepAlive = false;
            } else {
                const std::size_t turn = route->served++;
                const Reply& reply = turn == 0 || route->then.empty()
                                         ? route->reply
                                         : route->then[std::min(turn - 1, route->then.size() - 1)];
                stallAfter = reply.stallAfter;
                drip = reply.dripInterval;
                keepAlive = keepAlive && !stallAfter && drip.count() == 0 &&
                            (reply.chunked || reply.addContentLength);
                response = serialize(reply, headOnly, keepAlive);
                if (reply.dripBodyOnly)
                    dripFrom = serialize(reply, true, keepAlive).size();
            }
            if (m_clock)
                in.request.time = m_clock();
            m_requests.push_back(std::move(in.request));
        }

        if (drip.count() > 0) {
            if (!ch.sendAll(std::string_view(response).substr(0, dripFrom), deadline))
                break;
            for (std::size_t i = dripFrom; i < response.size(); ++i) {
                if ((i > 0 && !pause(drip)) || !ch.sendAll(response.substr(i, 1), deadline))
                    break;
            }
            break;
        }
        if (!stallAfter) {
            if (ch.sendAll(response, deadline) && keepAlive)
                continue;
            break;
        }
        if (ch.sendAll(std::string_view(response).substr(0, *stallAfter), deadline))
            waitForRelease(generation);
        break;
    }
    ch.finish();
}

void LoopbackServer::setKeepAlive(bool on)
{
    const std::lock_guard lock(m_mutex);
    m_keepAlive = on;
}

std::size_t LoopbackServer::connectionCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_connectionCount;
}

std::string RefusedAddress()
{
    std::uint16_t port = 0;
    {
        const LoopbackServer closed;
        port = closed.port();
    }
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

} // namespace nqtest
