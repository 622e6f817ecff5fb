#include "loopbackserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace std::string_literals;
using nqtest::LoopbackServer;
using nqtest::Reply;
using nqtest::UniqueFd;

namespace {

using Clock = std::chrono::steady_clock;

UniqueFd connectTo(std::uint16_t port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(0x7f000001u);
    if (fd.valid() &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        fd.reset();
    return fd;
}

bool sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

struct Received
{
    std::string data;
    bool closed = false; // EOF or reset seen before the time ran out
};

// Reads until the peer closes, `enough` bytes have arrived, or `timeout` passes.
Received readFor(int fd, std::chrono::milliseconds timeout, std::size_t enough = SIZE_MAX)
{
    Received r;
    const auto deadline = Clock::now() + timeout;
    while (r.data.size() < enough) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            r.closed = true;
            break;
        }
        r.data.append(buf, static_cast<std::size_t>(n));
    }
    return r;
}

// One complete exchange; the server must close within a few seconds.
std::string fetch(const LoopbackServer& server, std::string_view request)
{
    const UniqueFd fd = connectTo(server.port());
    if (!fd.valid() || !sendAll(fd.get(), request))
        return "<connect/send failed>";
    const Received r = readFor(fd.get(), 5s);
    return r.closed ? r.data : "<not closed: " + r.data + ">";
}

std::string get(const LoopbackServer& server, std::string_view target)
{
    return fetch(server, "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

std::string bodyOf(const std::string& response)
{
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? "<no head end>" : response.substr(end + 4);
}

std::string headOf(const std::string& response)
{
    return response.substr(0, response.find("\r\n\r\n") + 2);
}

bool waitForRequests(const LoopbackServer& server, std::size_t count)
{
    const auto deadline = Clock::now() + 5s;
    while (server.requestCount() < count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(LoopbackServerBasics, BindsEphemeralLoopbackPort)
{
    const LoopbackServer server;
    EXPECT_NE(server.port(), 0);
    const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(server.url(), origin + "/");
    EXPECT_EQ(server.url("/a/b?x=1"), origin + "/a/b?x=1");

    const LoopbackServer other;
    EXPECT_NE(other.port(), server.port());
}

TEST(LoopbackServerReply, HtmlReplyIsFramedWithContentLength)
{
    LoopbackServer server;
    server.serve("/page", Reply::html("<p>hi</p>"));
    EXPECT_EQ(get(server, "/page"), "HTTP/1.1 200 OK\r\n"
                                    "Content-Type: text/html\r\n"
                                    "Content-Length: 9\r\n"
                                    "Connection: close\r\n"
                                    "\r\n"
                                    "<p>hi</p>");
}

TEST(LoopbackServerReply, GivenHeadersKeepOrderAndSuppressDuplicates)
{
    LoopbackServer server;
    Reply r;
    r.status = 201;
    r.reason = "Created";
    r.headers = {{"X-B", "2"}, {"content-length", "3"}, {"X-A", "1"}, {"CONNECTION", "close"}};
    r.body = "abc";
    server.serve("/c", r);
    EXPECT_EQ(get(server, "/c"), "HTTP/1.1 201 Created\r\n"
                                 "X-B: 2\r\n"
                                 "content-length: 3\r\n"
                                 "X-A: 1\r\n"
                                 "CONNECTION: close\r\n"
                                 "\r\n"
                                 "abc");
}

TEST(LoopbackServerReply, BodyWithoutContentLengthEndsAtClose)
{
    LoopbackServer server;
    Reply r = Reply::html("until close");
    r.addContentLength = false;
    server.serve("/n", r);
    const std::string response = get(server, "/n");
    EXPECT_EQ(headOf(response).find("Content-Length"), std::string::npos) << response;
    EXPECT_EQ(bodyOf(response), "until close");
}

TEST(LoopbackServerReply, UnknownPathIsHtml404)
{
    LoopbackServer server;
    server.serve("/known", Reply::html("x"));
    const std::string response = get(server, "/unknown");
    EXPECT_EQ(response.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << response;
    EXPECT_NE(headOf(response).find("\r\nContent-Type: text/html\r\n"), std::string::npos);
    const std::string body = bodyOf(response);
    EXPECT_FALSE(body.empty());
    EXPECT_NE(headOf(response).find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos)
        << response;
}

TEST(LoopbackServerReply, RedirectCarriesStatusAndLocation)
{
    LoopbackServer server;
    server.serve("/old", Reply::redirect(302, "/new"));
    server.serve("/gone", Reply::redirect(301, "http://127.0.0.1:1/elsewhere"));

    const std::string found = get(server, "/old");
    EXPECT_EQ(found.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << found;
    EXPECT_NE(headOf(found).find("\r\nLocation: /new\r\n"), std::string::npos) << found;

    const std::string moved = get(server, "/gone");
    EXPECT_EQ(moved.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u) << moved;
    EXPECT_NE(headOf(moved).find("\r\nLocation: http://127.0.0.1:1/elsewhere\r\n"),
              std::string::npos);
}

TEST(LoopbackServerReply, HeadRequestGetsHeadersOnly)
{
    LoopbackServer server;
    server.serve("/page", Reply::html("<p>hi</p>"));
    const std::string response = fetch(server, "HEAD /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_NE(response.find("\r\nContent-Length: 9\r\n"), std::string::npos) << response;
    EXPECT_EQ(bodyOf(response), "");
}

TEST(LoopbackServerRouting, QueryIsIgnoredUnlessExactTargetIsRegistered)
{
    LoopbackServer server;
    server.serve("/p", Reply::html("by-path"));
    server.serve("/p?x=1", Reply::html("by-target"));
    EXPECT_EQ(bodyOf(get(server, "/p")), "by-path");
    EXPECT_EQ(bodyOf(get(server, "/p?y=2")), "by-path");
    EXPECT_EQ(bodyOf(get(server, "/p?x=1")), "by-target");
    EXPECT_EQ(bodyOf(get(server, "/p?x=12")), "by-path");
}

TEST(LoopbackServerRouting, AbsoluteFormTargetRoutesByItsPath)
{
    LoopbackServer server;
    server.serve("/p", Reply::html("proxied"));
    EXPECT_EQ(bodyOf(get(server, "http://example.invalid/p?q")), "proxied");
    EXPECT_EQ(server.requests().at(0).target, "http://example.invalid/p?q");
}

TEST(LoopbackServerRouting, RouteCanBeReplacedWhileRunning)
{
    LoopbackServer server;
    server.serve("/r", Reply::html("one"));
    EXPECT_EQ(bodyOf(get(server, "/r")), "one");
    server.serve("/r", Reply::html("two"));
    EXPECT_EQ(bodyOf(get(server, "/r")), "two");
}

TEST(LoopbackServerRequests, RecordsRequestLineHeadersAndBody)
{
    LoopbackServer server;
    server.serve("/form", Reply::html("ok"));
    const UniqueFd fd = connectTo(server.port());
    ASSERT_TRUE(fd.valid());
    // Head and body in separate writes: the body must be read by Content-Length, not luck.
    ASSERT_TRUE(sendAll(fd.get(), "POST /form?a=1 HTTP/1.0\r\n"
                                  "Host: 127.0.0.1\r\n"
                                  "X-Custom:   padded value \t\r\n"
                                  "Content-Length: 10\r\n"
                                  "\r\n"
                                  "hello"));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(server.requestCount(), 0u);
    ASSERT_TRUE(sendAll(fd.get(), "world"));
    const Received r = readFor(fd.get(), 5s);
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(bodyOf(r.data), "ok");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const nqtest::Request& req = requests[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.target, "/form?a=1");
    EXPECT_EQ(req.version, "HTTP/1.0");
    EXPECT_EQ(req.header("x-custom"), "padded value");
    EXPECT_EQ(req.header("HOST"), "127.0.0.1");
    EXPECT_EQ(req.header("Missing"), "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", "127.0.0.1"}, {"X-Custom", "padded value"}, {"Content-Length", "10"}};
    EXPECT_EQ(req.headers, expected);
    EXPECT_EQ(req.body, "helloworld");
}

TEST(LoopbackServerRequests, KeepsArrivalOrder)
{
    LoopbackServer server;
    for (const char* target : {"/1", "/2?x", "/3"})
        get(server, target);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(requests[0].target, "/1");
    EXPECT_EQ(requests[1].target, "/2?x");
    EXPECT_EQ(requests[2].target, "/3");
}

TEST(LoopbackServerRequests, DecodesChunkedRequestBody)
{
    LoopbackServer server;
    server.serve("/up", Reply::html("ok"));
    const std::string response = fetch(server, "PUT /up HTTP/1.1\r\n"
                                               "Transfer-Encoding: chunked\r\n"
                                               "\r\n"
                                               "5;ext=1\r\nhello\r\n"
                                               "A\r\n, chunked!\r\n"
                                               "0\r\nX-Trailer: t\r\n\r\n");
    EXPECT_EQ(bodyOf(response), "ok");
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, "hello, chunked!");
}

TEST(LoopbackServerRequests, AnswersExpectContinueBeforeBodyArrives)
{
    LoopbackServer server;
    server.serve("/up", Reply::html("ok"));
    const UniqueFd fd = connectTo(server.port());
    ASSERT_TRUE(fd.valid());
    ASSERT_TRUE(sendAll(fd.get(), "POST /up HTTP/1.1\r\n"
                                  "Expect: 100-continue\r\n"
                                  "Content-Length: 4\r\n"
                                  "\r\n"));
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    EXPECT_EQ(readFor(fd.get(), 5s, interim.size()).data, interim);
    ASSERT_TRUE(sendAll(fd.get(), "data"));
    const Received rest = readFor(fd.get(), 5s);
    EXPECT_TRUE(rest.closed);
    EXPECT_EQ(rest.data.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << rest.data;
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(server.requests()[0].body, "data");
}

TEST(LoopbackServerRequests, MalformedOrOversizedHeadsAreRejectedAndNotRecorded)
{
    LoopbackServer server;
    server.serve("/", Reply::html("x"));
    const std::string huge = "GET / HTTP/1.1\r\nX-Big: " + std::string(70 * 1024, 'a') + "\r\n\r\n";
    EXPECT_EQ(fetch(server, huge).rfind("HTTP/1.1 431 ", 0), 0u);
    EXPECT_EQ(fetch(server, "NONSENSE\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
    EXPECT_EQ(
        fetch(server, "GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(LoopbackServerRaw, DeliversBytesExactlyThenCloses)
{
    LoopbackServer server;
    const std::string bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort\0\xff"s;
    server.serveRaw("/raw", bytes);
    EXPECT_EQ(get(server, "/raw"), bytes);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(LoopbackServerChunked, BodyIsFramedInChunksOfChunkSize)
{
    LoopbackServer server;
    std::string body;
    for (int i = 0; i < 2500; ++i)
        body += static_cast<char>('a' + i % 26);
    Reply r = Reply::html(body);
    r.chunked = true;
    r.chunkSize = 1000;
    server.serve("/big", r);
    Reply empty = Reply::html("");
    empty.chunked = true;
    server.serve("/empty", empty);

    const std::string response = get(server, "/big");
    const std::string head = headOf(response);
    EXPECT_NE(head.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
    EXPECT_EQ(bodyOf(response), "3e8\r\n" + body.substr(0, 1000) + "\r\n" + "3e8\r\n" +
                                    body.substr(1000, 1000) + "\r\n" + "1f4\r\n" +
                                    body.substr(2000) + "\r\n" + "0\r\n\r\n");

    EXPECT_EQ(bodyOf(get(server, "/empty")), "0\r\n\r\n");
}

TEST(LoopbackServerStall, HoldsAfterPrefixUntilReleased)
{
    LoopbackServer server;
    Reply r = Reply::html("<p>hi</p>");
    r.stallAfter = 10;
    server.serve("/slow", r);
    const UniqueFd fd = connectTo(server.port());
    ASSERT_TRUE(fd.valid());
    ASSERT_TRUE(sendAll(fd.get(), "GET /slow HTTP/1.1\r\n\r\n"));

    EXPECT_EQ(readFor(fd.get(), 5s, 10).data, "HTTP/1.1 2");
    const Received held = readFor(fd.get(), 300ms);
    EXPECT_FALSE(held.closed);
    EXPECT_EQ(held.data, "");

    const auto released = Clock::now();
    server.releaseStalls();
    const Received after = readFor(fd.get(), 5s);
    EXPECT_TRUE(after.closed);
    EXPECT_EQ(after.data, "");
    EXPECT_LT(Clock::now() - released, 1s);
}

TEST(LoopbackServerStall, ZeroPrefixSendsNothingAndLaterConnectionsStallAgain)
{
    LoopbackServer server;
    server.serveRaw("/raw", "HTTP/1.1 200 OK\r\n\r\n", 0);
    for (std::size_t round = 1; round <= 2; ++round) {
        const UniqueFd fd = connectTo(server.port());
        ASSERT_TRUE(fd.valid());
        ASSERT_TRUE(sendAll(fd.get(), "GET /raw HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(waitForRequests(server, round));
        const Received held = readFor(fd.get(), 200ms);
        EXPECT_FALSE(held.closed) << "round " << round;
        EXPECT_EQ(held.data, "");

        const auto released = Clock::now();
        server.releaseStalls();
        const Received after = readFor(fd.get(), 5s);
        EXPECT_TRUE(after.closed);
        EXPECT_EQ(after.data, "");
        EXPECT_LT(Clock::now() - released, 1s);
    }
}

TEST(LoopbackServerLifetime, DestructorIsPromptWithStalledAndHalfOpenClients)
{
    auto server = std::make_unique<LoopbackServer>();
    Reply r = Reply::html("never finished");
    r.stallAfter = 5;
    server->serve("/slow", r);

    const UniqueFd stalled = connectTo(server->port());
    const UniqueFd halfOpen = connectTo(server->port());
    const UniqueFd idle = connectTo(server->port());
    ASSERT_TRUE(stalled.valid() && halfOpen.valid() && idle.valid());
    ASSERT_TRUE(sendAll(stalled.get(), "GET /slow HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(sendAll(halfOpen.get(), "GET /slow HTTP/1.1\r\nHost: 127"));
    ASSERT_EQ(readFor(stalled.get(), 5s, 5).data, "HTTP/");

    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, 1s);

    for (int fd : {stalled.get(), halfOpen.get(), idle.get()})
        EXPECT_TRUE(readFor(fd, 1s).closed);
}

TEST(LoopbackServerConcurrency, ParallelClientsWhileRoutesChange)
{
    LoopbackServer server;
    server.serve("/c", Reply::html("v"));
    constexpr int kClients = 8;
    constexpr int kEach = 5;
    std::atomic<int> ok{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&server, &ok, i] {
            for (int j = 0; j < kEach; ++j) {
                const std::string response =
                    get(server, "/c?i=" + std::to_string(i) + "&j=" + std::to_string(j));
                if (response.rfind("HTTP/1.1 200 OK\r\n", 0) == 0)
                    ++ok;
            }
        });
    }
    for (int k = 0; k < 20; ++k) {
        server.serve("/c", Reply::html("v" + std::to_string(k)));
        server.serve("/other" + std::to_string(k), Reply::html("o"));
        (void)server.requests();
    }
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(ok.load(), kClients * kEach);
    EXPECT_EQ(server.requestCount(), static_cast<std::size_t>(kClients * kEach));
}

} // namespace
