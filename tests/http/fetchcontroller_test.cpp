#include "eventpump.h"
#include "fetchcontroller.h"
#include "loopbackserver.h"
#include "messagecapture.h"
#include "siteaccess.h"
#include "testfiles.h"
#include "tickcount.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

using nqtest::LoopbackServer;
using nqtest::MessageCapture;
using nqtest::PumpUntil;
using nqtest::Reply;

namespace {

using nqtest::ReadFile;

const std::string kHtmlHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";

class FetchController : public ::testing::Test
{
protected:
    ~FetchController() override { EXPECT_TRUE(nqtest::WaitForWorkers()); }

    // Fetches path and waits for the outcome.
    TKsHttpGetState fetch(const std::string& path)
    {
        EXPECT_TRUE(get.CrackUrl.Crack(server.url(path)));
        get.StartGet(GETHTTP_BODY);
        EXPECT_TRUE(PumpUntil([this] { return !get.Busy; }));
        return get.State();
    }

    LoopbackServer server;
    MessageCapture messages;
    TKsHttpGet get;
};

} // namespace

TEST_F(FetchController, StartsWithItsDefaults)
{
    EXPECT_EQ(get.State(), GETHTTP_WAITING);
    EXPECT_EQ(get.TimeOut, 300);
    EXPECT_EQ(get.Agent, "Quillbox HTTPGet");
    EXPECT_EQ(get.Request, GETHTTP_BODY);
    EXPECT_FALSE(get.Busy);
    EXPECT_FALSE(get.Wait);
    EXPECT_EQ(get.Level, 1);
    EXPECT_EQ(get.ErrorCode(), 0U);
}

TEST_F(FetchController, MemoryModeSuccessRules)
{
    server.serve("/ok.htm", Reply::html("<p>page</p>"));
    server.serveRaw("/notype", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    server.serveRaw("/nolength", kHtmlHead + "\r\nno length here");
    server.serveRaw("/short", kHtmlHead + "Content-Length: 500\r\n\r\nshort");
    server.serveRaw("/empty", "HTTP/1.1 204 No Content\r\nContent-Type: text/html\r\n\r\n");
    std::string bigHead = kHtmlHead;
    while (bigHead.size() <= 4096)
        bigHead += "X-Padding: " + std::string(60, 'p') + "\r\n";
    server.serveRaw("/bighead", bigHead + "Content-Length: 2\r\n\r\nok");
    Reply missing = Reply::html("not here");
    missing.status = 404;
    missing.reason = "Not Found";
    server.serve("/missing", missing);

    const struct
    {
        const char* path;
        TKsHttpGetState outcome;
    } rows[] = {
        {"/ok.htm", GETHTTP_OK},   {"/notype", GETHTTP_ERROR}, {"/nolength", GETHTTP_OK},
        {"/short", GETHTTP_ERROR}, {"/empty", GETHTTP_ERROR},  {"/bighead", GETHTTP_OK},
        {"/missing", GETHTTP_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(fetch(row.path), row.outcome);
        get.SetWaiting();
    }

    EXPECT_EQ(fetch("/ok.htm"), GETHTTP_OK);
    EXPECT_EQ(get.StatusCode(), 200);
    EXPECT_EQ(get.Body(), "<p>page</p>");
    EXPECT_EQ(get.FContentType, "text/html");
    EXPECT_EQ(get.FContentLength, 11);
    EXPECT_EQ(get.Head().rfind("HTTP/1.1 200 OK\r\n", 0), 0U);
    get.SetWaiting();
    EXPECT_EQ(fetch("/missing"), GETHTTP_OK);
    EXPECT_EQ(get.StatusCode(), 404) << "the owner, not the transfer, judges the status";
    EXPECT_TRUE(messages.messages().empty());

    server.serve("/moved", Reply::redirect(301, server.url("/ok.htm")));
    get.SetWaiting();
    EXPECT_EQ(fetch("/moved"), GETHTTP_OK);
    EXPECT_EQ(get.EffectiveUrl(), server.url("/ok.htm"));
}

TEST_F(FetchController, ThrowingCompletionHandlerStillEndsInTheOutcome)
{
    server.serve("/a.htm", Reply::html("a"));
    get.OnDataComplete = [](TObject*, const String&) { throw std::runtime_error("handler"); };
    EXPECT_EQ(fetch("/a.htm"), GETHTTP_OK);
    EXPECT_FALSE(get.Busy);
    EXPECT_EQ(messages.texts().size(), 1U) << "the exception is shown, not lost";
}

TEST_F(FetchController, FileModeSuccessRules)
{
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    get.FileName = dir.filePath("page.txt").toStdString();
    server.serve("/ok.htm", Reply::html("file body"));
    server.serveRaw("/nolength", kHtmlHead + "\r\nsome body");
    server.serveRaw("/nolength-empty", kHtmlHead + "\r\n");
    server.serveRaw("/short", kHtmlHead + "Content-Length: 500\r\n\r\nshort");

    String completedName;
    Integer completedLength = -1;
    get.OnFileComplete = [&](TObject* sender, const String& name, Integer length) {
        EXPECT_EQ(sender, &get);
        completedName = name;
        completedLength = length;
    };

    EXPECT_EQ(fetch("/ok.htm"), GETHTTP_OK);
    EXPECT_EQ(completedName, get.FileName);
    EXPECT_EQ(completedLength, 9);
    EXPECT_EQ(ReadFile(get.FileName), "file body");
    EXPECT_EQ(get.StatusCode(), 200);
    EXPECT_EQ(get.Body(), "") << "a file-mode success leaves Head and Body as they were";
    EXPECT_EQ(get.Head(), "");

    const struct
    {
        const char* path;
        TKsHttpGetState outcome;
    } rows[] = {
        {"/nolength", GETHTTP_OK},
        {"/nolength-empty", GETHTTP_OK},
        {"/short", GETHTTP_ERROR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        get.SetWaiting();
        EXPECT_EQ(fetch(row.path), row.outcome);
    }

    get.SetWaiting();
    get.FileName = dir.filePath("no/such/folder/page.txt").toStdString();
    EXPECT_EQ(fetch("/ok.htm"), GETHTTP_ERROR);
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "unable to write to file " + get.FileName);
    EXPECT_EQ(messages.messages()[0].kind, TMsgKind::Error);
}

TEST_F(FetchController, SendsThePathAgentAndReloadAsAsked)
{
    server.serve("/page.asp", Reply::html("x"));
    get.Referer = "http://from.test/";
    EXPECT_EQ(fetch("/page.asp?q=a%26b%23c&id=3#part"), GETHTTP_OK);
    get.SetWaiting();
    get.ReuseCache = true;
    get.Agent = "";
    EXPECT_EQ(fetch("/page.asp"), GETHTTP_OK);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].target, "/page.asp?q=a%26b%23c&id=3")
        << "the query as written, without the fragment";
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].header("User-Agent"), "Quillbox HTTPGet");
    EXPECT_EQ(requests[0].header("Referer"), "http://from.test/");
    EXPECT_EQ(requests[0].header("Accept"), "*/*");
    EXPECT_EQ(requests[0].header("Pragma"), "no-cache");
    EXPECT_EQ(requests[1].header("Pragma"), "") << "a cached copy may answer";
    EXPECT_EQ(requests[1].header("User-Agent"), "");
}

TEST_F(FetchController, FailuresCarryTheLibrarysErrorAndRaiseOnError)
{
    Cardinal reportedCode = 0;
    String reportedText;
    int errors = 0;
    get.OnError = [&](TObject* sender, Cardinal code, const String& text) {
        EXPECT_EQ(sender, &get);
        EXPECT_FALSE(get.Busy) << "raised once the controller is idle";
        reportedCode = code;
        reportedText = text;
        ++errors;
    };
    ASSERT_TRUE(get.CrackUrl.Crack(nqtest::RefusedAddress()));
    get.StartGet(GETHTTP_BODY);
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }));
    EXPECT_EQ(get.State(), GETHTTP_ERROR);
    EXPECT_EQ(get.ErrorCode(), ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_FALSE(get.ErrorMsg().empty());
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(reportedCode, get.ErrorCode());
    EXPECT_EQ(reportedText, get.ErrorMsg());
}

TEST_F(FetchController, MisuseMessages)
{
    get.CrackUrl.Crack("not an address");
    get.StartGet(GETHTTP_HEAD);
    EXPECT_EQ(get.State(), GETHTTP_WAITING) << "an invalid address changes nothing";
    EXPECT_EQ(get.Request, GETHTTP_BODY);
    EXPECT_FALSE(get.Busy);

    get.KillGet();
    ASSERT_EQ(messages.texts().size(), 1U) << "the invalid-address message is never shown";
    EXPECT_EQ(messages.texts()[0], "KillGet on unassigned thread : not an address");

    const std::string stalled = kHtmlHead + "Content-Length: 10\r\n\r\n";
    server.serveRaw("/stall", stalled, stalled.size());
    ASSERT_TRUE(get.CrackUrl.Crack(server.url("/stall")));
    get.StartGet(GETHTTP_BODY);
    get.StartGet(GETHTTP_HEAD);
    EXPECT_EQ(get.State(), GETHTTP_GETTING);
    EXPECT_EQ(get.Request, GETHTTP_HEAD) << "the second start still records its kind";
    ASSERT_EQ(messages.texts().size(), 2U);
    EXPECT_EQ(messages.texts()[1], "thread deja assigne : " + server.url("/stall"));
    ASSERT_TRUE(PumpUntil([this] { return server.requestCount() == 1; }));
    get.KillGet();
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }));
    EXPECT_EQ(server.requestCount(), 1U) << "no second worker was started";
}

TEST_F(FetchController, KillEndsAStalledTransferAtOnce)
{
    const std::string stalled = kHtmlHead + "Content-Length: 100000\r\n\r\n" + std::string(50, 'x');
    server.serveRaw("/stall", stalled, stalled.size());
    ASSERT_TRUE(get.CrackUrl.Crack(server.url("/stall")));
    get.StartGet(GETHTTP_BODY);
    ASSERT_TRUE(PumpUntil([this] { return server.requestCount() == 1; }));

    const std::uint32_t killedAt = GetTickCount();
    get.KillGet();
    EXPECT_EQ(get.State(), GETHTTP_KILLING);
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }, std::chrono::seconds(1)));
    EXPECT_LT(GetTickCount() - killedAt, 1000U);
    EXPECT_EQ(get.State(), GETHTTP_ERROR);
    EXPECT_EQ(get.ErrorCode(), ERROR_INTERNET_OPERATION_CANCELLED);
}

TEST_F(FetchController, KillAfterTheRunButBeforeCompletionKeepsTheOutcome)
{
    server.serve("/quick", Reply::html("done"));
    ASSERT_TRUE(get.CrackUrl.Crack(server.url("/quick")));
    get.StartGet(GETHTTP_BODY);
    THTTPGetThread* worker = get.Worker();
    ASSERT_NE(worker, nullptr);
    // Without pumping, the completion cannot run; the run is over once it
    // has closed its handles after the request arrived.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(server.requestCount() == 1 && worker->Handles.Request.load() == NullHandle &&
             worker->Handles.Root.load() == NullHandle) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(server.requestCount(), 1U);

    get.KillGet();
    EXPECT_EQ(get.State(), GETHTTP_KILLING);
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }));
    EXPECT_EQ(get.State(), GETHTTP_OK);
    EXPECT_EQ(get.Body(), "done");
}

TEST_F(FetchController, StartFromACompletionEventIsRefused)
{
    server.serve("/a.htm", Reply::html("a"));
    int starts = 0;
    get.OnDataComplete = [&](TObject*, const String& body) {
        EXPECT_EQ(body, "a");
        EXPECT_EQ(get.State(), GETHTTP_GETTING) << "events run before the outcome is set";
        ++starts;
        get.StartGet(GETHTTP_BODY);
    };
    String head;
    get.OnHeadComplete = [&](TObject*, const String& h, const String& type, Integer length) {
        head = h;
        EXPECT_EQ(type, "text/html");
        EXPECT_EQ(length, 1);
    };
    EXPECT_EQ(fetch("/a.htm"), GETHTTP_OK);
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(head.empty());
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "thread deja assigne : " + server.url("/a.htm"));
    EXPECT_EQ(server.requestCount(), 1U);
}

TEST_F(FetchController, WaitReturnsWithTheOutcome)
{
    server.serve("/w.htm", Reply::html("waited"));
    get.Wait = true;
    ASSERT_TRUE(get.CrackUrl.Crack(server.url("/w.htm")));
    get.StartGet(GETHTTP_HEAD);
    EXPECT_FALSE(get.Busy);
    EXPECT_EQ(get.State(), GETHTTP_OK);
    EXPECT_EQ(get.Request, GETHTTP_HEAD);
    EXPECT_EQ(get.Body(), "waited") << "a HEAD start still transfers the whole body";
}

TEST_F(FetchController, DeadlineIsStartPlusTimeOut)
{
    server.serve("/t.htm", Reply::html("t"));
    get.TimeOut = 0;
    ASSERT_TRUE(get.CrackUrl.Crack(server.url("/t.htm")));
    const std::uint32_t before = GetTickCount();
    get.StartGet(GETHTTP_BODY);
    const std::uint32_t after = GetTickCount();
    EXPECT_LE(get.ConnectTimeOut - before, after - before) << "the deadline is the start tick";
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }));

    get.SetWaiting();
    get.TimeOut = 300;
    const std::uint32_t start = GetTickCount();
    get.StartGet(GETHTTP_BODY);
    EXPECT_LE(get.ConnectTimeOut - start - 300000U, GetTickCount() - start);
    ASSERT_TRUE(PumpUntil([this] { return !get.Busy; }));
}

TEST(FetchControllerLifetime, DestroyedWhileTransferring)
{
    LoopbackServer server;
    MessageCapture messages;
    const std::string stalled = kHtmlHead + "Content-Length: 10\r\n\r\n";
    server.serveRaw("/stall", stalled, stalled.size());
    int reports = 0;
    {
        auto get = std::make_unique<TKsHttpGet>();
        get->OnError = [&](TObject*, Cardinal, const String&) { ++reports; };
        ASSERT_TRUE(get->CrackUrl.Crack(server.url("/stall")));
        get->StartGet(GETHTTP_BODY);
        ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == 1; }));
    }
    EXPECT_TRUE(nqtest::WaitForWorkers(std::chrono::seconds(2)));
    EXPECT_EQ(reports, 0) << "a detached worker reports to no one";
}

// The site's access goes along a redirect to another host only for the
// start page, whose redirect moves the site there.
TEST_F(FetchController, SiteAccessFollowsOnlyTheStartPagesRedirect)
{
    LoopbackServer elsewhere;
    elsewhere.serve("/there.htm", Reply::html("there"));
    server.serve("/go", Reply::redirect(302, elsewhere.url("/there.htm")));
    auto access = std::make_shared<inet::SiteAccess>(inet::SiteAccess::For(server.url("/")));
    access->headers = {"X-Token: t"};
    inet::SetSiteAccess(access);
    for (const bool start : {false, true}) {
        SCOPED_TRACE(start ? "start page" : "other page");
        get.SiteStart = start;
        get.SetWaiting();
        EXPECT_EQ(fetch("/go"), GETHTTP_OK);
        EXPECT_EQ(get.StatusCode(), 200);
        EXPECT_EQ(server.requests().back().header("X-Token"), "t");
        const nqtest::Request there = elsewhere.requests().back();
        EXPECT_EQ(there.header("X-Token"), start ? "t" : "");
    }
    inet::SetSiteAccess(nullptr);
}
