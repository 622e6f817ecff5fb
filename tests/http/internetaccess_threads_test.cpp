#include "loopbackserver.h"
#include "internetaccess.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using nqtest::LoopbackServer;
using nqtest::Reply;
using Clock = std::chrono::steady_clock;

namespace {

struct Handles
{
    std::atomic<HINTERNET> root{NullHandle};
    std::atomic<HINTERNET> connection{NullHandle};
    std::atomic<HINTERNET> request{NullHandle};

    // Close each handle once, whichever thread comes first, as the workers
    // do.
    void closeAll()
    {
        for (auto* h : {&request, &connection, &root}) {
            const HINTERNET taken = h->exchange(NullHandle);
            if (taken != NullHandle) {
                EXPECT_TRUE(InternetCloseHandle(taken));
            }
        }
    }
};

enum class Stage
{
    Sending,
    Reading,
};

struct Outcome
{
    bool failed = false;
    std::uint32_t error = 0;
};

// Runs a transfer on a worker thread; `entered` is set just before the call
// that is expected to block.
Outcome runTransfer(Handles& h, std::uint16_t port, const std::string& path,
                    std::promise<void>& entered, Stage blocking)
{
    Outcome out;
    h.root = InternetOpenA("t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    h.connection =
        InternetConnectA(h.root.load(), "127.0.0.1", port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    const char* accept[] = {"Accept: */*", nullptr};
    h.request = HttpOpenRequestA(h.connection.load(), "GET", path.c_str(), "HTTP/1.0", "", accept,
                                 INTERNET_FLAG_RELOAD, 0);
    if (blocking == Stage::Sending)
        entered.set_value();
    if (!HttpSendRequestA(h.request.load(), nullptr, 0, nullptr, 0)) {
        out.failed = true;
    } else {
        if (blocking == Stage::Reading)
            entered.set_value();
        std::array<char, 1025> buffer{};
        std::uint32_t got = 0;
        bool ok = true;
        do {
            ok = InternetReadFile(h.request.load(), buffer.data(), 1025, &got);
        } while (ok && got > 0);
        out.failed = !ok;
    }
    std::array<char, 4096> text{};
    std::uint32_t length = 4096;
    InternetGetLastResponseInfoA(&out.error, text.data(), &length);
    h.closeAll();
    return out;
}

void expectAbortedPromptly(const std::string& raw, std::size_t stallAfter, Stage blocking)
{
    LoopbackServer server;
    server.serveRaw("/stall", raw, stallAfter);

    Handles handles;
    std::promise<void> entered;
    auto enteredFuture = entered.get_future();
    auto result = std::async(std::launch::async, [&] {
        return runTransfer(handles, server.port(), "/stall", entered, blocking);
    });
    enteredFuture.wait();
    // Let the call really block on the stalled peer before closing under it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "the transfer should still be waiting on the stalled server";

    const auto closedAt = Clock::now();
    handles.closeAll();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(1)), std::future_status::ready)
        << "closing the handle must end the blocked call at once";
    const auto took = Clock::now() - closedAt;
    const Outcome outcome = result.get();
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_LT(took, std::chrono::seconds(1));
}

} // namespace

TEST(InternetLayerThreads, ClosingUnblocksAStalledRead)
{
    const std::string raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                            "100000\r\n\r\n" +
                            std::string(3000, 'b');
    expectAbortedPromptly(raw, raw.size() - 1000, Stage::Reading);
}

TEST(InternetLayerThreads, ClosingUnblocksASendWaitingForHeaders)
{
    expectAbortedPromptly("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\nx", 0, Stage::Sending);
}

TEST(InternetLayerThreads, ConcurrentTransfersShareConnectionsButNotReplies)
{
    LoopbackServer server;
    server.setKeepAlive(true);
    constexpr int kThreads = 5;
    constexpr int kRounds = 4;
    for (int i = 0; i < kThreads; ++i)
        server.serve("/p" + std::to_string(i),
                     Reply::html(std::string(static_cast<std::size_t>(20000 + i),
                                             static_cast<char>('a' + i))));

    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                const HINTERNET root =
                    InternetOpenA("t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
                const HINTERNET connection = InternetConnectA(root, "127.0.0.1", server.port(), "",
                                                              "", INTERNET_SERVICE_HTTP, 0, 0);
                const char* accept[] = {"*/*", nullptr};
                const std::string path = "/p" + std::to_string(i);
                const HINTERNET request =
                    HttpOpenRequestA(connection, "GET", path.c_str(), "HTTP/1.1", "", accept, 0, 0);
                std::string body;
                if (HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
                    std::array<char, 1025> buffer{};
                    std::uint32_t got = 0;
                    while (InternetReadFile(request, buffer.data(), 1025, &got) && got > 0)
                        body.append(buffer.data(), got);
                }
                if (body ==
                    std::string(static_cast<std::size_t>(20000 + i), static_cast<char>('a' + i)))
                    ++good;
                InternetCloseHandle(request);
                InternetCloseHandle(connection);
                InternetCloseHandle(root);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), kThreads * kRounds);
    // Never more connections than transfers at one time.
    EXPECT_LE(server.connectionCount(), static_cast<std::size_t>(kThreads));
}

TEST(InternetLayerThreads, CloseRacesWithTheWorkersOwnClose)
{
    // Both sides close the same three handles at about the same moment; each
    // handle goes exactly once and nothing is used after it is freed.
    LoopbackServer server;
    server.serve("/", Reply::html(std::string(5000, 'z')));
    for (int round = 0; round < 20; ++round) {
        Handles handles;
        std::promise<void> entered;
        auto enteredFuture = entered.get_future();
        auto result = std::async(std::launch::async, [&] {
            return runTransfer(handles, server.port(), "/", entered, Stage::Sending);
        });
        enteredFuture.wait();
        handles.closeAll();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        result.get();
    }
}
