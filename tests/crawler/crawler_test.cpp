#include "crawler.h"
#include "eventpump.h"
#include "loopbackserver.h"
#include "messagecapture.h"
#include "sitegenerator.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

using nqtest::LoopbackServer;
using nqtest::MessageCapture;
using nqtest::PumpUntil;
using nqtest::Reply;

namespace {

struct FoundLink
{
    String url, type, fromUrl, host, path, pathWithFile, extra;
    char hrefOrSrc;
    Integer countArea;
};

struct Stats
{
    Integer inQueue, downloading, toAnalyze, done, retries, errors;
    bool operator==(const Stats&) const = default;
};

struct ErrorReport
{
    String url;
    Cardinal code;
    String message;
};

class Crawl : public ::testing::Test
{
protected:
    Crawl()
    {
        crawler.OnLinkFound = [this](TObject* sender, const String& url, const String& type,
                                     const String& from, const String& host, const String& path,
                                     const String& withFile, const String& extra, String&,
                                     char hrefOrSrc, Integer area, bool&) {
            EXPECT_EQ(sender, &crawler);
            links.push_back({url, type, from, host, path, withFile, extra, hrefOrSrc, area});
        };
        crawler.OnPageReceived = [this](TObject*, const String&, const String& url,
                                        const String& head, const String&) {
            EXPECT_EQ(head.rfind("HTTP/", 0), 0U);
            pages.push_back(url);
        };
        crawler.OnError = [this](TObject*, const String& url, Cardinal code, const String& text) {
            errors.push_back({url, code, text});
        };
        crawler.OnUpdatedStats = [this](TObject*, Integer q, Integer d, Integer a, Integer done,
                                        Integer r, Integer e) {
            stats.push_back({q, d, a, done, r, e});
        };
        crawler.OnWorking = [this](TObject*, bool working) { workingEvents.push_back(working); };
    }
    ~Crawl() override
    {
        crawler.Stop();
        PumpUntil([this] { return !crawler.Working(); });
        EXPECT_TRUE(nqtest::WaitForWorkers());
    }

    // Starts at path and waits for the crawl to end by itself.
    void crawl(const std::string& path)
    {
        ASSERT_TRUE(crawler.Start(server.url(path)));
        ASSERT_TRUE(PumpUntil([this] { return !crawler.Working(); }, std::chrono::seconds(30)));
    }

    const FoundLink* link(const std::string& url) const
    {
        for (const auto& l : links) {
            if (l.url == url)
                return &l;
        }
        return nullptr;
    }

    // Requests for path, from the from-th request on.
    std::size_t fetched(const std::string& path, std::size_t from = 0) const
    {
        const auto all = server.requests();
        return static_cast<std::size_t>(
            std::count_if(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())),
                          all.end(), [&path](const auto& r) { return r.target == path; }));
    }

    LoopbackServer server;
    MessageCapture messages;
    TRuziZidu crawler;
    std::vector<FoundLink> links;
    std::vector<String> pages;
    std::vector<ErrorReport> errors;
    std::vector<Stats> stats;
    std::vector<bool> workingEvents;
};

} // namespace

TEST_F(Crawl, DefaultsAndIgnoredSettings)
{
    EXPECT_EQ(crawler.TimeOut, 300);
    EXPECT_EQ(crawler.Agent, "KsRuziZidu");
    EXPECT_EQ(crawler.Retries, 3);
    EXPECT_EQ(crawler.DepthSearchLevel(), 3);
    EXPECT_EQ(crawler.ConcurrentDownloads(), 5);
    EXPECT_EQ(crawler.HttpPort, 80);
    crawler.SetDepthSearchLevel(0);
    crawler.SetConcurrentDownloads(-2);
    EXPECT_EQ(crawler.DepthSearchLevel(), 3);
    EXPECT_EQ(crawler.ConcurrentDownloads(), 5);
    EXPECT_FALSE(crawler.Working());
}

TEST_F(Crawl, DepthOneFetchesOnlyTheStartPage)
{
    server.serve("/index.htm", Reply::html("<a href=\"a.htm\">a</a> <img src='pic.gif'>"));
    server.serve("/a.htm", Reply::html("never fetched"));
    crawler.SetDepthSearchLevel(1);
    crawl("/index.htm");
    EXPECT_EQ(server.requestCount(), 1U);
    ASSERT_EQ(links.size(), 2U);
    EXPECT_EQ(links[0].url, server.url("/a.htm"));
    EXPECT_EQ(links[1].url, server.url("/pic.gif"));
    EXPECT_EQ(pages, std::vector<String>{server.url("/index.htm")});
    EXPECT_EQ(workingEvents, (std::vector<bool>{true, false}));
    EXPECT_EQ(crawler.DoneCount(), 1);
}

TEST_F(Crawl, FollowsEveryPageOnceDownToTheDepth)
{
    nqtest::SiteShape shape;
    shape.pagesPerLevel = {1, 3, 9, 27};
    const auto site = nqtest::GenerateSite(shape);
    nqtest::ServeSite(server, site);
    server.serve("/start", Reply::redirect(302, server.url("/index.htm")));
    crawler.SetDepthSearchLevel(3);

    // Every page links back to the start page: neither where the crawl
    // was asked to start nor where that led is fetched again.
    for (const std::string start : {"/index.htm", "/start"}) {
        SCOPED_TRACE(start);
        links.clear();
        const std::size_t before = server.requestCount();
        crawl(start);
        EXPECT_EQ(fetched("/start", before), start == "/start" ? 1U : 0U);
        for (const auto& page : site.pages) {
            SCOPED_TRACE(page.path);
            EXPECT_EQ(fetched(page.path, before), page.level <= 3 ? 1U : 0U);
            // Level 4 pages are reported from level 3 but not followed; the
            // start page is the crawl's own, no link found.
            EXPECT_EQ(link(server.url(page.path)) != nullptr, page.path != "/index.htm");
        }
        std::set<String> unique;
        for (const auto& l : links)
            EXPECT_TRUE(unique.insert(l.url).second) << "reported twice: " << l.url;
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(crawler.DoneCount(), 1 + 3 + 9);
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Crawl, ReportsLinkArguments)
{
    server.serve("/d/p.htm", Reply::html("<a href = \"x.htm?id=3\">X</a>\n<IMG SRC='../i.gif'>"
                                         "<script>window.location=\"s.htm\"</script>"));
    crawler.SetDepthSearchLevel(1);
    crawl("/d/p.htm");
    ASSERT_EQ(links.size(), 3U);

    const FoundLink& anchor = links[0];
    EXPECT_EQ(anchor.url, server.url("/d/x.htm?id=3")) << "the page's port is kept";
    EXPECT_EQ(anchor.type, "htm");
    EXPECT_EQ(anchor.fromUrl, server.url("/d/p.htm"));
    EXPECT_EQ(anchor.host, "127.0.0.1");
    EXPECT_EQ(anchor.path, "/d");
    EXPECT_EQ(anchor.pathWithFile, "/d/x.htm");
    EXPECT_EQ(anchor.extra, "?id=3");
    EXPECT_EQ(anchor.hrefOrSrc, 'H');
    EXPECT_EQ(anchor.countArea, crawler.AnchorCount());
    EXPECT_GT(anchor.countArea, 0);

    const FoundLink& image = links[1];
    EXPECT_EQ(image.url, server.url("/i.gif"));
    EXPECT_EQ(image.type, "gif");
    EXPECT_EQ(image.hrefOrSrc, 'S');
    EXPECT_EQ(image.countArea, 0);
    EXPECT_EQ(links[2].url, server.url("/d/s.htm")) << "a script's location assignment";
    EXPECT_EQ(links[2].hrefOrSrc, ' ');
    EXPECT_EQ(crawler.KnownHosts().Count(), 1);
}

TEST_F(Crawl, WritesTheResultsFile)
{
    const QTemporaryDir dir;
    crawler.FileOfResults = dir.filePath("results.txt").toStdString();
    server.serve("/index.htm", Reply::html("<a href='a.htm'>a</a><a href='b.htm'>b</a>"
                                           "<a href='c.htm'>c</a>"));
    crawler.SetDepthSearchLevel(1);
    crawler.OnLinkFound = [](TObject*, const String& url, const String&, const String&,
                             const String&, const String&, const String&, const String&,
                             String& writeToFile, char, Integer, bool&) {
        if (url.find("b.htm") != String::npos)
            writeToFile = "custom line";
        else if (url.find("c.htm") != String::npos)
            writeToFile.clear();
    };
    crawl("/index.htm");
    std::ifstream in(crawler.FileOfResults, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "\"htm\";\"" + server.url("/a.htm") + "\";\"127.0.0.1\"\r\n" + "custom line\r\n");
}

TEST_F(Crawl, RetriesThenReports)
{
    // A reply of nothing at all fails every attempt.
    server.serveRaw("/flaky.htm", "");
    crawler.Retries = 3;
    crawl("/flaky.htm");
    EXPECT_EQ(fetched("/flaky.htm"), 3U);
    EXPECT_EQ(crawler.RetryCount(), 2);
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_EQ(errors[0].url, server.url("/flaky.htm"));
    EXPECT_EQ(errors[0].code, ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_FALSE(errors[0].message.empty());
    EXPECT_EQ(crawler.ErrorCount(), 1);

    errors.clear();
    crawler.Retries = 1;
    crawl("/flaky.htm");
    EXPECT_EQ(fetched("/flaky.htm"), 4U) << "one attempt only";
    EXPECT_EQ(errors.size(), 1U);
}

TEST_F(Crawl, StatusOtherThan200IsAnError)
{
    server.serve("/index.htm", Reply::html("<a href='gone.htm'>x</a>"));
    Reply gone = Reply::html("<a href='never.htm'>x</a>");
    gone.status = 404;
    gone.reason = "Not Found";
    server.serve("/gone.htm", gone);
    crawl("/index.htm");
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_EQ(errors[0].url, server.url("/gone.htm"));
    EXPECT_EQ(errors[0].code, 404U);
    EXPECT_EQ(errors[0].message, "");
    EXPECT_EQ(link(server.url("/never.htm")), nullptr) << "an error page yields no links";
    EXPECT_EQ(crawler.DoneCount(), 1);
}

TEST_F(Crawl, StalledPageTimesOut)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    server.serveRaw("/slow.htm", head, head.size());
    crawler.TimeOut = 0;
    crawler.Retries = 1;
    crawl("/slow.htm");
    ASSERT_EQ(errors.size(), 2U);
    EXPECT_EQ(errors[0].url, "timeout : " + server.url("/slow.htm"));
    EXPECT_EQ(errors[0].code, 0U);
    EXPECT_EQ(errors[0].message, "");
    // The killed transfer then ends like any failed one.
    EXPECT_EQ(errors[1].url, server.url("/slow.htm"));
    EXPECT_EQ(errors[1].code, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_EQ(crawler.ErrorCount(), 2);
}

TEST_F(Crawl, StatisticsFireOnlyOnChange)
{
    nqtest::SiteShape shape;
    shape.pagesPerLevel = {1, 5, 10};
    nqtest::ServeSite(server, nqtest::GenerateSite(shape));
    crawl("/index.htm");
    ASSERT_GE(stats.size(), 3U);
    EXPECT_EQ(stats[0], (Stats{0, 0, 0, 0, 0, 0})) << "Start reports zeros";
    for (std::size_t i = 2; i < stats.size(); ++i)
        EXPECT_FALSE(stats[i] == stats[i - 1]) << "event " << i << " repeats the one before";
    EXPECT_EQ(stats.back(), (Stats{0, 0, 0, 1 + 5 + 10, 0, 0}));
}

TEST_F(Crawl, StopWindsDown)
{
    nqtest::SiteShape shape;
    shape.pagesPerLevel = {1, 30};
    nqtest::ServeSite(server, nqtest::GenerateSite(shape));
    crawler.SetConcurrentDownloads(2);
    std::size_t linksAtStop = 0;
    crawler.OnPageReceived = [&](TObject*, const String&, const String& url, const String&,
                                 const String&) {
        pages.push_back(url);
        if (pages.size() == 2) {
            crawler.Stop();
            linksAtStop = links.size();
        }
    };
    ASSERT_TRUE(crawler.Start(server.url("/index.htm")));
    ASSERT_TRUE(PumpUntil([&] { return !crawler.Working(); }));
    EXPECT_GT(linksAtStop, 0U);
    EXPECT_FALSE(crawler.Aborting());
    EXPECT_EQ(links.size(), linksAtStop) << "no links are extracted while winding down";
    EXPECT_LT(pages.size(), 31U);
    EXPECT_EQ(crawler.Queue().Count(), 0);
    EXPECT_EQ(workingEvents.back(), false);

    // The crawler can be started again once it has wound down.
    pages.clear();
    server.serve("/again.htm", Reply::html("again"));
    crawl("/again.htm");
    EXPECT_EQ(pages, std::vector<String>{server.url("/again.htm")});
}

TEST_F(Crawl, StartRefusalsAndTheirMessages)
{
    EXPECT_FALSE(crawler.Start());
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "You must set the \"starting url\" property before starting");

    EXPECT_FALSE(crawler.Start("relative/page.htm"));
    EXPECT_EQ(messages.texts().back(), "Invalid Url : relative/page.htm");
    EXPECT_EQ(messages.messages().back().kind, TMsgKind::Error);

    const QTemporaryDir dir;
    crawler.FileOfResults = dir.filePath("no/such/dir/r.txt").toStdString();
    EXPECT_FALSE(crawler.Start(server.url("/")));
    EXPECT_EQ(messages.texts().back(), "unable to create file " + crawler.FileOfResults);
    crawler.FileOfResults.clear();

    // Stop on an idle crawler changes nothing.
    crawler.Stop();
    EXPECT_FALSE(crawler.Aborting());

    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    server.serveRaw("/slow.htm", head, head.size());
    const std::size_t before = messages.texts().size();
    ASSERT_TRUE(crawler.Start(server.url("/slow.htm")));
    EXPECT_FALSE(crawler.Start(server.url("/slow.htm")));
    EXPECT_EQ(messages.texts().size(), before) << "\"already working\" is silent";
    crawler.Stop();
    EXPECT_FALSE(crawler.Start(server.url("/slow.htm")));
    EXPECT_EQ(messages.texts().back(), "Waiting for processes to abort");
    EXPECT_EQ(messages.messages().back().kind, TMsgKind::Warning);
    ASSERT_TRUE(PumpUntil([this] { return !crawler.Working(); }));
}

TEST_F(Crawl, StayOnSiteAndRobots)
{
    server.serve("/index.htm", Reply::html("<a href='http://other.test/x.htm'>x</a>"
                                           "<a href='http://127.0.0.1/' >same host name</a>"));
    crawler.SetDepthSearchLevel(1);
    crawler.StayOnSite = true;
    crawl("/index.htm");
    ASSERT_EQ(links.size(), 1U);
    EXPECT_EQ(links[0].url, "http://127.0.0.1/") << "the host name decides, not the port";

    links.clear();
    crawler.StayOnSite = false;
    crawler.SeekRobotsTxt = true;
    server.serve("/robots.txt", Reply::html("User-agent: *"));
    server.serve("/page.htm", Reply::html("<a href='/index.htm'>home</a>"));
    crawl("/page.htm");
    EXPECT_EQ(fetched("/robots.txt"), 1U) << "queued with the link's scheme and port";
    EXPECT_EQ(links.size(), 1U) << "robots.txt is not reported as a link";
}

// Links of other schemes to the site's own host and port are listed and
// never requested, neither in their scheme nor as http.
TEST_F(Crawl, OnlyHttpAndHttpsAreFetched)
{
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
    server.serve("/index.htm", Reply::html("<a href='gopher://" + hostPort +
                                           "/1/menu.htm'>g</a>"
                                           "<a href='telnet://" +
                                           hostPort +
                                           "/'>t</a>"
                                           "<a href='ftp://" +
                                           hostPort + "/page.htm'>f</a>"));
    crawl("/index.htm");
    EXPECT_EQ(server.requestCount(), 1U);
    EXPECT_EQ(links.size(), 3U);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Crawl, DeepestFirstWhenLeavesFirst)
{
    server.serve("/index.htm", Reply::html("<a href='/a.htm'>a</a><a href='/b.htm'>b</a>"));
    server.serve("/a.htm", Reply::html("<a href='/a1.htm'>a1</a>"));
    server.serve("/b.htm", Reply::html("b"));
    server.serve("/a1.htm", Reply::html("a1"));
    crawler.SetConcurrentDownloads(1);
    crawler.LeavesFirst = true;
    crawl("/index.htm");
    std::vector<std::string> order;
    for (const auto& r : server.requests())
        order.push_back(r.target);
    EXPECT_EQ(order, (std::vector<std::string>{"/index.htm", "/a.htm", "/a1.htm", "/b.htm"}));
}

TEST_F(Crawl, ForwardsAgentAndCredentials)
{
    server.serve("/index.htm", Reply::html("x"));
    crawler.UserName = "joe";
    crawler.Password = "secret";
    crawl("/index.htm");
    const auto request = server.requests().at(0);
    EXPECT_EQ(request.header("User-Agent"), "KsRuziZidu");
    EXPECT_EQ(request.header("Authorization"), "Basic am9lOnNlY3JldA==");
}

TEST_F(Crawl, AThrowingHandlerDoesNotStopTheScheduler)
{
    server.serve("/index.htm", Reply::html("<a href='/a.htm'>a</a><a href='/b.htm'>b</a>"));
    server.serve("/a.htm", Reply::html("a"));
    server.serve("/b.htm", Reply::html("b"));
    crawler.OnLinkFound = [](TObject*, const String& url, const String&, const String&,
                             const String&, const String&, const String&, const String&, String&,
                             char, Integer, bool&) {
        if (url.find("/b.htm") != String::npos)
            throw std::runtime_error("handler failed");
    };
    crawl("/index.htm");
    // The page's scan ends at the error; the tick and the crawl go on.
    EXPECT_EQ(pages, (std::vector<String>{server.url("/index.htm"), server.url("/a.htm")}));
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "handler failed");
}

TEST_F(Crawl, StartsAtOnceAndKeepsEveryControllerBusy)
{
    // Pages held by the server until released, so that the requests in
    // flight can be counted at the server.
    std::string index;
    for (int i = 0; i < 12; ++i) {
        const std::string path = "/p" + std::to_string(i) + ".htm";
        index += "<a href='" + path + "'>p</a>";
        const std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\npage";
        server.serveRaw(path, reply, reply.size());
    }
    server.serve("/index.htm", Reply::html(index));
    crawler.SetDepthSearchLevel(2);
    std::size_t idleWithWork = 0;
    crawler.OnUpdatedStats = [&](TObject*, Integer, Integer, Integer, Integer, Integer, Integer) {
        for (const TKsHttpGet* fetcher : crawler.Fetchers()) {
            if (crawler.Queue().Count() > 0 && fetcher->State() == GETHTTP_WAITING)
                ++idleWithWork;
        }
    };
    ASSERT_TRUE(crawler.Start(server.url("/index.htm")));
    std::size_t getting = 0;
    for (const TKsHttpGet* fetcher : crawler.Fetchers())
        getting += fetcher->State() == GETHTTP_GETTING ? 1U : 0U;
    EXPECT_EQ(getting, 1U) << "the start page is asked for before Start returns";

    // 1 + 5, then 5 more per release, then the last 2.
    for (const std::size_t inFlight : {6U, 11U, 13U}) {
        ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == inFlight; }));
        server.releaseStalls();
    }
    ASSERT_TRUE(PumpUntil([this] { return !crawler.Working(); }, std::chrono::seconds(30)));
    EXPECT_EQ(crawler.DoneCount(), 13);
    EXPECT_EQ(idleWithWork, 0U) << "a controller left idle with work queued";
}

TEST_F(Crawl, RequestTimesFollowThePaceAndTheBackOffsOnTheTestClock)
{
    Reply tooMany = Reply::html("slow down");
    tooMany.status = 429;
    Reply busy = Reply::html("busy");
    busy.status = 503;
    const auto retryAfter = [](Reply reply, const std::string& value) {
        reply.headers.emplace_back("Retry-After", value);
        return reply;
    };
    using Times = std::vector<std::pair<std::string, double>>;
    const struct
    {
        const char* name;
        std::string robots;
        double wait;
        std::vector<Reply> b; // the replies to /b.htm in turn
        Times requests;       // in time order, robots.txt first
    } rows[] = {
        {"no pace", "", 0, {}, {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}}},
        {"crawl-delay",
         "User-agent: *\nCrawl-delay: 4\n",
         0,
         {},
         {{"/index.htm", 0}, {"/a.htm", 4}, {"/b.htm", 8}}},
        {"crawl-delay capped",
         "User-agent: *\nCrawl-delay: 1e9\n",
         0,
         {},
         {{"/index.htm", 0}, {"/a.htm", 30}, {"/b.htm", 60}}},
        {"wait", "", 2, {}, {{"/index.htm", 0}, {"/a.htm", 2}, {"/b.htm", 4}}},
        {"429 with seconds",
         "",
         0,
         {retryAfter(tooMany, "7")},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}, {"/b.htm", 7}}},
        {"503 without, doubling",
         "",
         0,
         {busy, busy},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}, {"/b.htm", 5}, {"/b.htm", 15}}},
        {"negative",
         "",
         0,
         {retryAfter(busy, "-5")},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}, {"/b.htm", 5}}},
        {"past date",
         "",
         0,
         {retryAfter(tooMany, "Sat, 05 Nov 1994 08:49:37 GMT")},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}, {"/b.htm", 0}}},
        {"longer than the time limit: a failed page",
         "",
         0,
         {retryAfter(tooMany, "99999999")},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}}},
        {"as long as the tries last",
         "",
         0,
         {busy, busy, busy},
         {{"/index.htm", 0}, {"/a.htm", 0}, {"/b.htm", 0}, {"/b.htm", 5}, {"/b.htm", 15}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer site;
        std::atomic<double> now{0};
        site.setClock([&now] { return now.load(); });
        if (!row.robots.empty())
            site.serve("/robots.txt", Reply::html(row.robots));
        site.serve("/index.htm", Reply::html("<a href='a.htm'>a</a><a href='b.htm'>b</a>"));
        site.serve("/a.htm", Reply::html("a"));
        std::vector<Reply> b = row.b;
        b.push_back(Reply::html("b"));
        site.serveSequence("/b.htm", b.front(), {b.begin() + 1, b.end()});

        auto policy = std::make_shared<THostPolicy>([&now] { return now.load(); });
        policy->Wait = row.wait;
        crawler.Policy = policy;
        std::vector<String> logged;
        crawler.OnLog = [&logged](TObject*, const String& text) { logged.push_back(text); };
        errors.clear();
        ASSERT_TRUE(crawler.Start(site.url("/index.htm")));
        // Time moves only while nothing is in flight and the queue waits on it.
        ASSERT_TRUE(PumpUntil(
            [&] {
                if (!crawler.Working())
                    return true;
                const auto& fetchers = crawler.Fetchers();
                const bool idle =
                    std::all_of(fetchers.begin(), fetchers.end(),
                                [](const TKsHttpGet* f) { return f->State() == GETHTTP_WAITING; });
                if (idle && crawler.Queue().Count() > 0 && policy->NextReady()) {
                    now = *policy->NextReady();
                    crawler.TimerTick();
                }
                return false;
            },
            std::chrono::seconds(30)));

        Times seen;
        for (const auto& request : site.requests())
            seen.emplace_back(request.target, request.time);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), (std::pair<std::string, double>{"/robots.txt", 0}));
        seen.erase(seen.begin());
        std::stable_sort(seen.begin(), seen.end(),
                         [](const auto& x, const auto& y) { return x.second < y.second; });
        Times expected = row.requests;
        // Requests at one time may come in either order.
        const auto byTimeAndTarget = [](const auto& x, const auto& y) {
            return x.second != y.second ? x.second < y.second : x.first < y.first;
        };
        std::sort(seen.begin(), seen.end(), byTimeAndTarget);
        std::sort(expected.begin(), expected.end(), byTimeAndTarget);
        EXPECT_EQ(seen, expected);
        const bool bFailed = std::any_of(errors.begin(), errors.end(), [&](const auto& e) {
            return e.url == site.url("/b.htm");
        });
        EXPECT_EQ(bFailed, row.b.size() >= 3 || std::string(row.name).rfind("longer", 0) == 0);
        EXPECT_EQ(logged.size(), std::string(row.name) == "crawl-delay capped" ? 1U : 0U);
    }
}

TEST_F(Crawl, EveryHostsRobotsTxtComesBeforeItsFirstPage)
{
    LoopbackServer other;
    LoopbackServer down;
    const std::string gone = nqtest::RefusedAddress();
    server.serve("/robots.txt", Reply::html("User-agent: *\nDisallow: /private\n"));
    server.serve("/index.htm",
                 Reply::html("<a href='private.htm'>p</a><a href='" + other.url("/o.htm") +
                             "'>o</a><a href='" + other.url("/secret.htm") + "'>s</a><a href='" +
                             down.url("/d.htm") + "'>d</a><a href='" + gone + "x.htm'>x</a>"));
    other.serve("/robots.txt", Reply::html("User-agent: netquarry\nDisallow: /secret\n"));
    other.serve("/o.htm", Reply::html("o"));
    Reply broken = Reply::html("down");
    broken.status = 500;
    down.serve("/robots.txt", broken);
    auto policy = std::make_shared<THostPolicy>();
    crawler.Policy = policy;
    std::map<String, String> refused;
    crawler.OnRefused = [&refused](TObject*, const String& url, const String& rule) {
        refused[url] = rule;
    };
    crawl("/index.htm");

    const auto targets = [](const LoopbackServer& s) {
        std::vector<std::string> seen;
        for (const auto& r : s.requests())
            seen.push_back(r.target);
        return seen;
    };
    EXPECT_EQ(targets(server), (std::vector<std::string>{"/robots.txt", "/index.htm"}));
    EXPECT_EQ(targets(other), (std::vector<std::string>{"/robots.txt", "/o.htm"}));
    EXPECT_EQ(targets(down), std::vector<std::string>{"/robots.txt"});
    EXPECT_EQ(refused, (std::map<String, String>{{server.url("/private.htm"), "robots"},
                                                 {other.url("/secret.htm"), "robots"},
                                                 {down.url("/d.htm"), "robots-unavailable"},
                                                 {gone + "x.htm", "robots-unavailable"}}));
    EXPECT_TRUE(errors.empty()) << "a refused page is no failed transfer";
}
