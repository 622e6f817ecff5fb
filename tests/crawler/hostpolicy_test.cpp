#include "hostpolicy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using Verdict = THostPolicy::Verdict;

const String kPage = "http://example.org/page.htm";

struct TestClock
{
    double now = 100;
    THostPolicy::TClock clock()
    {
        return [this] { return now; };
    }
};

} // namespace

TEST(HostPolicy, RetryAfterGivesSecondsFromNow)
{
    const std::time_t now = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        const char* value;
        std::optional<double> seconds;
    } rows[] = {
        {"7", 7.0},
        {" 120 ", 120.0},
        {"0", 0.0},
        {"99999999", 99999999.0},
        {"99999999999999999999999", inf},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"soon", std::nullopt},
        {"", std::nullopt},
        {"Sun, 06 Nov 1994 08:50:37 GMT", 60.0},
        {"Sunday, 06-Nov-94 08:50:37 GMT", 60.0},
        {"Sun Nov  6 08:50:37 1994", 60.0},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0.0}, // past: at once
        {"Sun, 99 Nox 1994 GMT", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(THostPolicy::RetryAfterSeconds(row.value, now), row.seconds);
    }
    EXPECT_EQ(THostPolicy::RetryAfterOf("HTTP/1.1 429 Too Many\r\nretry-after:  30 \r\n\r\n"),
              "30");
    EXPECT_EQ(THostPolicy::RetryAfterOf("HTTP/1.1 503 Busy\r\n\r\n"), "");
}

TEST(HostPolicy, HostKeysNameSchemeHostAndPort)
{
    EXPECT_EQ(THostPolicy::HostKey("http://Example.ORG/a?b"), "http://example.org:80");
    EXPECT_EQ(THostPolicy::HostKey("https://u:p@h:8443/x"), "https://h:8443");
    EXPECT_EQ(THostPolicy::HostKey("https://h"), "https://h:443");
    EXPECT_EQ(THostPolicy::HostKey("HTTPS://U@H"), "https://h:443");
    EXPECT_EQ(THostPolicy::HostKey("http://h:/"), "http://h:80");
    EXPECT_EQ(THostPolicy::HostKey("http://[::1]/"), "http://[::1]:80");
}

TEST(HostPolicy, RobotsTextsAndWaitGiveTheGapBetweenStarts)
{
    const struct
    {
        const char* name;
        Integer status;
        std::string robots;
        double wait;
        bool random;
        double gap;
        const char* warning;
    } rows[] = {
        {"crawl-delay", 200, "User-agent: *\nCrawl-delay: 4\n", 0, false, 4, nullptr},
        {"capped", 200, "User-agent: *\nCrawl-delay: 1e9\n", 0, false, 30,
         "robots.txt of example.org asks 1000000000 s between requests; waiting 30 s"},
        {"negative", 200, "User-agent: *\nCrawl-delay: -1\n", 0, false, 0, nullptr},
        {"BOM, CRLF", 200, "\xEF\xBB\xBFUser-agent: *\r\nCrawl-delay: 3\r\n", 0, false, 3, nullptr},
        {"CR", 200, "User-agent: *\rCrawl-delay: 2.5\r", 0, false, 2.5, nullptr},
        {"other bot", 200, "User-agent: other\nCrawl-delay: 9\n", 0, false, 0, nullptr},
        {"404: no rules", 404, "User-agent: *\nCrawl-delay: 9\n", 0, false, 0, nullptr},
        {"wait", 404, "", 2, false, 2, nullptr},
        {"random wait", 404, "", 2, true, 1.5, nullptr}, // the test's draw: 0.25
        {"longer wait wins", 200, "User-agent: *\nCrawl-delay: 4\n", 6, false, 6, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestClock time;
        THostPolicy policy(time.clock(), [] { return 0.25; });
        policy.Wait = row.wait;
        policy.RandomWait = row.random;
        ASSERT_EQ(policy.Check(kPage), Verdict::FetchRobots);
        policy.RobotsFetching(kPage);
        EXPECT_EQ(policy.Check(kPage), Verdict::Later);
        policy.RobotsRead(kPage, row.status, row.robots);
        ASSERT_EQ(policy.Check(kPage), Verdict::Go);
        policy.Started(kPage);
        const std::vector<String> warnings = policy.TakeWarnings();
        EXPECT_EQ(warnings, row.warning ? std::vector<String>{row.warning} : std::vector<String>{});
        if (row.gap == 0) {
            // No pace: other requests go at once, side by side.
            EXPECT_EQ(policy.Check(kPage), Verdict::Go);
            EXPECT_FALSE(policy.NextReady());
            continue;
        }
        policy.Finished(kPage);
        EXPECT_EQ(policy.Check(kPage), Verdict::Later);
        EXPECT_EQ(policy.NextReady(), time.now + row.gap);
        time.now += row.gap;
        EXPECT_EQ(policy.Check(kPage), Verdict::Go);
    }
    // The pace a robots.txt asks for is what the progress line names.
    THostPolicy policy;
    policy.RobotsRead(kPage, 200, "User-agent: *\nCrawl-delay: 10\n");
    policy.RobotsRead("http://quick.example/", 200, "User-agent: *\nCrawl-delay: 0.5\n");
    EXPECT_EQ(policy.PaceNote(), "robots.txt of example.org asks 10 s between requests");
}

TEST(HostPolicy, BackOffWaitsDoublesAndKeepsOneRequestAtATime)
{
    TestClock time;
    THostPolicy policy(time.clock());
    policy.ObeyRobots = false;
    policy.TimeOut = 60;
    const String other = "http://other.example/";
    EXPECT_EQ(policy.Check(kPage), Verdict::Go);
    policy.Started(kPage);
    EXPECT_EQ(policy.Check(kPage), Verdict::Go) << "no pace, no back-off: side by side";

    const struct
    {
        const char* retryAfter;
        int attempt;
        std::optional<double> wait;
        double hostWaits;
    } replies[] = {
        {"", 1, 5.0, 5},
        {"", 2, 10.0, 10},
        {"-5", 3, 20.0, 20},
        {"7", 4, 7.0, 7},
        {"", 1, 5.0, 5},                   // another page starts small again
        {"99999999", 5, std::nullopt, 80}, // fails the page; the host rests as if none were given
    };
    for (const auto& reply : replies) {
        SCOPED_TRACE(reply.retryAfter);
        policy.Finished(kPage);
        EXPECT_EQ(policy.BackOff(kPage, reply.retryAfter, reply.attempt), reply.wait);
        EXPECT_EQ(policy.Check(kPage), Verdict::Later);
        EXPECT_EQ(policy.Check(other), Verdict::Go) << "other hosts do not wait";
        EXPECT_EQ(policy.NextReady(), time.now + reply.hostWaits);
        time.now += reply.hostWaits;
        ASSERT_EQ(policy.Check(kPage), Verdict::Go);
        policy.Started(kPage);
        EXPECT_EQ(policy.Check(kPage), Verdict::Later) << "one request at a time from now on";
    }
}

TEST(HostPolicy, RobotsKeepPagesAndHostsOut)
{
    TestClock time;
    THostPolicy policy(time.clock());
    policy.AgentToken = "Netquarry";
    const String down = "http://down.example/a";
    const String gone = "http://gone.example/a";
    policy.RobotsRead(kPage, 200,
                      "User-agent: netquarry\nDisallow: /private\nSitemap: http://x/s.xml\n");
    EXPECT_EQ(policy.Sitemaps(kPage), std::vector<String>{"http://x/s.xml"});
    policy.RobotsRead(down, 503, "");
    policy.RobotsRead(gone, 0, "", {TransferError::Kind::Refused, 0, "refused"});
    EXPECT_EQ(policy.Check("http://example.org/private/x"), Verdict::Robots);
    EXPECT_EQ(policy.Check(kPage), Verdict::Go);
    EXPECT_EQ(policy.Check(down), Verdict::RobotsUnavailable);
    EXPECT_EQ(policy.Check(gone), Verdict::Unreachable);
    EXPECT_EQ(policy.Failure(gone).kind, TransferError::Kind::Refused);
    EXPECT_EQ(policy.Check("HTTP://EXAMPLE.ORG:80/private"), Verdict::Robots) << "one host";
    EXPECT_EQ(policy.Check("https://example.org/private"), Verdict::FetchRobots)
        << "another scheme is another host";
    policy.ObeyRobots = false;
    EXPECT_EQ(policy.Check("http://example.org/private/x"), Verdict::Go);
    EXPECT_EQ(policy.Check(down), Verdict::Go);
}
