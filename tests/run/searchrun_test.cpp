#include "crawlscope.h"
#include "eventpump.h"
#include "fakerunview.h"
#include "loopbackserver.h"
#include "messagecapture.h"
#include "modernsite.h"
#include "searchrun.h"
#include "sitemap.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <zlib.h>

using nqtest::FakeRunView;
using nqtest::LoopbackServer;
using nqtest::MessageCapture;
using nqtest::PumpUntil;
using nqtest::Reply;

namespace {

std::string readFile(const QString& path)
{
    return nqtest::ReadFile(path.toStdString());
}

// The expected report pages are kept with plain line ends and a {{port}}
// placeholder; the program writes CR LF.
std::string expectedPage(const char* name, std::uint16_t port)
{
    std::string text = readFile(QStringLiteral(NQ_TEST_DATA "/") + QString::fromLatin1(name));
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 8, "{{port}}") == 0) {
            out += std::to_string(port);
            i += 7;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

const std::string kStall = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";

class Run : public ::testing::Test
{
protected:
    Run()
    {
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        // The start page links three pages of the site, an image, and a file
        // on another host; at the lowest depth only the start page is
        // crawled, and the run then downloads each page itself.
        server.serve("/index.htm",
                     Reply::html("<html><body><a href=\"a.htm\">A</a> <a href='b.htm'>B</a>"
                                 " <img src=\"logo.gif\"> <a href=\"broken.htm\">broken</a>"
                                 " <a href=\"http://other.test/file.zip\">zip</a></body></html>"));
        server.serve("/a.htm", Reply::html("aaaa quarry QUARRY"));
        server.serve("/b.htm", Reply::html("nothing to see"));
        server.serveRaw("/broken.htm", ""); // every download of it fails
        view.address = "127.0.0.1:" + std::to_string(server.port()) + "/index.htm";
        view.keywords = "quarry aa";
        view.depthIndex = 0;
        view.depthText = "Lowest";
    }
    ~Run() override
    {
        if (run.Running())
            run.Cancel();
        server.releaseStalls();
        EXPECT_TRUE(nqtest::WaitForWorkers());
        QDir::setCurrent(m_previousDir);
    }

    void scanToTheEnd()
    {
        run.Start(view.Settings());
        ASSERT_TRUE(PumpUntil([this] { return !run.Running(); }, std::chrono::seconds(30)));
    }
    std::string url(const std::string& path) const { return server.url(path); }
    bool statusSeen(const std::string& text) const
    {
        return std::find(view.statusLog.begin(), view.statusLog.end(), text) !=
               view.statusLog.end();
    }

    QTemporaryDir m_dir;
    QString m_previousDir;
    LoopbackServer server;
    MessageCapture messages;
    FakeRunView view;
    TMemo memo;
    TSearchRun run{view, memo};
};

} // namespace

TEST_F(Run, WholeRunListsPagesHitsAndStatus)
{
    run.Start(view.Settings());
    EXPECT_EQ(view.address, url("/index.htm")) << "the address gets its http:// prefix";
    EXPECT_EQ(run.SiteRoot(), url(""));
    EXPECT_EQ(view.buttons(), "0010");
    EXPECT_EQ(view.status, " Analyzing site...");
    EXPECT_TRUE(view.progressShown);
    ASSERT_TRUE(PumpUntil([this] { return !run.Running(); }));

    // The start page is the first row, searched like every other page.
    EXPECT_EQ(run.Data().PageList, (std::vector<String>{url("/index.htm"), url("/a.htm"),
                                                        url("/b.htm"), url("/broken.htm")}));
    EXPECT_EQ(run.Data().LinkList,
              (std::vector<String>{url("/logo.gif"), "http://other.test/file.zip"}));
    EXPECT_EQ(view.grid(), (std::vector<std::string>{url("/index.htm") + "=0", url("/a.htm") + "=4",
                                                     url("/b.htm") + "=0", "Invalid URL=0"}));
    EXPECT_EQ(view.currentRow, 4);
    EXPECT_TRUE(statusSeen(" Searching for: quarry aa"));
    EXPECT_TRUE(statusSeen(" 1 pages analyzed. Working..."));
    EXPECT_TRUE(statusSeen(" 3 pages analyzed. Working..."));
    // The last page failed: the status says a page was not searched.
    EXPECT_EQ(view.status, " 3 pages analyzed, 1 not searched. Ready.");
    EXPECT_EQ(view.sounds, (std::vector<Integer>{3, 2}));
    EXPECT_EQ(view.buttons(), "1101");
    EXPECT_FALSE(view.progressShown);
    EXPECT_GT(view.flips, 0);
    EXPECT_EQ(view.history, std::vector<String>{url("/index.htm")});
    EXPECT_EQ(view.entries[2].KeywordHits, (std::vector<Integer>{2, 2}));
    EXPECT_EQ(view.entries[4].State, TPageState::Failed);
    EXPECT_EQ(view.entries[4].Address(), url("/broken.htm"));
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Run, KeywordRules)
{
    const struct
    {
        const char* keywords;
        bool caseSensitive;
        const char* hitsOfA;
        std::size_t keywordCount;
    } rows[] = {
        {"quarry aa", false, "4", 2}, {"quarry aa", true, "3", 2}, // only the lower-case quarry
        {"QUARRY", true, "1", 1},                                  // the upper-case one
        {"aa  aa", false, "4", 3}, // typed twice, with an empty keyword between
        {" aaa ", false, "1", 3},  // non-overlapping: aaa once in aaaa
        {"Quarry", false, "2", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keywords);
        view.keywords = row.keywords;
        view.caseSensitive = row.caseSensitive;
        scanToTheEnd();
        EXPECT_EQ(run.Data().KeywordList.size(), row.keywordCount);
        EXPECT_EQ(view.row(2), (std::pair<String, String>{url("/a.htm"), row.hitsOfA}));
        EXPECT_EQ(view.row(3).second, "0");
    }
    EXPECT_EQ(view.history.size(), 1U) << "the same address is kept once";
}

TEST_F(Run, EmptyKeywordsEndAfterTheCrawl)
{
    view.keywords = "";
    scanToTheEnd();
    // Nothing was searched for: no page has a count.
    EXPECT_EQ(view.grid(),
              (std::vector<std::string>{url("/index.htm") + "=", url("/a.htm") + "=",
                                        url("/b.htm") + "=", url("/broken.htm") + "="}));
    EXPECT_EQ(view.status, " 4 pages found. Ready.");
    EXPECT_TRUE(statusSeen(" 2 of 4 pages analyzed. Working..."));
    EXPECT_EQ(view.sounds, (std::vector<Integer>{3, 2}));
    EXPECT_EQ(view.buttons(), "1101");
    EXPECT_EQ(server.requestCount(), 2U) << "robots.txt, the start page, no page again";
}

TEST_F(Run, CancelWhileCrawlingThenScanAgain)
{
    server.serveRaw("/slow.htm", kStall, kStall.size());
    server.serve("/start.htm", Reply::html("<a href='a.htm'>a</a><a href='slow.htm'>s</a>"));
    view.address = url("/start.htm");
    view.depthIndex = 1; // the links are followed, and the slow page holds the crawl
    run.Start(view.Settings());
    const TRuziZidu* first = run.Crawler();
    ASSERT_TRUE(PumpUntil([this] { return server.requestCount() >= 2 && view.flips >= 2; }));
    ASSERT_TRUE(run.Running());

    ASSERT_TRUE(PumpUntil([this] {
        // Received and counted: the counts come back from the scanner.
        const TRuziZidu* crawler = run.Crawler();
        return crawler != nullptr && crawler->DoneCount() >= 2 && view.figures.ToAnalyze == 0;
    }));
    run.Cancel();
    // What the crawl counted stays; only the page never received has no count.
    EXPECT_EQ(view.status, " 3 pages found, 1 not searched. Request aborted by user. Ready.");
    EXPECT_TRUE(statusSeen(" Search cancelled."));
    EXPECT_EQ(view.grid(), (std::vector<std::string>{url("/start.htm") + "=0", url("/a.htm") + "=4",
                                                     url("/slow.htm") + "="}));
    EXPECT_EQ(view.sounds, (std::vector<Integer>{3, 4, 2}));
    EXPECT_EQ(view.buttons(), "1101");
    EXPECT_FALSE(view.progressShown);

    // A fresh crawler does the next scan, at its default depth when no
    // depth entry is selected.
    view.address = url("/index.htm");
    view.depthIndex = -1;
    view.sounds.clear();
    scanToTheEnd();
    const TRuziZidu* second = run.Crawler();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->DepthSearchLevel(), 3);
    EXPECT_EQ(view.row(2), (std::pair<String, String>{url("/a.htm"), "4"}));
    EXPECT_EQ(view.sounds, (std::vector<Integer>{3, 2}));
}

TEST_F(Run, CancelWhileFetchingThenScanAgain)
{
    server.serveRaw("/slowpage.htm",
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\n\r\n", 70);
    server.serve("/start.htm", Reply::html("<a href='a.htm'>a</a><a href='slowpage.htm'>s</a>"
                                           "<a href='b.htm'>b</a>"));
    view.address = url("/start.htm");
    run.Start(view.Settings());
    // b.htm, behind the stalled page, is searched but not yet shown.
    ASSERT_TRUE(PumpUntil([this] {
        return run.State() == TSearchRun::Fetching && view.entries.size() == 2 &&
               run.Data().PageTable[3].State == TPageState::Searched;
    }));
    ASSERT_TRUE(PumpUntil([this] {
        const auto requests = server.requests();
        return std::any_of(requests.begin(), requests.end(),
                           [](const auto& r) { return r.target == "/slowpage.htm"; });
    }));

    run.Cancel();
    EXPECT_EQ(view.grid(),
              (std::vector<std::string>{url("/start.htm") + "=0", url("/a.htm") + "=4",
                                        url("/slowpage.htm") + "=", url("/b.htm") + "=0"}));
    EXPECT_EQ(view.status, " 4 pages found, 1 not searched. Request aborted by user. Ready.");

    // The cancelled download is still blocked; the next run ends without
    // waiting for it (its search phase may pass between two looks).
    view.address = url("/index.htm");
    run.Start(view.Settings());
    ASSERT_TRUE(PumpUntil([this] { return !run.Running(); }));
    server.releaseStalls();
    EXPECT_EQ(view.grid(), (std::vector<std::string>{url("/index.htm") + "=0", url("/a.htm") + "=4",
                                                     url("/b.htm") + "=0", "Invalid URL=0"}));
}

TEST_F(Run, RunsThatFindNothingEnd)
{
    // A start address the crawler refuses.
    view.address = "http://[::1/x";
    run.Start(view.Settings());
    EXPECT_FALSE(run.Running());
    ASSERT_EQ(messages.texts().size(), 1U);
    EXPECT_EQ(messages.texts()[0], "Invalid Url : http://[::1/x");
    EXPECT_EQ(view.status, " 0 pages found. Ready.");
    EXPECT_EQ(view.buttons(), "1101");

    // A one-page site is one page, searched: its word is found.
    server.serve("/empty.htm", Reply::html("no links at all, one quarry"));
    view.address = url("/empty.htm");
    scanToTheEnd();
    EXPECT_EQ(view.status, " 1 pages analyzed. Ready.");
    EXPECT_EQ(view.grid(), std::vector<std::string>{url("/empty.htm") + "=1"});

    // Links, but none to another page of the site.
    server.serve("/pics.htm", Reply::html("<img src='one.gif'>"));
    view.address = url("/pics.htm");
    scanToTheEnd();
    EXPECT_EQ(view.status, " 1 pages analyzed. Ready.");
    EXPECT_EQ(run.Data().LinkList, std::vector<String>{url("/one.gif")});
    EXPECT_EQ(view.buttons(), "1101");
}

TEST_F(Run, CancelBeforeAnyScan)
{
    run.Cancel();
    EXPECT_TRUE(view.grid().empty());
    EXPECT_EQ(view.status, " 0 pages found. Request aborted by user. Ready.");
    EXPECT_FALSE(view.enabled[FakeRunView::CancelButton]);
}

TEST_F(Run, AddressPrefixAndSiteRoot)
{
    const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
    // root empty: refused, naming the scheme, before any lookup.
    const struct
    {
        std::string typed, shown, root;
    } rows[] = {
        {hostPort + "/d/x.htm", "http://" + hostPort + "/d/x.htm", "http://" + hostPort},
        {"http://" + hostPort, "http://" + hostPort, "http://" + hostPort},
        {"HTTPS://" + hostPort + "/a", "HTTPS://" + hostPort + "/a", "HTTPS://" + hostPort},
        {"https://" + hostPort, "https://" + hostPort, "https://" + hostPort},
        // "http://" in the middle: no prefix, and the root counts from the
        // eighth character.
        {"x?u=http://" + hostPort + "/", "x?u=http://" + hostPort + "/", "x?u=http:"},
        {"htp://" + hostPort + "/", "htp://" + hostPort + "/", ""},
        {"FTP://" + hostPort + "/a", "FTP://" + hostPort + "/a", ""},
        {"file:///etc/passwd", "file:///etc/passwd", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        view.address = row.typed;
        const std::size_t shown = messages.texts().size();
        run.Start(view.Settings());
        EXPECT_EQ(view.address, row.shown);
        if (!row.root.empty()) {
            EXPECT_EQ(run.SiteRoot(), row.root);
        } else {
            const std::string scheme = row.typed.substr(0, row.typed.find(':'));
            const auto texts = messages.texts();
            ASSERT_EQ(texts.size(), shown + 1);
            EXPECT_EQ(texts.back(), "unsupported scheme \"" + scheme + "\" in " + row.typed);
            EXPECT_FALSE(run.Running());
            EXPECT_EQ(run.Outcome().kind, TRunOutcome::Refused);
        }
        if (run.Running())
            run.Cancel();
    }
}

TEST_F(Run, SoundsThatCannotPlayStopNothing)
{
    view.soundsFail = true;
    scanToTheEnd();
    EXPECT_EQ(view.status, " 3 pages analyzed, 1 not searched. Ready.");
    EXPECT_EQ(view.sounds.size(), 2U);
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Run, GrowsBeyondTheFixedTable)
{
    std::string body;
    for (int i = 0; i < 1100; ++i)
        body += "<a href='p" + std::to_string(i) + ".htm'>p</a>\n";
    server.serve("/many.htm", Reply::html(body));
    view.address = url("/many.htm");
    view.keywords = "";
    scanToTheEnd();
    EXPECT_EQ(view.status, " 1101 pages found. Ready.");
    EXPECT_EQ(view.entries.size(), 1101U);
    EXPECT_EQ(view.row(1101).first, url("/p1099.htm"));
}

TEST_F(Run, ReportOfASmallRun)
{
    scanToTheEnd();
    view.sounds.clear();
    ASSERT_TRUE(run.WriteReport().Written);
    EXPECT_EQ(view.sounds, std::vector<Integer>{3});
    EXPECT_EQ(run.Data().HitPageCount, 1);
    EXPECT_EQ(view.reportsOpened, 1);
    for (const char* name : {"results.htm", "pagelist.htm", "links.htm"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFile(QString::fromLatin1(name)), expectedPage(name, server.port()));
    }
    ASSERT_TRUE(run.WriteReport().Written);
    EXPECT_EQ(run.Data().HitPageCount, 1) << "counted afresh each time";
}

TEST_F(Run, ReportAfterCancelAndWithoutHits)
{
    view.keywords = "absent";
    scanToTheEnd();
    run.Cancel();
    ASSERT_TRUE(run.WriteReport().Written);
    const std::string results = readFile(QStringLiteral("results.htm"));
    EXPECT_NE(results.find("<P ALIGN=\"CENTER\"><FONT COLOR=\"#FFFFFF\" FACE=\"Arial\"><B>(Request "
                           "aborted by\r\nuser.)</B></FONT></P>\r\n"),
              std::string::npos);
    EXPECT_NE(results.find("<UL>\r\n</UL>\r\n"), std::string::npos) << "an empty hit list";
    // After a cancel the failed page shows its own address again.
    EXPECT_NE(readFile(QStringLiteral("pagelist.htm")).find(url("/broken.htm")), std::string::npos);
}

TEST_F(Run, ReportEscapesWhatPagesAndUsersWrote)
{
    view.keywords = "<script>alert('x')</script> & caf\xC3\xA9";
    view.address = "http://h/\"><b>";
    TRunData data;
    data.PageTable.resize(2); // the empty entry ends the used part
    data.PageTable[0].Name = "http://h/\"><script>evil()</script>";
    data.PageTable[0].Hits = 2;
    data.LinkList = {"http://h/a?x=1&y=<2>"};
    TReportWriter::CountHitPages(data);
    TReportWriter::WriteReport(data, view);
    const std::string results = readFile(QStringLiteral("results.htm"));
    EXPECT_EQ(results.find("<script>"), std::string::npos);
    EXPECT_EQ(results.find("<b>"), std::string::npos);
    EXPECT_NE(results.find("&nbsp;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; caf&#233;"),
              std::string::npos);
    EXPECT_NE(results.find("HREF=\"http://h/&quot;&gt;&lt;script&gt;evil()&lt;/script&gt;\""),
              std::string::npos);
    EXPECT_NE(readFile(QStringLiteral("links.htm")).find("http://h/a?x=1&amp;y=&lt;2&gt;"),
              std::string::npos);
    EXPECT_TRUE(std::none_of(results.begin(), results.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80;
    })) << "the files stay ASCII";
}

TEST_F(Run, AFailedReportWriteStopsTheReport)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("pagelist.htm")));
    const TReportResult report = run.WriteReport();
    EXPECT_FALSE(report.Written);
    EXPECT_EQ(report.Failure, "cannot write " + QDir::currentPath().toStdString() +
                                  "/pagelist.htm: Is a directory");
    EXPECT_TRUE(messages.texts().empty()) << "the caller tells the user";
    const std::string results = readFile(QStringLiteral("results.htm"));
    EXPECT_EQ(results.substr(results.size() - 9), "</HTML>\r\n") << "written before: complete";
    EXPECT_FALSE(QFile::exists(QStringLiteral("links.htm")));
    EXPECT_EQ(view.reportsOpened, 0);
}

// The run ends inside the crawler's last report, while the crawler still
// counts as working: a scan started right then must not reuse it.
TEST_F(Run, AScanStartedAsTheLastRunEndsGetsAFreshCrawler)
{
    view.keywords = "";
    view.onFinished = [this] { run.Start(view.Settings()); };
    run.Start(view.Settings());
    ASSERT_TRUE(PumpUntil([this] { return view.outcomes.size() == 2 && !run.Running(); }));
    EXPECT_EQ(view.outcomes[1].kind, TRunOutcome::Completed);
    EXPECT_EQ(view.status, " 4 pages found. Ready.");
    EXPECT_EQ(view.grid().size(), 4U);
}

TEST_F(Run, SiteServedAsTodaysServersServeIt)
{
    LoopbackServer site;
    nqtest::ServeModernSite(site);
    view.address = nqtest::ModernSiteStart(site);
    view.keywords = "quarry";
    view.depthIndex = 2;
    scanToTheEnd();
    std::vector<std::string> expected;
    for (const auto& [page, hits] : nqtest::ModernSitePages(site))
        expected.push_back(page + "=" + std::to_string(hits));
    EXPECT_EQ(view.grid(), expected);
    EXPECT_EQ(view.status, " 7 pages analyzed. Ready.");
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(Run, AStartThatFailsSaysWhy)
{
    Reply gone = Reply::html("no such page <a href='a.htm'>a</a>");
    gone.status = 404;
    gone.reason = "Not Found";
    server.serve("/gone.htm", gone);
    server.serveRaw("/hangup.htm", "");
    server.serveRaw("/garbled.htm", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                    "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc");
    const std::string refused = nqtest::RefusedAddress();
    const struct
    {
        std::string address, status;
    } rows[] = {
        {url("/gone.htm"), " " + url("/gone.htm") + " answered 404. Ready."},
        {refused, " Cannot reach " + refused + ": Connection refused. Ready."},
        {url("/hangup.htm"),
         " Cannot reach " + url("/hangup.htm") + ": Connection closed by the server. Ready."},
        {url("/garbled.htm"),
         " Cannot reach " + url("/garbled.htm") + ": Invalid reply from the server. Ready."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        view.address = row.address;
        view.sounds.clear();
        scanToTheEnd();
        EXPECT_EQ(view.status, row.status);
        EXPECT_EQ(view.sounds, (std::vector<Integer>{3, 4}));
        EXPECT_EQ(view.buttons(), "1101");
    }
}

TEST_F(Run, PagesTheCrawlGaveUpOnAfterATimeoutAreNotFetchedAgain)
{
    // One page falls silent after its headers; the other sends them a byte
    // at a time, never silent for a second, yet they would take minutes.
    server.serve("/slow.htm", Reply::html("<a href='stall.htm'>s</a> <a href='drip.htm'>d</a>"
                                          " <a href='a.htm'>a</a>"));
    server.serveRaw("/stall.htm", kStall, kStall.size());
    Reply drip = Reply::html("dripped quarry");
    drip.headers.emplace_back("X-Pad", std::string(400, 'p'));
    drip.dripInterval = std::chrono::milliseconds(300);
    server.serve("/drip.htm", drip);
    view.address = url("/slow.htm");
    SearchSettings settings = view.Settings();
    settings.depthIndex = 1;
    settings.readTimeoutSeconds = 1;
    run.Start(settings);
    ASSERT_TRUE(PumpUntil([this] { return !run.Running(); }, std::chrono::seconds(60)));

    const auto fetches = [this](const std::string& path) {
        const auto requests = server.requests();
        return std::count_if(requests.begin(), requests.end(),
                             [&](const nqtest::Request& r) { return r.target == path; });
    };
    for (const char* path : {"/stall.htm", "/drip.htm"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(fetches(path), 3) << "the crawl's three tries, and no fetch in the search";
        const auto row = std::find_if(view.entries.begin(), view.entries.end(), [&](const auto& e) {
            return e.second.Address() == url(path);
        });
        ASSERT_NE(row, view.entries.end());
        EXPECT_EQ(row->second.State, TPageState::Failed);
        EXPECT_EQ(row->second.Failure().kind, TransferError::Kind::Timeout);
    }
    EXPECT_EQ(fetches("/a.htm"), 1);
    EXPECT_EQ(view.status, " 2 pages analyzed, 2 not searched. Ready.");
}

TEST_F(Run, LinksBeyondThePerPageCapAreCountedNotTaken)
{
    // The start page has five links: a.htm and b.htm come first.
    SearchSettings settings = view.Settings();
    settings.maxPageLinks = 2;
    run.Start(settings);
    ASSERT_TRUE(PumpUntil([this] { return !run.Running(); }, std::chrono::seconds(30)));
    EXPECT_EQ(run.Data().PageList,
              (std::vector<String>{url("/index.htm"), url("/a.htm"), url("/b.htm")}));
    EXPECT_TRUE(run.Data().LinkList.empty());
    EXPECT_EQ(run.Account().LinksOverCap, 3);
    EXPECT_EQ(view.grid(), (std::vector<std::string>{url("/index.htm") + "=0", url("/a.htm") + "=4",
                                                     url("/b.htm") + "=0"}));
}

TEST(RunAccount, SummaryLineCountsEveryPageOnceByReason)
{
    const auto page = [](TPageState state, const char* why, Integer hits) {
        TPageEntry entry;
        entry.Name = "http://h/p";
        entry.State = state;
        const String word = why;
        if (word == "timeout")
            entry.SetFailure({TransferError::Kind::Timeout, 0, ""});
        else if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])))
            entry.SetFailure({TransferError::Kind::HttpStatus, std::stoi(word), ""});
        entry.SetRule(word);
        entry.Hits = hits;
        return entry;
    };
    std::vector<TPageEntry> rows(1180, page(TPageState::Searched, "", 0));
    std::fill_n(rows.begin(), 312, page(TPageState::Searched, "", 3));
    rows.insert(rows.end(), 12, page(TPageState::Skipped, "robots", 0));
    rows.insert(rows.end(), 2, page(TPageState::Failed, "404", 0));
    rows.insert(rows.end(), 3, page(TPageState::Failed, "timeout", 0));
    rows.insert(rows.end(), 5, page(TPageState::Skipped, "excluded", 0));
    rows.push_back(TPageEntry{}); // the end of the used part
    rows.push_back(page(TPageState::Failed, "beyond the end", 0));
    EXPECT_EQ(
        TRunAccount::Of(rows, 2).SummaryLine(),
        "1,204 pages: 1,180 searched (312 with hits), 24 not searched: 12 robots, 5 excluded, "
        "3 timeout, 2 404, 2 other host");
    EXPECT_EQ(TRunAccount::Of(std::vector{page(TPageState::Searched, "", 1)}, 0).SummaryLine(),
              "1 pages: 1 searched (1 with hits)");
    TRunAccount capped = TRunAccount::Of(std::vector{page(TPageState::Searched, "", 1)}, 0);
    capped.LinksOverCap = 1234;
    EXPECT_EQ(capped.SummaryLine(),
              "1 pages: 1 searched (1 with hits); 1,234 links over the per-page cap");
}

// Pages in the order a crawl finds them, after the start page, and what the
// scope makes of each: "" fetched, or the word its row shows.
TEST(CrawlScope, EachPageFoundIsFetchedExcludedOrNotSearched)
{
    const auto with = [](auto change) {
        SearchSettings settings;
        change(settings);
        return settings;
    };
    using Found = std::vector<std::pair<String, String>>;
    const struct
    {
        const char* why;
        SearchSettings settings;
        Found found;
        std::vector<String> trapPaths;
    } cases[] = {
        {"nothing asked", {}, {{"http://s/a.htm", ""}, {"http://s/a.htm?x=1", ""}}, {}},
        {"reject on the whole address, host included",
         with([](SearchSettings& s) {
             s.rejectPatterns = {"/archive/", "^http://other"};
         }),
         {{"http://s/archive/1.htm", "excluded"},
          {"http://other/a.htm", "excluded"},
          {"http://s/a.htm", ""}},
         {}},
        {"accept any of several; reject wins over accept",
         with([](SearchSettings& s) {
             s.acceptPatterns = {"/docs/", "\\.txt$"};
             s.rejectPatterns = {"draft"};
         }),
         {{"http://s/docs/a.htm", ""},
          {"http://s/blog/a.htm", "excluded"},
          {"http://s/notes.txt", ""},
          {"http://s/docs/draft.htm", "excluded"}},
         {}},
        {"the cap counts the start page and only pages let through",
         with([](SearchSettings& s) {
             s.maxPages = 3;
             s.rejectPatterns = {"x"};
         }),
         {{"http://s/a.htm", ""},
          {"http://s/x.htm", "excluded"},
          {"http://s/b.htm", ""},
          {"http://s/c.htm", "not searched"}},
         {}},
        {"distinct query strings per path; a fragment makes none",
         with([](SearchSettings& s) { s.maxQueriesPerPath = 2; }),
         {{"http://s/cal?d=1", ""},
          {"http://s/cal?d=2#top", ""},
          {"http://s/cal?d=1#x", ""},
          {"http://s/cal?d=3", "excluded"},
          {"http://s/cal?d=4", "excluded"},
          {"http://s/other?d=3", ""},
          {"http://s/cal", ""}},
         {"http://s/cal"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TCrawlScope scope(c.settings);
        EXPECT_EQ(scope.Error(), "");
        scope.AdmitStart();
        for (const auto& [address, expected] : c.found)
            EXPECT_EQ(scope.Admit(address), expected) << address;
        EXPECT_EQ(scope.TrapPaths(), c.trapPaths);
    }

    // A pattern that does not compile is named with Qt's reason.
    const TCrawlScope bad(with([](SearchSettings& s) { s.rejectPatterns = {"ok", "(a"}; }));
    EXPECT_EQ(bad.Error().rfind("invalid --reject-regex '(a': missing closing parenthesis", 0), 0u)
        << bad.Error();
}

TEST(Sitemap, ListsPagesAndNestedSitemapsWithinItsBounds)
{
    const std::string urlset =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
        "<url><loc> http://s/a.htm </loc><lastmod>2024-01-01</lastmod></url>"
        "<url><loc>http://s/b?x=1&amp;y=2</loc></url><loc>http://s/stray</loc></urlset>";
    std::string many = "<urlset>";
    for (std::size_t i = 0; i <= kMaxSitemapEntries; ++i)
        many += "<url><loc>http://s/" + std::to_string(i) + "</loc></url>";
    const struct
    {
        const char* why;
        std::string body;
        std::size_t pages;
        std::vector<String> first; // the first pages, then the sitemaps
    } cases[] = {
        {"a urlset", urlset, 2, {"http://s/a.htm", "http://s/b?x=1&y=2"}},
        {"the same, gzip", nqtest::Gzip(urlset), 2, {"http://s/a.htm", "http://s/b?x=1&y=2"}},
        {"an index",
         "<sitemapindex><sitemap><loc>http://s/m1.xml.gz</loc></sitemap>"
         "<sitemap><loc>http://s/m2.xml</loc></sitemap></sitemapindex>",
         0,
         {"http://s/m1.xml.gz", "http://s/m2.xml"}},
        {"cut XML keeps what came before",
         "<urlset><url><loc>http://s/1</loc></url><url><loc>http://s/2</lo",
         1,
         {"http://s/1"}},
        {"rubbish", "\x1f\x8b not gzip <<<", 0, {}},
        {"entries beyond the bound", many, kMaxSitemapEntries, {"http://s/0", "http://s/1"}},
        {"XML beyond the bound once unzipped",
         nqtest::Gzip("<urlset>" + std::string(kMaxSitemapBytes, ' ') +
                      "<url><loc>http://s/late</loc></url></urlset>"),
         0,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const TSitemap map = ParseSitemap(c.body);
        EXPECT_EQ(map.Pages.size(), c.pages);
        std::vector<String> listed(map.Pages.begin(),
                                   map.Pages.begin() +
                                       std::min<std::ptrdiff_t>(2, std::ssize(map.Pages)));
        listed.insert(listed.end(), map.Sitemaps.begin(), map.Sitemaps.end());
        EXPECT_EQ(listed, c.first);
    }
}
