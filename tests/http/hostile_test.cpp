// Hostile and odd replies as data: each row is what the server sends and
// what the transfer must make of it, within a bound that only catches hangs.

#include "eventpump.h"
#include "fetchcontroller.h"
#include "loopbackserver.h"
#include "messagecapture.h"
#include "pagefetch.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

using nqtest::LoopbackServer;
using nqtest::PumpUntil;
using nqtest::Reply;
using nqtest::UniqueFd;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// Sends a reply head and then a body made on the fly, so that a huge or
// endless body costs the test no memory; one connection at a time.
class StreamServer
{
public:
    StreamServer(std::string head, std::optional<std::size_t> bodySize)
        : m_head(std::move(head)), m_bodySize(bodySize)
    {
        m_listener = UniqueFd(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (!m_listener.valid() || ::bind(m_listener.get(), raw, length) != 0 ||
            ::listen(m_listener.get(), 4) != 0 || ::getsockname(m_listener.get(), raw, &length))
            throw std::runtime_error("no loopback listener");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~StreamServer()
    {
        m_stop = true;
        m_thread.join();
    }
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    // Waits for the socket, in short steps so that a stop is seen.
    bool ready(int fd, short events) const
    {
        while (!m_stop) {
            pollfd p{fd, events, 0};
            if (::poll(&p, 1, 50) > 0)
                return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0 ||
                       (p.revents & POLLIN) != 0;
        }
        return false;
    }

    bool sendAll(int fd, const char* data, std::size_t size) const
    {
        while (size > 0) {
            if (!ready(fd, POLLOUT))
                return false;
            const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }

    void serve()
    {
        while (ready(m_listener.get(), POLLIN)) {
            const UniqueFd client(::accept(m_listener.get(), nullptr, nullptr));
            if (!client.valid())
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && ready(client.get(), POLLIN)) {
                const ssize_t got = ::recv(client.get(), buffer, sizeof(buffer), 0);
                if (got <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            if (!sendAll(client.get(), m_head.data(), m_head.size()))
                continue;
            const std::string block(64 * 1024, 'x');
            std::size_t left = m_bodySize.value_or(SIZE_MAX);
            while (left > 0) {
                const std::size_t n = std::min(left, block.size());
                if (!sendAll(client.get(), block.data(), n))
                    break;
                if (m_bodySize)
                    left -= n;
            }
        }
    }

    std::string m_head;
    std::optional<std::size_t> m_bodySize;
    UniqueFd m_listener;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";

enum class Page
{
    Done,
    Error
};
enum class Crawl
{
    NotRun, // stalls: the crawl's owner ends those by its own deadline
    Ok,
    Error
};

struct Row
{
    const char* name;
    std::string reply;                          // raw bytes; "{path}" is the row's own path
    std::optional<std::size_t> stallAfter = {}; // bytes sent before the server stalls
    std::chrono::milliseconds drip{0};          // the reply sent a byte at a time, this far apart
    bool padHead = false;                       // a long header line to drip before the body
    int dripStatus = 200;                       // a 3xx drips its body after its head
    bool endless = false;                       // head, then body bytes without end
    Integer timeOut = 300;
    Integer readTimeOut = 30;
    Page page = Page::Error;
    bool timedOut = false;      // the failure is a timeout
    const char* body = nullptr; // the page fetch's body when done
    Crawl crawl = Crawl::NotRun;
    std::chrono::seconds bound = 30s; // catches a hang, also on a loaded machine under a sanitizer
};

std::string hugeHeaderReply()
{
    std::string reply = kHead;
    const std::string line = "X-Fill: " + std::string(1000, 'f') + "\r\n";
    while (reply.size() < 1100 * 1024)
        reply += line;
    return reply + "Content-Length: 2\r\n\r\nok";
}

// A gzip stream of piece repeated times over: a bomb costs the test next to
// nothing on the wire.
std::string gzipOf(const std::string& piece, std::size_t times)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out;
    char buffer[64 * 1024];
    for (std::size_t left = times; left > 0; --left) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        z.avail_in = static_cast<uInt>(piece.size());
        const int flush = left == 1 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof(buffer);
            deflate(&z, flush);
            out.append(buffer, sizeof(buffer) - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string gzipReply(const std::string& body)
{
    return kHead + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string replacePath(std::string text, const std::string& path)
{
    for (auto at = text.find("{path}"); at != std::string::npos; at = text.find("{path}"))
        text.replace(at, 6, path);
    return text;
}

} // namespace

TEST(HostileReplies, EachRowEndsAsExpectedInTime)
{
    const std::string stalledBody = kHead + "Content-Length: 100\r\n\r\n" + std::string(10, 'b');
    const std::string chunked = kHead + "Transfer-Encoding: chunked\r\n\r\n";
    const Row rows[] = {
        {.name = "stall before headers",
         .reply = kHead + "Content-Length: 2\r\n\r\nok",
         .stallAfter = 0,
         .timeOut = 1},
        {.name = "stall mid-body",
         .reply = stalledBody,
         .stallAfter = stalledBody.size(),
         .timeOut = 1},
        {.name = "one byte a second", .reply = "slow body", .drip = 1000ms, .timeOut = 2},
        // Below the whole transfer's limit, the read limit ends what stalls.
        {.name = "silence before headers",
         .reply = kHead + "Content-Length: 2\r\n\r\nok",
         .stallAfter = 0,
         .readTimeOut = 1,
         .timedOut = true},
        {.name = "silence mid-body",
         .reply = stalledBody,
         .stallAfter = stalledBody.size(),
         .readTimeOut = 1,
         .timedOut = true},
        // Never silent for a second, yet the headers would take minutes.
        {.name = "headers a byte at a time",
         .reply = "dripped",
         .drip = 300ms,
         .padHead = true,
         .readTimeOut = 1,
         .timedOut = true},
        // Bytes keep coming, but the final reply's headers never do.
        {.name = "redirect body a byte at a time",
         .reply = std::string(400, 'r'),
         .drip = 300ms,
         .dripStatus = 302,
         .readTimeOut = 1,
         .timedOut = true},
        {.name = "chunked",
         .reply = chunked + "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
         .page = Page::Done,
         .body = "hello world",
         .crawl = Crawl::Ok},
        {.name = "close-delimited",
         .reply = kHead + "Connection: close\r\n\r\nuntil the end",
         .page = Page::Done,
         .body = "until the end",
         .crawl = Crawl::Ok},
        {.name = "truncated chunked body",
         .reply = chunked + "5\r\nhello\r\n10\r\nshort",
         .crawl = Crawl::Error},
        {.name = "non-hex chunk size",
         .reply = chunked + "zz\r\nhello\r\n0\r\n\r\n",
         .crawl = Crawl::Error},
        {.name = "Content-Length rubbish",
         .reply = kHead + "Content-Length: lots\r\n\r\nbody",
         .crawl = Crawl::Error},
        {.name = "Content-Length doubled",
         .reply = kHead + "Content-Length: 4\r\nContent-Length: 9\r\n\r\nbody",
         .crawl = Crawl::Error},
        {.name = "header block over 1 MiB", .reply = hugeHeaderReply(), .crawl = Crawl::Error},
        {.name = "NUL in a header",
         .reply = kHead + "X-Bad: a\0b\r\nContent-Length: 2\r\n\r\nok"s,
         .crawl = Crawl::Error},
        {.name = "redirect loop",
         .reply = "HTTP/1.1 302 Found\r\nLocation: {path}\r\nContent-Length: 0\r\n\r\n",
         .crawl = Crawl::Error},
        {.name = "redirect to file://",
         .reply = "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n",
         .crawl = Crawl::Error},
        {.name = "error status with a body",
         .reply = "HTTP/1.1 500 Oops\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\noops",
         .crawl = Crawl::Ok},
        {.name = "gzip body",
         .reply = gzipReply(gzipOf("hello gzip", 1)),
         .page = Page::Done,
         .body = "hello gzip",
         .crawl = Crawl::Ok},
        {.name = "gzip bomb",
         .reply = gzipReply(gzipOf(std::string(1024 * 1024, '\0'), 80)),
         .crawl = Crawl::Error},
        {.name = "endless body",
         .reply = kHead + "\r\n",
         .endless = true,
         .crawl = Crawl::Error,
         .bound = 60s},
    };

    LoopbackServer server;
    nqtest::MessageCapture messages;
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = "/row" + std::to_string(++index);
        std::optional<StreamServer> stream;
        std::string url = server.url(path);
        if (row.endless) {
            stream.emplace(row.reply, std::nullopt);
            url = stream->url();
        } else if (row.drip.count() > 0) {
            Reply reply = Reply::html(row.reply);
            reply.dripInterval = row.drip;
            if (row.padHead)
                reply.headers.emplace_back("X-Pad", std::string(400, 'p'));
            if (row.dripStatus != 200) {
                reply.status = row.dripStatus;
                reply.reason = "Found";
                reply.headers.emplace_back("Location", "/elsewhere");
                // A client drains the body of a connection it means to reuse.
                reply.headers.emplace_back("Connection", "keep-alive");
                reply.dripBodyOnly = true;
            }
            server.serve(path, reply);
        } else {
            server.serveRaw(path, replacePath(row.reply, path), row.stallAfter);
        }

        THTTPGet fetch;
        fetch.TimeOut = row.timeOut;
        fetch.ReadTimeOut = row.readTimeOut;
        std::optional<Page> page;
        String body;
        fetch.OnDoneString = [&](TObject*, const String& text) {
            page = Page::Done;
            body = text;
        };
        fetch.OnError = [&](TObject*) { page = Page::Error; };
        fetch.URL = url;
        fetch.DownloadFile();
        ASSERT_TRUE(PumpUntil([&] { return page.has_value(); }, row.bound));
        EXPECT_EQ(*page, row.page) << fetch.ErrorMsg();
        if (row.page == Page::Done)
            EXPECT_EQ(body, row.body);
        else
            EXPECT_NE(fetch.ErrorMsg(), "") << "a failure says why";
        if (row.timedOut) {
            EXPECT_EQ(fetch.Error().kind, TransferError::Kind::Timeout) << fetch.ErrorMsg();
        }

        if (row.crawl != Crawl::NotRun) {
            TKsHttpGet get;
            ASSERT_TRUE(get.CrackUrl.Crack(url));
            get.StartGet(GETHTTP_BODY);
            ASSERT_TRUE(PumpUntil([&] { return !get.Busy; }, row.bound));
            EXPECT_EQ(get.State(), row.crawl == Crawl::Ok ? GETHTTP_OK : GETHTTP_ERROR)
                << get.ErrorMsg();
        }
        server.releaseStalls();
        ASSERT_TRUE(nqtest::WaitForWorkers(row.bound));
    }
    EXPECT_TRUE(messages.texts().empty());
}

namespace {

// Resident memory in KiB from /proc/self/status; the peak can be reset.
long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    }
    return -1;
}

bool resetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return static_cast<bool>(clear);
}

} // namespace

TEST(HostileReplies, LargeBodiesAreHeldOnce)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers keep freed memory or shadow memory resident";
#endif
    constexpr std::size_t kMiB = 1024 * 1024;
    constexpr long kBoundKb = 90 * 1024;
    {
        // A body the crawl keeps: the worker's copy moves to the controller.
        StreamServer server(kHead + "Content-Length: " + std::to_string(60 * kMiB) + "\r\n\r\n",
                            60 * kMiB);
        TKsHttpGet get;
        ASSERT_TRUE(get.CrackUrl.Crack(server.url()));
        ASSERT_TRUE(resetPeak());
        const long before = statusKb("VmRSS:");
        get.StartGet(GETHTTP_BODY);
        ASSERT_TRUE(PumpUntil([&] { return !get.Busy; }, 60s));
        EXPECT_EQ(get.State(), GETHTTP_OK) << get.ErrorMsg();
        EXPECT_EQ(get.Body().size(), 60 * kMiB);
        EXPECT_LT(statusKb("VmHWM:") - before, kBoundKb);
    }
    {
        // 100 MiB without a length, refused at the 64 MiB cap.
        StreamServer server(kHead + "\r\n", 100 * kMiB);
        THTTPGet fetch;
        bool failed = false;
        fetch.OnError = [&](TObject*) { failed = true; };
        fetch.URL = server.url();
        ASSERT_TRUE(resetPeak());
        const long before = statusKb("VmRSS:");
        fetch.DownloadFile();
        ASSERT_TRUE(PumpUntil([&] { return failed; }, 60s));
        EXPECT_EQ(fetch.ErrorCode(), ERROR_INTERNET_REPLY_TOO_LARGE) << fetch.ErrorMsg();
        EXPECT_LT(statusKb("VmHWM:") - before, kBoundKb);
    }
    EXPECT_TRUE(nqtest::WaitForWorkers());
}
