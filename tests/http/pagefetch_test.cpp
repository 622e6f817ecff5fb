#include "eventpump.h"
#include "loopbackserver.h"
#include "messagecapture.h"
#include "pagefetch.h"
#include "testfiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using nqtest::LoopbackServer;
using nqtest::MessageCapture;
using nqtest::PumpUntil;
using nqtest::Reply;

namespace {

std::string readFile(const QString& path)
{
    return nqtest::ReadFile(path.toStdString());
}

const std::string kHtmlHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";

class PageFetch : public ::testing::Test
{
protected:
    PageFetch()
    {
        fetch.FileName = dir.filePath("cache.txt").toStdString();
        fetch.OnDoneFile = [this](TObject* sender, const String& name, Integer size) {
            EXPECT_EQ(sender, &fetch);
            outcomes.push_back("done " + name + " " + std::to_string(size));
        };
        fetch.OnError = [this](TObject* sender) {
            EXPECT_EQ(sender, &fetch);
            outcomes.push_back("error");
        };
    }
    ~PageFetch() override { EXPECT_TRUE(nqtest::WaitForWorkers()); }

    void download(const std::string& url)
    {
        fetch.URL = url;
        const auto before = outcomes.size();
        fetch.DownloadFile();
        EXPECT_TRUE(PumpUntil([&] { return outcomes.size() > before && !fetch.Worker(); }));
    }
    std::string done(Integer size) const
    {
        return "done " + fetch.FileName + " " + std::to_string(size);
    }

    QTemporaryDir dir;
    LoopbackServer server;
    MessageCapture messages;
    THTTPGet fetch;
    std::vector<std::string> outcomes;
};

} // namespace

TEST_F(PageFetch, DownloadsIntoAFileOnTheAddressesPort)
{
    EXPECT_EQ(fetch.Agent, "Quillbox HTTPGet");
    EXPECT_EQ(fetch.AcceptTypes, "*/*");
    server.serve("/page.asp", Reply::html("the page"));
    server.serve("/moved", Reply::redirect(302, server.url("/page.asp?id=3")));
    download(server.url("/moved"));
    ASSERT_EQ(outcomes, std::vector<std::string>{done(8)});
    EXPECT_EQ(fetch.EffectiveUrl(), server.url("/page.asp?id=3"));
    EXPECT_EQ(readFile(dir.filePath("cache.txt")), "the page");
    const auto request = server.requests().at(1);
    EXPECT_EQ(request.target, "/page.asp?id=3") << "the query is sent";
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(request.header("Pragma"), "no-cache");
    EXPECT_EQ(request.header("User-Agent"), "Quillbox HTTPGet");
}

TEST_F(PageFetch, SuccessRules)
{
    server.serveRaw("/nolength-empty", kHtmlHead + "\r\n");
    server.serveRaw("/nolength", kHtmlHead + "\r\nbody without length");
    server.serveRaw("/short", kHtmlHead + "Content-Length: 50\r\n\r\nshort");
    Reply missing = Reply::html("missing page");
    missing.status = 404;
    missing.reason = "Not Found";
    server.serve("/missing", missing);
    // No Content-Type is no failure here: only the length is asked for.
    server.serveRaw("/notype", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");

    download(server.url("/nolength-empty"));
    download(server.url("/nolength"));
    download(server.url("/short"));
    download(server.url("/missing"));
    EXPECT_EQ(fetch.StatusCode(), 404);
    EXPECT_NE(fetch.ErrorMsg(), "");
    download(server.url("/notype"));
    EXPECT_EQ(fetch.StatusCode(), 200);
    EXPECT_EQ(fetch.ErrorMsg(), "") << "a success leaves no error behind";
    fetch.BinaryData = true;
    download(server.url("/nolength-empty"));
    EXPECT_EQ(outcomes,
              (std::vector<std::string>{done(0), done(19), "error", "error", done(3), "error"}));
}

TEST_F(PageFetch, PostsTheFormBody)
{
    server.serve("/form", Reply::html("ok"));
    fetch.PostQuery = "name=a+b&x=1";
    download(server.url("/form"));
    ASSERT_EQ(outcomes, std::vector<std::string>{done(2)});
    const auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "name=a+b&x=1");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(PageFetch, OneDownloadAtATime)
{
    server.serve("/one", Reply::html("1"));
    server.serve("/two", Reply::html("2"));
    fetch.URL = server.url("/one");
    fetch.DownloadFile();
    fetch.URL = server.url("/two");
    fetch.DownloadFile();
    fetch.OnDoneFile = [this](TObject*, const String&, Integer) {
        outcomes.push_back("done");
        fetch.DownloadFile(); // ignored: the component is still busy
    };
    ASSERT_TRUE(PumpUntil([&] { return !outcomes.empty() && !fetch.Worker(); }));
    ASSERT_TRUE(nqtest::WaitForWorkers());
    EXPECT_EQ(outcomes, std::vector<std::string>{"done"});
    EXPECT_EQ(server.requestCount(), 1U);
    EXPECT_EQ(server.requests().at(0).target, "/one");
}

TEST_F(PageFetch, CancelEndsInOnError)
{
    const std::string stalled = kHtmlHead + "Content-Length: 5000\r\n\r\n" + std::string(100, 'x');
    server.serveRaw("/stall", stalled, stalled.size());
    fetch.URL = server.url("/stall");
    fetch.DownloadFile();
    ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == 1; }));
    fetch.Cancel();
    // Cancel only asks; the blocked read ends when the server lets it go.
    server.releaseStalls();
    ASSERT_TRUE(PumpUntil([&] { return !outcomes.empty(); }));
    EXPECT_EQ(outcomes, std::vector<std::string>{"error"});

    // Also while the worker waits on the UI thread for its first progress
    // report (nothing is pumped here): the stop is seen at the next check.
    server.serve("/quick", Reply::html(std::string(3000, 'q')));
    fetch.OnProgress = [](TObject*, Integer, Integer) {};
    fetch.URL = server.url("/quick");
    fetch.DownloadFile();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.requestCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    fetch.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes.back(), "error");
}

TEST_F(PageFetch, ReportsProgressFromTheWorker)
{
    const std::string body(5000, 'p');
    server.serve("/big", Reply::html(body));
    std::vector<Integer> seen;
    TObject* progressSender = nullptr;
    fetch.OnProgress = [&](TObject* sender, Integer total, Integer readed) {
        progressSender = sender;
        EXPECT_EQ(total, 5000);
        seen.push_back(readed);
    };
    download(server.url("/big"));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 5000);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_NE(progressSender, &fetch) << "the sender is the worker";
    EXPECT_NE(progressSender, nullptr);
}

TEST_F(PageFetch, WaitThreadAndMemoryMode)
{
    server.serve("/w", Reply::html("in memory"));
    fetch.WaitThread = true;
    fetch.FileName.clear();
    String result;
    fetch.OnDoneString = [&](TObject* sender, const String& text) {
        EXPECT_EQ(sender, &fetch);
        result = text;
    };
    fetch.URL = server.url("/w");
    fetch.DownloadFile();
    EXPECT_EQ(fetch.Worker(), nullptr) << "returns after the completion has run";
    EXPECT_EQ(result, "in memory");
}

TEST_F(PageFetch, UnwritableFileIsReported)
{
    server.serve("/p", Reply::html("p"));
    fetch.FileName = dir.filePath("missing/folder/cache.txt").toStdString();
    download(server.url("/p"));
    EXPECT_EQ(outcomes, std::vector<std::string>{"error"});
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "unable to write to file " + fetch.FileName);
}

TEST(PageFetchLifetime, DestroyedWhileDownloading)
{
    LoopbackServer server;
    const std::string stalled = kHtmlHead + "Content-Length: 10\r\n\r\n";
    server.serveRaw("/stall", stalled, stalled.size());
    const QTemporaryDir dir;
    int reports = 0;
    {
        THTTPGet fetch;
        fetch.FileName = dir.filePath("c.txt").toStdString();
        fetch.OnError = [&](TObject*) { ++reports; };
        fetch.URL = server.url("/stall");
        fetch.DownloadFile();
        ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == 1; }));
    }
    EXPECT_TRUE(nqtest::WaitForWorkers(std::chrono::seconds(2)));
    EXPECT_EQ(reports, 0);
}

TEST_F(PageFetch, NewDownloadDoesNotWaitForACancelledStalledOne)
{
    server.serveRaw("/silent", "", 0);
    server.serve("/next", Reply::html("next"));
    fetch.URL = server.url("/silent");
    fetch.DownloadFile();
    ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == 1; }));
    fetch.Cancel();
    download(server.url("/next"));
    EXPECT_EQ(outcomes, std::vector<std::string>{done(4)}) << "the stale worker reports nothing";
    EXPECT_EQ(readFile(dir.filePath("cache.txt")), "next");
}

TEST(PageFetchLifetime, DestroyedJustAfterTheStartEndsItsWorker)
{
    LoopbackServer server;
    server.serveRaw("/silent", "", 0);
    const QTemporaryDir dir;
    // The destruction lands anywhere in the opening of the handles.
    for (int i = 0; i < 400; ++i) {
        SCOPED_TRACE(i);
        {
            THTTPGet fetch;
            fetch.FileName = dir.filePath("c.txt").toStdString();
            fetch.URL = server.url("/silent");
            fetch.DownloadFile();
            std::this_thread::sleep_for(std::chrono::microseconds(i * 5));
        }
        ASSERT_TRUE(nqtest::WaitForWorkers(std::chrono::seconds(1)));
    }
}
