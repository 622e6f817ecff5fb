#include "robots.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kToken = "Netquarry";

struct Row
{
    const char* name;
    std::string robots;
    const char* path;
    bool allowed;
};

} // namespace

TEST(Robots, TextsAndPathsGiveAllowedOrNot)
{
    const std::string rfcExample = "User-Agent: *\nDisallow: *.gif$\nDisallow: /example/\n"
                                   "Allow: /publications/\n\nUser-Agent: foobot\nDisallow:/\n"
                                   "Allow:/example/page.html\nAllow:/example/allowed.gif\n";
    const Row rows[] = {
        {"no rules", "", "/x", true},
        {"rubbish", "\x01\x02 not robots {}{}\nfoo bar\n::::\n", "/x", true},
        {"everything disallowed", "User-agent: *\nDisallow: /\n", "/x", false},
        {"empty disallow allows", "User-agent: *\nDisallow:\n", "/x", true},
        {"robots.txt itself", "User-agent: *\nDisallow: /\n", "/robots.txt", true},
        {"rfc: wildcard with end", rfcExample, "/a/b.gif", false},
        {"rfc: end anchors", rfcExample, "/a/b.gif?x", true},
        {"rfc: directory", rfcExample, "/example/page.html", false},
        {"rfc: allowed directory", rfcExample, "/publications/x", true},
        {"longest match wins", "User-agent: *\nDisallow: /a\nAllow: /a/b\n", "/a/b/c", true},
        {"longest disallow wins", "User-agent: *\nAllow: /a\nDisallow: /a/b\n", "/a/b", false},
        {"a tie goes to allow", "User-agent: *\nDisallow: /page\nAllow: /page\n", "/page", true},
        {"own group over *", "User-agent: *\nDisallow: /\n\nUser-agent: netquarry\nDisallow: /p\n",
         "/x", true},
        {"own group, its rule",
         "User-agent: *\nDisallow: /\nUser-agent: NETQUARRY/2.0\nDisallow: /p\n", "/p", false},
        {"other bot's group", "User-agent: otherbot\nDisallow: /\n", "/x", true},
        {"groups share agents", "User-agent: a\nUser-agent: netquarry\nDisallow: /shared\n",
         "/shared/x", false},
        {"own groups combine",
         "User-agent: netquarry\nDisallow: /a\n\nUser-agent: netquarry\nDisallow: /b\n", "/b",
         false},
        {"comments", "User-agent: * # all\nDisallow: /private # keep out\n", "/private", false},
        {"BOM and CRLF", "\xEF\xBB\xBFUser-agent: *\r\nDisallow: /crlf\r\n", "/crlf/1", false},
        {"CR line ends", "User-agent: *\rDisallow: /cr\r", "/cr", false},
        {"keys are case-blind", "USER-AGENT: *\nDISALLOW: /Up\n", "/Up", false},
        {"paths are not", "User-agent: *\nDisallow: /Up\n", "/up", true},
        {"escaped unreserved", "User-agent: *\nDisallow: /%7Ejoe\n", "/~joe/index.html", false},
        {"escaped in the path", "User-agent: *\nDisallow: /~joe\n", "/%7ejoe/", false},
        {"escape case", "User-agent: *\nDisallow: /a%2fb\n", "/a%2Fb", false},
        {"bytes outside ASCII", "User-agent: *\nDisallow: /caf\xC3\xA9\n", "/caf%C3%A9/menu",
         false},
        {"query", "User-agent: *\nDisallow: /*?sort=\n", "/list?page=1&sort=asc", true},
        {"query start", "User-agent: *\nDisallow: /*?sort=\n", "/list?sort=asc", false},
        {"many stars", "User-agent: *\nDisallow: /*a*a*a*a*a*a*a*b$\n",
         "/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TRobotsRules::Parse(row.robots, kToken).Allowed(row.path), row.allowed)
            << row.path;
    }
}

TEST(Robots, CrawlDelaySitemapsAndSize)
{
    const struct
    {
        std::string robots;
        std::optional<double> delay;
    } delays[] = {
        {"User-agent: *\nCrawl-delay: 10\n", 10.0},
        {"User-agent: *\nCrawl-delay: 0.5\n", 0.5},
        {"User-agent: *\nCrawl-delay: 1e9\n", 1e9}, // the caller caps it
        {"User-agent: *\nCrawl-delay: -1\n", std::nullopt},
        {"User-agent: *\nCrawl-delay: soon\n", std::nullopt},
        {"User-agent: other\nCrawl-delay: 5\n", std::nullopt},
    };
    for (const auto& row : delays) {
        SCOPED_TRACE(row.robots);
        EXPECT_EQ(TRobotsRules::Parse(row.robots, kToken).CrawlDelay(), row.delay);
    }
    EXPECT_EQ(TRobotsRules::Parse("Sitemap: http://h/a.xml\nUser-agent: x\nDisallow: /\n"
                                  "sitemap: http://h/b.xml.gz\n",
                                  kToken)
                  .Sitemaps(),
              (std::vector<String>{"http://h/a.xml", "http://h/b.xml.gz"}));
    EXPECT_EQ(RobotsProductToken("Netquarry/0.1.0 (+https://netquarry.example.org/)"), "Netquarry");

    // 10 MiB: what lies beyond the first 500 KiB is not read, and it is quick.
    std::string huge = "User-agent: *\nDisallow: /early\n";
    huge += std::string(TRobotsRules::kMaxSize, '#') + "\nDisallow: /late\n";
    huge.resize(10 * 1024 * 1024, 'x');
    const auto rules = TRobotsRules::Parse(huge, kToken);
    EXPECT_FALSE(rules.Allowed("/early"));
    EXPECT_TRUE(rules.Allowed("/late"));
}
