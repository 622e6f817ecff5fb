#include "loopbackserver.h"
#include "stringhelpers.h"
#include "internetaccess.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

using nqtest::LoopbackServer;
using nqtest::Reply;

namespace {

// Closes what it holds unless the test closed it already.
class ScopedHandle
{
public:
    explicit ScopedHandle(HINTERNET h = NullHandle) : m_handle(h) {}
    ~ScopedHandle()
    {
        if (m_handle != NullHandle)
            InternetCloseHandle(m_handle);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HINTERNET get() const { return m_handle; }
    HINTERNET release() { return std::exchange(m_handle, NullHandle); }

private:
    HINTERNET m_handle;
};

struct Options
{
    const char* verb = "GET";
    const char* agent = "NetquarryTest";
    const char* referrer = "";
    const char* accept = "Accept: */*";
    std::uint32_t flags = INTERNET_FLAG_RELOAD;
    const char* version = "HTTP/1.0";
    std::uint32_t timeoutMs = 0;
};

// The three handles of one transfer, opened in the order the workers use.
struct Transfer
{
    ScopedHandle root;
    ScopedHandle connection;
    ScopedHandle request;

    Transfer(std::uint16_t port, const std::string& path, const Options& o = {})
        : root(InternetOpenA(o.agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)),
          connection(
              InternetConnectA(root.get(), "127.0.0.1", port, "", "", INTERNET_SERVICE_HTTP, 0, 0)),
          request(openRequest(path, o))
    {
        if (o.timeoutMs != 0) {
            EXPECT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                                           &o.timeoutMs, sizeof(o.timeoutMs)));
        }
    }

    HINTERNET openRequest(const std::string& path, const Options& o) const
    {
        const char* accept[] = {o.accept, nullptr};
        return HttpOpenRequestA(connection.get(), o.verb, path.c_str(), o.version, o.referrer,
                                accept, o.flags, 0);
    }

    bool send() const { return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0); }

    std::string query(std::uint32_t level, std::uint32_t size = 4096, bool* ok = nullptr) const
    {
        std::string buffer(size, '\0');
        std::uint32_t length = size;
        std::uint32_t index = 0;
        const bool found = HttpQueryInfoA(request.get(), level, buffer.data(), &length, &index);
        if (ok)
            *ok = found;
        return found ? buffer.substr(0, length) : std::string();
    }

    std::string url(std::uint32_t size, bool* ok, std::uint32_t* needed) const
    {
        std::string buffer(size, '\0');
        *needed = size;
        *ok = InternetQueryOptionA(request.get(), INTERNET_OPTION_URL, buffer.data(), needed);
        return *ok ? buffer.substr(0, *needed) : std::string();
    }

    // Reads the body the way the transfer workers do; false on a failed read.
    bool readAll(std::string* body) const
    {
        std::array<char, 1025> chunk{};
        for (;;) {
            std::uint32_t got = 0;
            if (!InternetReadFile(request.get(), chunk.data(), 1025, &got))
                return false;
            if (got == 0)
                return true;
            EXPECT_LE(got, 1025U);
            body->append(chunk.data(), got);
        }
    }
};

struct LastResponse
{
    std::uint32_t code = 0;
    std::string text;
};

LastResponse lastResponse()
{
    LastResponse r;
    std::string buffer(4096, '\0');
    std::uint32_t length = 4096;
    if (InternetGetLastResponseInfoA(&r.code, buffer.data(), &length))
        r.text = buffer.substr(0, length);
    return r;
}

std::string bigText(std::size_t size)
{
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i) + " of the body\n";
    text.resize(size);
    return text;
}

// The text in the HTTP content coding `coding` ("gzip" or "deflate").
std::string compress(const std::string& text, const char* coding)
{
    z_stream z{};
    const int windowBits = std::string(coding) == "gzip" ? 15 + 16 : 15;
    if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot start");
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("zlib did not finish");
    return out;
}

Reply encoded(const std::string& text, const char* coding)
{
    Reply r = Reply::html(compress(text, coding));
    r.headers.emplace_back("Content-Encoding", coding);
    return r;
}

// Resident memory of this process, in bytes.
std::size_t residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoul(line.substr(6)) * 1024;
    }
    return 0;
}

// Answers the first connection with plain HTTP at once, without waiting for
// a request: what a TLS client meets when it dials a plain-text server that
// greets first.
class PlainGreeter
{
public:
    PlainGreeter() : m_listener(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (bind(m_listener.get(), raw, size) != 0 || listen(m_listener.get(), 1) != 0 ||
            getsockname(m_listener.get(), raw, &size) != 0)
            throw std::runtime_error("cannot listen on loopback");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            const nqtest::UniqueFd client(accept(m_listener.get(), nullptr, nullptr));
            const char reply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nplain";
            if (client.valid())
                send(client.get(), reply, sizeof(reply) - 1, MSG_NOSIGNAL);
        });
    }
    ~PlainGreeter() { m_thread.join(); }
    PlainGreeter(const PlainGreeter&) = delete;
    PlainGreeter& operator=(const PlainGreeter&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    nqtest::UniqueFd m_listener;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

} // namespace

TEST(InternetLayer, DeliversHeadersStatusTypeLengthAndBody)
{
    LoopbackServer server;
    const std::string body = bigText(10000);
    server.serve("/page.htm", Reply::html(body));

    Transfer t(server.port(), "/page.htm");
    ASSERT_TRUE(t.send());

    const std::string head = t.query(HTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0U) << head;
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    EXPECT_NE(head.find("Content-Type: text/html\r\n"), std::string::npos) << head;
    EXPECT_EQ(t.query(HTTP_QUERY_STATUS_CODE), "200");
    EXPECT_EQ(t.query(HTTP_QUERY_CONTENT_TYPE), "text/html");
    EXPECT_EQ(t.query(HTTP_QUERY_CONTENT_LENGTH), std::to_string(body.size()));

    std::string received;
    ASSERT_TRUE(t.readAll(&received));
    EXPECT_EQ(received, body);
}

TEST(InternetLayer, SendsTheRequestAsAsked)
{
    LoopbackServer server;
    server.serve("/a b.htm", Reply::html("x"));

    Options o;
    o.referrer = "http://example.test/from.htm";
    Transfer t(server.port(), "/a b.htm?id=3&x=%41", o);
    ASSERT_TRUE(t.send());

    ASSERT_EQ(server.requestCount(), 1U);
    const auto request = server.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.version, "HTTP/1.0");
    // The decoded path is escaped for the wire; the query goes as given.
    EXPECT_EQ(request.target, "/a%20b.htm?id=3&x=%41");
    EXPECT_EQ(request.header("User-Agent"), "NetquarryTest");
    EXPECT_EQ(request.header("Referer"), "http://example.test/from.htm");
    EXPECT_EQ(request.header("Accept"), "*/*");
    EXPECT_NE(request.header("Accept-Encoding").find("gzip"), std::string::npos);
}

TEST(InternetLayer, PostsAFormBody)
{
    LoopbackServer server;
    server.serve("/form", Reply::html("thanks"));

    Options o;
    o.verb = "POST";
    Transfer t(server.port(), "/form", o);
    const std::string header = "Content-Type: application/x-www-form-urlencoded";
    ASSERT_EQ(header.size(), 47U);
    const std::string form = "a=1&b=two";
    ASSERT_TRUE(HttpSendRequestA(t.request.get(), header.c_str(), 47, form.data(),
                                 static_cast<std::uint32_t>(form.size())));

    const auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, form);
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST(InternetLayer, AbsentHeadersAndBuffersThatDoNotFitFail)
{
    LoopbackServer server;
    // No Content-Type, no Content-Length: the body ends when the peer closes.
    server.serveRaw("/bare", "HTTP/1.0 200 OK\r\nServer: test\r\n\r\nhello");
    std::string longHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
    // Far beyond any fixed buffer a caller might start with.
    for (int i = 0; i < 4000; ++i)
        longHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'v') + "\r\n";
    longHeaders += "Content-Length: 2\r\n\r\nok";
    ASSERT_GT(longHeaders.size(), 4096U);
    server.serveRaw("/long", longHeaders);

    {
        Transfer t(server.port(), "/bare");
        ASSERT_TRUE(t.send());
        bool ok = true;
        t.query(HTTP_QUERY_CONTENT_TYPE, 4096, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(lastResponse().code, ERROR_HTTP_HEADER_NOT_FOUND);
        t.query(HTTP_QUERY_CONTENT_LENGTH, 4096, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(t.query(HTTP_QUERY_STATUS_CODE), "200");
        std::string body;
        ASSERT_TRUE(t.readAll(&body));
        EXPECT_EQ(body, "hello");
    }
    {
        Transfer t(server.port(), "/long");
        ASSERT_TRUE(t.send());
        std::string buffer(4096, '\0');
        std::uint32_t length = 4096;
        std::uint32_t index = 0;
        EXPECT_FALSE(HttpQueryInfoA(t.request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(),
                                    &length, &index));
        EXPECT_EQ(lastResponse().code, ERROR_INSUFFICIENT_BUFFER);
        EXPECT_GT(length, 4096U) << "the size needed is reported";
        bool ok = false;
        const std::string head = t.query(HTTP_QUERY_RAW_HEADERS_CRLF, length, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(head.size() + 1, length);
        // A value that fits exactly, NUL included, is still delivered.
        EXPECT_EQ(t.query(HTTP_QUERY_CONTENT_LENGTH, 2, &ok), "2");
        EXPECT_TRUE(ok);
        t.query(HTTP_QUERY_CONTENT_LENGTH, 1, &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(InternetLayer, ReadsChunkedAndShortBodies)
{
    LoopbackServer server;
    const std::string body = bigText(50000);
    Reply chunked = Reply::html(body);
    chunked.chunked = true;
    chunked.chunkSize = 777;
    server.serve("/chunked", chunked);
    // Content-Length promises more than arrives: what came is delivered and
    // the reader, not the layer, judges the length.
    server.serveRaw("/short",
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100\r\n\r\nonly "
                    "this");
    Reply missing = Reply::html("gone");
    missing.status = 404;
    missing.reason = "Not Found";
    server.serve("/missing", missing);

    {
        Transfer t(server.port(), "/chunked");
        ASSERT_TRUE(t.send());
        bool ok = true;
        t.query(HTTP_QUERY_CONTENT_LENGTH, 4096, &ok);
        EXPECT_FALSE(ok);
        std::string received;
        ASSERT_TRUE(t.readAll(&received));
        EXPECT_EQ(received, body);
    }
    {
        Transfer t(server.port(), "/short");
        ASSERT_TRUE(t.send());
        EXPECT_EQ(t.query(HTTP_QUERY_CONTENT_LENGTH), "100");
        std::string received;
        ASSERT_TRUE(t.readAll(&received));
        EXPECT_EQ(received, "only this");
    }
    {
        Transfer t(server.port(), "/missing");
        ASSERT_TRUE(t.send());
        EXPECT_EQ(t.query(HTTP_QUERY_STATUS_CODE), "404");
        std::string received;
        ASSERT_TRUE(t.readAll(&received));
        EXPECT_EQ(received, "gone");
    }
}

TEST(InternetLayer, FollowsRedirectsAndReportsTheFinalReply)
{
    LoopbackServer server;
    server.serve("/one", Reply::redirect(302, "/two"));
    server.serve("/two", Reply::redirect(301, server.url("/final.htm")));
    Reply final = Reply::html("arrived");
    final.headers.emplace_back("X-Final", "yes");
    server.serve("/final.htm", final);
    server.serve("/loop", Reply::redirect(302, "/loop"));

    {
        Transfer t(server.port(), "/one");
        ASSERT_TRUE(t.send());
        EXPECT_EQ(t.query(HTTP_QUERY_STATUS_CODE), "200");
        const std::string head = t.query(HTTP_QUERY_RAW_HEADERS_CRLF);
        EXPECT_NE(head.find("X-Final: yes"), std::string::npos) << head;
        EXPECT_EQ(head.find("Location"), std::string::npos) << head;
        std::string body;
        ASSERT_TRUE(t.readAll(&body));
        EXPECT_EQ(body, "arrived");
        EXPECT_EQ(server.requestCount(), 3U);

        const std::string finalUrl = server.url("/final.htm");
        bool ok = true;
        std::uint32_t needed = 0;
        t.url(5, &ok, &needed);
        EXPECT_FALSE(ok);
        EXPECT_EQ(lastResponse().code, ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(needed, finalUrl.size() + 1);
        EXPECT_EQ(t.url(needed, &ok, &needed), finalUrl);
        EXPECT_EQ(needed, finalUrl.size());
    }
    {
        Transfer t(server.port(), "/loop");
        EXPECT_FALSE(t.send());
        EXPECT_EQ(lastResponse().code, ERROR_HTTP_REDIRECT_FAILED);
        // The first request and at most kMaxRedirects followed ones.
        EXPECT_LE(server.requestCount(), 3U + 1U + static_cast<std::size_t>(kMaxRedirects));
    }
}

TEST(InternetLayer, ReportsTheLastFailureOfTheCallingThread)
{
    // A port that was just free and is now closed refuses connections.
    std::uint16_t port = 0;
    {
        LoopbackServer server;
        port = server.port();
    }
    LastResponse before;
    std::thread([&] { before = lastResponse(); }).join();
    EXPECT_EQ(before.code, 0U);
    EXPECT_EQ(before.text, "");

    LastResponse after;
    std::thread([&] {
        Transfer t(port, "/");
        EXPECT_FALSE(t.send());
        after = lastResponse();
    }).join();
    EXPECT_EQ(after.code, ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_FALSE(after.text.empty());

    // https is spoken where asked for, and never falls back to plain text.
    PlainGreeter plain;
    Options o;
    o.flags |= INTERNET_FLAG_SECURE;
    Transfer secure(plain.port(), "/", o);
    EXPECT_FALSE(secure.send());
    EXPECT_EQ(lastResponse().code, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

struct TimeoutRow
{
    const char* name;
    Reply reply;
    bool headersArrive;
    std::uint32_t error; // 0: the transfer completes
};

TEST(InternetLayer, ReceiveTimeoutBoundsTheWholeTransfer)
{
    Reply silent = Reply::html("never");
    silent.stallAfter = 0;
    Reply midBody = Reply::html(bigText(5000));
    midBody.stallAfter = 2000;
    Reply dripping = Reply::html("slow");
    dripping.dripInterval = std::chrono::seconds(1);
    const TimeoutRow rows[] = {
        {"never answers", silent, false, ERROR_INTERNET_TIMEOUT},
        {"stops mid-body", midBody, true, ERROR_INTERNET_TIMEOUT},
        {"headers a byte a second", dripping, false, ERROR_INTERNET_TIMEOUT},
        {"answers in time", Reply::html("quick"), true, 0},
    };
    for (const auto& row : rows) {
        LoopbackServer server;
        server.serve("/t", row.reply);
        Options o;
        o.timeoutMs = 1500;
        Transfer t(server.port(), "/t", o);
        struct Result
        {
            bool sent = false;
            bool read = false;
            LastResponse last;
        };
        auto run = std::async(std::launch::async, [&t] {
            Result r;
            std::string body;
            r.sent = t.send();
            r.read = r.sent && t.readAll(&body);
            r.last = lastResponse();
            return r;
        });
        if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << row.name << ": the transfer outlived its limit";
            InternetCloseHandle(t.request.get());
        }
        const Result r = run.get();
        EXPECT_EQ(r.sent, row.headersArrive) << row.name;
        if (row.error == 0) {
            EXPECT_TRUE(r.read) << row.name;
            continue;
        }
        EXPECT_FALSE(r.read) << row.name;
        EXPECT_EQ(r.last.code, row.error) << row.name;
        EXPECT_NE(AsciiLower(r.last.text).find("time"), std::string::npos) << r.last.text;
    }
}

TEST(InternetLayer, HandlesAreClosedExactlyOnce)
{
    LoopbackServer server;
    server.serve("/", Reply::html("x"));
    Transfer t(server.port(), "/");
    ASSERT_TRUE(t.send());
    const HINTERNET request = t.request.release();
    EXPECT_TRUE(InternetCloseHandle(request));
    EXPECT_FALSE(InternetCloseHandle(request));
    EXPECT_EQ(lastResponse().code, ERROR_INVALID_HANDLE);
    std::array<char, 16> buffer{};
    std::uint32_t got = 99;
    EXPECT_FALSE(InternetReadFile(request, buffer.data(), 16, &got));
    EXPECT_FALSE(InternetCloseHandle(NullHandle));
    // Closing the parent first leaves a child usable until it is closed.
    Transfer u(server.port(), "/");
    EXPECT_TRUE(InternetCloseHandle(u.connection.release()));
    EXPECT_TRUE(InternetCloseHandle(u.root.release()));
    EXPECT_TRUE(u.send());
}

TEST(InternetLayer, CapsTheReplyBody)
{
    LoopbackServer server;
    Reply huge = Reply::html(std::string(static_cast<std::size_t>(kMaxReplyBody) + 100000, 'a'));
    huge.chunked = true;
    huge.chunkSize = 256 * 1024;
    server.serve("/huge", huge);

    Transfer t(server.port(), "/huge");
    ASSERT_TRUE(t.send());
    std::string body;
    EXPECT_FALSE(t.readAll(&body));
    EXPECT_EQ(lastResponse().code, ERROR_INTERNET_REPLY_TOO_LARGE);
    EXPECT_LE(body.size(), kMaxReplyBody);
}

TEST(InternetLayer, DeliversCompressedBodiesDecoded)
{
    LoopbackServer server;
    const std::string text = bigText(200000);
    server.serve("/gzip", encoded(text, "gzip"));
    server.serve("/deflate", encoded(text, "deflate"));
    for (const char* path : {"/gzip", "/deflate"}) {
        Transfer t(server.port(), path);
        ASSERT_TRUE(t.send()) << path;
        // Its value counts compressed bytes, not those the reader gets.
        bool ok = true;
        t.query(HTTP_QUERY_CONTENT_LENGTH, 4096, &ok);
        EXPECT_FALSE(ok) << path;
        std::string body;
        ASSERT_TRUE(t.readAll(&body)) << path;
        EXPECT_EQ(body, text) << path;
    }
}

TEST(InternetLayer, RefusesACompressionBombWithBoundedMemory)
{
    LoopbackServer server;
    // About 80 KB on the wire that inflate to more than the cap.
    server.serve("/bomb", encoded(std::string(kMaxReplyBody + 1024 * 1024, '\0'), "gzip"));

    [[maybe_unused]] const std::size_t before = residentBytes();
    Transfer t(server.port(), "/bomb");
    ASSERT_TRUE(t.send());
    // Unread, the transfer must wait for the reader instead of inflating
    // into memory.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    [[maybe_unused]] const std::size_t during = residentBytes();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (Sanitizers keep shadow and freed memory resident.)
    EXPECT_LT(during, before + 32 * 1024 * 1024) << "resident bytes grew without a reader";
#endif

    std::string body;
    EXPECT_FALSE(t.readAll(&body));
    EXPECT_EQ(lastResponse().code, ERROR_INTERNET_REPLY_TOO_LARGE);
    EXPECT_LE(body.size(), kMaxReplyBody);
}

TEST(InternetLayer, KeepsConnectionsAliveBetweenRequests)
{
    LoopbackServer server;
    server.setKeepAlive(true);
    server.serve("/page.htm", Reply::html(bigText(3000)));
    Options o;
    o.version = "HTTP/1.1";
    for (int i = 0; i < 20; ++i) {
        Transfer t(server.port(), "/page.htm", o);
        ASSERT_TRUE(t.send()) << i;
        std::string body;
        ASSERT_TRUE(t.readAll(&body)) << i;
        EXPECT_EQ(body, bigText(3000)) << i;
    }
    EXPECT_EQ(server.requestCount(), 20U);
    EXPECT_LE(server.connectionCount(), 2U);
}

struct CombineRow
{
    const char* base;
    const char* relative;
    const char* expected; // nullptr: the call fails
};

TEST(InternetLayer, CombinesRelativeLinks)
{
    const std::string tooLong = std::string(1100, 'x') + ".htm";
    const CombineRow rows[] = {
        {"http://h/d/p.htm", "x.htm", "http://h/d/x.htm"},
        {"http://h/d/", "../x.htm", "http://h/x.htm"},
        {"http://h/d/e/", "../../../x.htm", "http://h/x.htm"},
        {"http://h/d/", "/root.htm", "http://h/root.htm"},
        {"http://h/d/", "//other/x.htm", "http://other/x.htm"},
        {"http://h/d/", "https://Secure.test/y", "https://Secure.test/y"},
        {"http://h:8080/d/", "/x", "http://h:8080/x"},
        {"http://h/d/p.htm", "#top", "http://h/d/p.htm#top"},
        {"http://h/d/p.htm?a=1#old", "#top", "http://h/d/p.htm?a=1#top"},
        {"http://h/d/p.htm?a=1", "?q=2", "http://h/d/p.htm?q=2"},
        {"http://h/d/p.htm#old", "", "http://h/d/p.htm"},
        {"http://h/d/", "a b.htm", "http://h/d/a%20b.htm"},
        {"http://h/d/", "mailto:someone@h", nullptr},
        {"not a base", "x.htm", nullptr},
        {"http://h/d/", tooLong.c_str(), nullptr},
    };
    for (const auto& row : rows) {
        std::array<char, 1024> buffer{};
        std::uint32_t length = 1024;
        const bool ok =
            InternetCombineUrlA(row.base, row.relative, buffer.data(), &length, ICU_NO_ENCODE);
        if (!row.expected) {
            EXPECT_FALSE(ok) << row.base << " + " << row.relative;
            continue;
        }
        ASSERT_TRUE(ok) << row.base << " + " << row.relative;
        EXPECT_EQ(std::string(buffer.data(), length), row.expected)
            << row.base << " + " << row.relative;
    }
}

TEST(InternetLayer, CracksIntoTheCallersBuffers)
{
    std::array<char, 16> scheme{};
    std::array<char, 8> host{};
    std::array<char, 64> path{};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme.data();
    parts.dwSchemeLength = static_cast<std::uint32_t>(scheme.size());
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<std::uint32_t>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<std::uint32_t>(path.size());

    const char* address = "https://short:8443/a%41b";
    ASSERT_TRUE(InternetCrackUrlA(address, 0, ICU_DECODE, &parts));
    EXPECT_STREQ(scheme.data(), "https");
    EXPECT_EQ(parts.dwSchemeLength, 5U);
    EXPECT_STREQ(host.data(), "short");
    EXPECT_EQ(parts.nPort, 8443);
    EXPECT_EQ(parts.nScheme, INTERNET_SCHEME_HTTPS);
    EXPECT_STREQ(path.data(), "/aAb");

    // Eight characters need nine bytes: the host no longer fits.
    parts.dwSchemeLength = static_cast<std::uint32_t>(scheme.size());
    parts.dwHostNameLength = static_cast<std::uint32_t>(host.size());
    parts.dwUrlPathLength = static_cast<std::uint32_t>(path.size());
    EXPECT_FALSE(InternetCrackUrlA("http://eightchr/", 0, ICU_DECODE, &parts));
    EXPECT_EQ(lastResponse().code, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(InternetCrackUrlA("relative/page.htm", 0, ICU_DECODE, &parts));
    EXPECT_EQ(lastResponse().code, ERROR_INTERNET_INVALID_URL);
}
