#include "eventpump.h"
#include "linkscan.h"
#include "pagescan.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include <ostream>
#include <tuple>
#include <vector>

namespace {

const String H(1, kMarkHref);
const String S(1, kMarkSrc);
const String L(1, kMarkLocation);
const String O(1, kMarkAnchorOpen);
const String C(1, kMarkAnchorClose);

struct Hit
{
    String value;
    Integer area;
    char kind;
    bool operator==(const Hit&) const = default;
};

void PrintTo(const Hit& hit, std::ostream* os)
{
    *os << "{\"" << hit.value << "\", " << hit.area << ", " << static_cast<int>(hit.kind) << "}";
}

std::vector<Hit> Scan(const String& text, Integer& anchorCount, ScanHooks hooks = {})
{
    std::vector<Hit> hits;
    hooks.found = [&hits](const String& value, Integer area, char kind) {
        hits.push_back({value, area, kind});
    };
    ScanLinks(text, anchorCount, hooks);
    return hits;
}

struct TextCase
{
    String input;
    String expected;
};

TEST(PreparePageTest, RemovesBlanksAroundEqualsAndControlCharacters)
{
    const std::vector<TextCase> cases = {
        {"a = b", "a=b"},
        {"href  =   \"x\"", "href=\"x\""},
        {"href\n=\r\n\t'x'", "href='x'"},
        {"a\n = b", "a=b"},
        // A dropped line break must not count as the last character kept.
        {"x= \n y", "x=y"},
        {"= =", "=="},
        {"a   b", "a   b"},
        {"a \t b", "a  b"},
        {"one\r\ntwo", "onetwo"},
        {"\x01x\x1fy", "xy"},
        // Bytes above 127 are text, not control characters.
        {"caf\xe9", "caf\xe9"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PreparePage(c.input), c.expected) << "input: " << c.input;
    }
}

TEST(MarkTagsTest, ReplacesEachPatternIgnoringCase)
{
    const std::vector<TextCase> cases = {
        {"href=", H},
        {"HrEf='x'", H + "'x'"},
        {"src=", S},
        {"SrC=\"i\"", S + "\"i\""},
        {"<a", O},
        {"<A", O},
        {"x/a>y", "x" + C + "y"},
        {"/A>", C},
        {"w.location='p'", "w" + L + "'p'"},
        {"top.LoCaTiOn=", "top" + L},
        // The anchor opening is replaced first, so a closing tag keeps its "<".
        {"</a>", "<" + C},
        {"</A>", "<" + C},
        {"<AREA href=", O + "REA " + H},
        {"<abbr>", O + "bbr>"},
        {"<a href=\"x\">X</a>", O + " " + H + "\"x\">X<" + C},
        // Unprepared text keeps its blanks, so the pattern does not match.
        {"href =", "href ="},
        {"<b><img>", "<b><img>"},
    };
    for (const auto& c : cases) {
        String text = c.input;
        MarkTags(text);
        EXPECT_EQ(text, c.expected) << "input: " << c.input;
    }
}

TEST(PrepareAndMarkTest, GivesWhatPreparingThenMarkingGives)
{
    std::vector<String> inputs = {
        "<a href = \"x.htm\">X</a><img src='i.gif'>",
        "HrEf \n = 'x'",
        "<\nA href='y'",
        "/\x01a>",
        "w.LOCATION  =  'p'",
        "</A><A/a><<a//a>",
        "hhref=ssrc=..location=",
        "hre\tf='z' s\rrc = \"q\"",
        "src= =x = href=",
        "x= \n 'a'",
        "<abbr>a>A>",
        "caf\xe9<a href='\xe9'>",
        "",
    };
    // Long text goes through in blocks: every byte that matters, at every
    // place of a block and across its edges.
    for (const char special : {'\n', '\x01', '=', '<', '>', ' ', 'a', '\xe9', '\x7f'}) {
        for (std::size_t at = 0; at < 40; ++at) {
            String text(40, 'x');
            text[at] = special;
            inputs.push_back(text + "<a href = 'p.htm'>A</a>" + text + " src=\n'i.gif'");
        }
    }
    // A buffer kept from page to page, a long page first: what an earlier
    // page left in it is never part of a later one's text.
    String kept(2000, 'h');
    for (const String& input : inputs) {
        String twoPasses = PreparePage(input);
        MarkTags(twoPasses);
        EXPECT_EQ(PrepareAndMark(input), twoPasses) << "input: " << input;
        EXPECT_EQ(PrepareAndMark(input, kept), twoPasses) << "input: " << input;
    }
}

TEST(ScanLinksTest, CollectsQuotedValues)
{
    struct Case
    {
        String input;
        std::vector<Hit> expected;
    };
    const std::vector<Case> cases = {
        {H + "\"a.htm\"", {{"a.htm", 0, kMarkHref}}},
        {S + "'i.gif'", {{"i.gif", 0, kMarkSrc}}},
        {L + "'p.htm'", {{"p.htm", 0, kMarkLocation}}},
        {H + "\"\"", {{"", 0, kMarkHref}}},
        {H + "a.htm>", {}},
        {H + " \"a.htm\"", {}},
        {H + "'a' " + S + "\"b\"", {{"a", 0, kMarkHref}, {"b", 0, kMarkSrc}}},
        // Quotes before any attribute are plain text.
        {"say \"hi\" " + H + "'x'", {{"x", 0, kMarkHref}}},
        // A new attribute abandons an unfinished one.
        {H + "\"a" + S + "\"b\"", {{"b", 0, kMarkSrc}}},
        // An apostrophe inside a double-quoted value swaps quotes twice: no value completes.
        {H + "\"it's\">" + H + "'b'", {{"b", 0, kMarkHref}}},
        {H + "\"javascript:open('w.htm')\"", {{"w.htm", 0, kMarkHref}}},
        {H + "\"top.window.x.htm\"", {}},
        {H + "'ToP.WiNdOw.location=1'", {}},
        {H + "'a.b/top.windoW'", {}},
        {H + "\"go(x.htm)\"", {{"x.htm", 0, kMarkHref}}},
        {H + "\"go(x.htm\"", {{"x.htm", 0, kMarkHref}}},
        {H + "\"(x.htm)\"", {{"(x.htm)", 0, kMarkHref}}},
        {H + "\"f(a)b)\"", {{"a", 0, kMarkHref}}},
        {H + "\"f(g(x))\"", {{"g(x", 0, kMarkHref}}},
        {H + "\"f()\"", {}},
        {H + "\"javascript:history.back()\"", {{"javascript:history.back()", 0, kMarkHref}}},
        {H + "\"javascript:void(0)\"", {{"javascript:void(0)", 0, kMarkHref}}},
        {H + "\"a)b\"", {{"a)b", 0, kMarkHref}}},
        // A call's name is an identifier; addresses with parentheses stay whole.
        {H + "\"window.open(x.htm)\"", {{"x.htm", 0, kMarkHref}}},
        {H + "\"Git_(software)\"", {{"Git_(software)", 0, kMarkHref}}},
        {H + "\"crypt(3).html\"", {{"crypt(3).html", 0, kMarkHref}}},
        {H + "\"index.php(2)\"", {{"index.php(2)", 0, kMarkHref}}},
        {H + "\"../wiki/Foo_(bar)\"", {{"../wiki/Foo_(bar)", 0, kMarkHref}}},
        {H + "\"https://h/w/Foo_(bar)\"", {{"https://h/w/Foo_(bar)", 0, kMarkHref}}},
        {H + "\" popup( x.htm ); \"", {{"x.htm", 0, kMarkHref}}},
        {H + "\" https://h/x \"", {{"https://h/x", 0, kMarkHref}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.input));
        Integer anchors = 0;
        EXPECT_EQ(Scan(c.input, anchors), c.expected);
        EXPECT_EQ(anchors, 0);
    }
}

TEST(ScanLinksTest, NumbersLinksInsideAnchorsFromRunningCount)
{
    const String text = S + "'a'" + O + " " + H + "'b'>" + S + "'c'<" + C + S + "'d'" + O + "REA " +
                        H + "'e'" + O + " " + H + "'f'";
    // The count is the crawler's and carries over from earlier pages.
    Integer anchors = 5;
    const std::vector<Hit> expected = {
        {"a", 0, kMarkSrc}, {"b", 6, kMarkHref}, {"c", 6, kMarkSrc},
        {"d", 0, kMarkSrc}, {"e", 7, kMarkHref}, {"f", 8, kMarkHref},
    };
    EXPECT_EQ(Scan(text, anchors), expected);
    EXPECT_EQ(anchors, 8);
}

TEST(ScanLinksTest, AbortStopsTheScan)
{
    Integer anchors = 0;
    ScanHooks always;
    always.aborted = [] { return true; };
    EXPECT_TRUE(Scan(O + H + "'a'", anchors, always).empty());
    EXPECT_EQ(anchors, 0);

    std::vector<Hit> hits;
    ScanHooks afterFirst;
    afterFirst.aborted = [&hits] { return !hits.empty(); };
    afterFirst.found = [&hits](const String& value, Integer area, char kind) {
        hits.push_back({value, area, kind});
    };
    ScanLinks(H + "'a'" + H + "'b'", anchors, afterFirst);
    EXPECT_EQ(hits, (std::vector<Hit>{{"a", 0, kMarkHref}}));
}

TEST(ScanLinksTest, FalseFromYieldStopsTheScan)
{
    // Long enough that any reasonable yield interval is reached before the link.
    const String text = String(100000, ' ') + H + "'late.htm'";
    for (const bool keepGoing : {true, false}) {
        SCOPED_TRACE(keepGoing ? "yield true" : "yield false");
        int calls = 0;
        ScanHooks hooks;
        hooks.yield = [&calls, keepGoing] {
            ++calls;
            return keepGoing;
        };
        Integer anchors = 0;
        const auto hits = Scan(text, anchors, hooks);
        EXPECT_GT(calls, 0);
        EXPECT_EQ(hits.size(), keepGoing ? 1U : 0U);
    }
}

TEST(LinkExtractionTest, WorkedCaseFromBodyToTypedAddresses)
{
    String text = PreparePage("<a href = \"x.htm\">X</a><img src='i.gif'>");
    MarkTags(text);
    EXPECT_EQ(text, O + " " + H + "\"x.htm\">X<" + C + "<img " + S + "'i.gif'>");

    Integer anchors = 41;
    const auto hits = Scan(text, anchors);
    EXPECT_EQ(anchors, 42);
    ASSERT_EQ(hits, (std::vector<Hit>{{"x.htm", 42, kMarkHref}, {"i.gif", 0, kMarkSrc}}));

    TCrackUrl page;
    ASSERT_TRUE(page.Crack("http://h/d/p.htm"));
    const String page1 = ResolveLink(page, hits[0].value);
    const String image = ResolveLink(page, hits[1].value);
    EXPECT_EQ(page1, "http://h/d/x.htm");
    EXPECT_EQ(image, "http://h/d/i.gif");
    EXPECT_EQ(LinkType(page1), "htm");
    EXPECT_EQ(LinkType(image), "gif");
}

TEST(ScanPageLinksTest, DecomposesEveryLinkAsTheAddressParserDoes)
{
    // Links of the page's own host take a short way past the parser; each
    // must come out as the parser would have given it.
    const String body =
        "<a href='x.htm'>1</a><a href='/abs/y.htm?q=1&r=2'>2</a><a href=\"z.htm?a+b\">3</a>"
        "<a href='%7Euser/p.htm'>4</a><a href='./a/../b.htm'>5</a><a href='sub/'>6</a>"
        "<a href='http://h/d/q.htm'>7</a><a href='http://other:81/r.htm'>8</a>"
        "<a href='HTTP://H/d/upper.htm'>9</a><img src='img.gif'><a href='d/e.php?x=1'>10</a>"
        "<a href='more/file'>11</a><a href='?only'>12</a><a href='//h/twice.htm'>13</a>"
        "<a href='q.htm?'>14</a><a href='a/..'>15</a>"
        // Other hosts and ports that start like the page's own.
        "<a href='http://hx/d.htm'>16</a><a href='http://h:81/e.htm'>17</a>";
    for (const String& base : {String("http://h/d/p.htm"), String("http://Host.Example:8080/a/b/"),
                               String("https://h/x.htm"), String("http://h:80/")}) {
        TCrackUrl page;
        ASSERT_TRUE(page.Crack(base));
        std::vector<TFoundLink> expected;
        Integer anchors = 0;
        TCrackUrl parts;
        ScanHooks hooks;
        hooks.found = [&](const String& value, Integer area, char kind) {
            const String address = ResolveLink(page, value);
            const String type = address.empty() ? String() : LinkType(address);
            if (!address.empty() && type != "unknown" && parts.Crack(address))
                expected.push_back({address, type, parts.Scheme, parts.HostName, parts.Port,
                                    parts.Directory(), parts.UrlPath, parts.ExtraInfo, area, kind});
        };
        ScanLinks(PrepareAndMark(body), anchors, hooks);
        ASSERT_GE(expected.size(), 15U) << base;

        const TScannedPage scanned = ScanPageLinks(body, base);
        EXPECT_EQ(scanned.Anchors, anchors);
        ASSERT_EQ(scanned.Links.size(), expected.size()) << base;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const TFoundLink& got = scanned.Links[i];
            const TFoundLink& want = expected[i];
            const auto fields = [](const TFoundLink& l) {
                return std::make_tuple(l.Address, l.Type, l.Scheme, l.HostName, l.Port, l.Directory,
                                       l.UrlPath, l.ExtraInfo, l.Anchor, l.Kind);
            };
            EXPECT_EQ(fields(got), fields(want)) << base << " link " << want.Address;
        }

        // Beyond a cap, links are counted, not taken; those taken come first.
        const TScannedPage capped = ScanPageLinks(body, base, nullptr, 5);
        ASSERT_EQ(capped.Links.size(), 5U) << base;
        EXPECT_EQ(capped.OverCap, static_cast<Integer>(expected.size()) - 5) << base;
        EXPECT_EQ(capped.Links.back().Address, expected[4].Address) << base;
        EXPECT_EQ(scanned.OverCap, 0) << base;
    }
}

TEST(PageScannerTest, HandsJobsBackInTheOrderPosted)
{
    // A long page first, short ones after: on a second thread the short
    // ones finish first, and still come back behind it.
    QTimer receiver; // its slot "stop" is the harmless announcement
    const auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::shared_ptr<TPageJob>> taken;
    {
        TPageScanner scanner(&receiver, "stop");
        for (int i = 0; i < 8; ++i) {
            auto job = std::make_shared<TPageJob>();
            job->Url = std::to_string(i);
            job->Base = "http://h/d/p.htm";
            for (int n = i == 0 ? 20000 : 1; n > 0; --n)
                job->Body += "<a href='x" + std::to_string(n) + ".htm'>x</a>";
            scanner.Post(std::move(job), cancelled, nullptr);
        }
        ASSERT_TRUE(nqtest::PumpUntil([&] {
            for (auto& job : scanner.TakeDone())
                taken.push_back(std::move(job));
            return taken.size() == 8;
        }));
    }
    for (std::size_t i = 0; i < taken.size(); ++i)
        EXPECT_EQ(taken[i]->Url, std::to_string(i));
    EXPECT_EQ(taken[0]->Scan.Links.size(), 20000U);
}

TEST(ResolveLinkTest, CombinesWithPageDirectory)
{
    struct Case
    {
        String page;
        String value;
        String expected;
    };
    const std::vector<Case> cases = {
        {"http://h/d/p.htm", "x.htm", "http://h/d/x.htm"},
        {"http://h/d/p.htm", "sub/y.htm?q=1", "http://h/d/sub/y.htm?q=1"},
        {"http://h/d/p.htm", "../x.htm", "http://h/x.htm"},
        {"http://h/d/p.htm", "/x.htm", "http://h/x.htm"},
        {"http://h/d/p.htm", "//other/x", "http://other/x"},
        // The page itself, which is no new link.
        {"http://h/d/p.htm", "", ""},
        {"http://h/d/p.htm", "#top", ""},
        {"http://h/d/p.htm", " #", ""},
        {"http://h/d/p.htm", " https://o/x.htm ", "https://o/x.htm"},
        {"http://h/d/p.htm", "\t x.htm\n", "http://h/d/x.htm"},
        {"http://h/d/p.htm", "x.htm#sec", "http://h/d/x.htm"},
        {"http://h/d/p.htm", "x.htm?", "http://h/d/x.htm"},
        {"http://h/d/p.htm", "sub/./y.htm", "http://h/d/sub/y.htm"},
        {"http://h/d/e/p.htm", "../../../x.htm#f", "http://h/x.htm"},
        {"http://h/d/p.htm", "/a/./b/../c.htm", "http://h/a/c.htm"},
        {"http://h/d/p.htm", "a/b/..", "http://h/d/a/"},
        {"http://h/d/p.htm", ".", "http://h/d/"},
        // The combined address must fit 1024 bytes with its terminating NUL.
        {"http://h/d/p.htm", String(1012, 'a'), "http://h/d/" + String(1012, 'a')},
        {"http://h/d/p.htm", String(1013, 'a'), ""},
        {"http://h/d/p.htm", "a b.htm", "http://h/d/a%20b.htm"},
        {"http://h/d/e", "x.htm", "http://h/d/e/x.htm"},
        {"http://h", "x.htm", "http://h/x.htm"},
        {"http://h/d/p.htm?a=1", "x.htm", "http://h/d/x.htm"},
        {"http://user:pw@h/d/p.htm", "x.htm", "http://h/d/x.htm"},
        {"http://h:8080/d/p.htm", "x.htm", "http://h:8080/d/x.htm"},
        {"http://h:80/d/p.htm", "x.htm", "http://h/d/x.htm"},
        {"http://h:443/d/p.htm", "x.htm", "http://h:443/d/x.htm"},
        {"https://h/d/p.htm", "x.htm", "https://h/d/x.htm"},
        {"https://h:443/d/p.htm", "x.htm", "https://h/d/x.htm"},
        {"https://h:8443/d/p.htm", "x.htm", "https://h:8443/d/x.htm"},
        {"http://h/d/p.htm", "http://o/A.htm", "http://o/A.htm"},
        {"http://h/d/p.htm", "HtTp://O/a b.htm", "HtTp://O/a b.htm"},
        {"http://h/d/p.htm", "HTTPS://o/a.htm#f", "HTTPS://o/a.htm"},
        {"http://h/d/p.htm", "mailto:me@h", ""},
        {"http://h/d/p.htm", "MailTo:me@h", ""},
        {"http://h/d/p.htm", "javascript:void(0)", ""},
        {"http://h/d/p.htm", "JavaScript:go()", ""},
        {"http://h/d/p.htm", "noJAVASCRIPT.htm", ""},
        {"http://h/d/p.htm", "jj/jAvAsCrIpT", ""},
        {"http://h/d/p.htm", "a:b/x.mailto:", ""},
        {"http://h/d/p.htm", "java/script.htm", "http://h/d/java/script.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page + " + \"" + c.value + "\"");
        TCrackUrl page;
        ASSERT_TRUE(page.Crack(c.page));
        EXPECT_EQ(ResolveLink(page, c.value), c.expected);
    }
}

TEST(LinkTypeTest, ClassifiesBySchemeAndExtension)
{
    const std::vector<TextCase> cases = {
        {"http://h/d/", "htm"},
        {"http://h", "htm"},
        {"http://h.com/d/page", "htm"},
        {"http://h/a.b/c", "htm"},
        {"http://h/a.html", "htm"},
        {"http://h/a.HTML", "htm"},
        {"http://h/a.HTM", "htm"},
        {"http://h/a.htm", "htm"},
        {"http://h/i.gif", "gif"},
        {"HTTP://h/i.GIF", "gif"},
        {"http://h/p.jpeg", "jpeg"},
        {"http://h/a.json", "json"},
        {"http://h/a.shtml", "htm"},
        {"http://h/a.longext", "htm"},
        // Pages a server generates are pages.
        {"http://h/s.asp?id=1.5", "htm"},
        {"http://h/p.cfm&x=1.2", "htm"},
        {"http://h/index.php", "htm"},
        {"http://h/a.PHP5", "htm"},
        {"http://h/a.php3", "htm"},
        {"http://h/a.aspx", "htm"},
        {"http://h/a.Jsp", "htm"},
        {"http://h/a.jspx", "htm"},
        {"h/d/i.gif", "gif"},
        {"ftp://h/f.zip", "ftp"},
        {"FTP://h/f", "ftp"},
        {"news://h/group", "news"},
        // Only http and https are fetched: a long scheme is no page either.
        {"gopher://h/1/menu", "gopher"},
        {"TELNET://h:23/", "telnet"},
        // A secure page's images, styles and scripts are no pages.
        {"https://h/a.gif", "gif"},
        {"https://h/s/site.css?v=2", "css"},
        {"https://h/a.PHP", "htm"},
        {"HTTPS://h/a", "htm"},
        {"http://h/cgi-bin/run.", "cgi"},
        {"http://h/dbm/x.", "dbm"},
        {"http://h/a./", "htm"},
        {"http://h/x.", "unknown"},
        {"http://h/CGI/x.", "unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinkType(c.input), c.expected) << "address: " << c.input;
    }
}

TEST(GuessTypeTest, LooksForCgiDbmOrTrailingSlash)
{
    const std::vector<TextCase> cases = {
        {"h/cgi-bin/x.", "cgi"},
        {"h/x.cgi", "cgi"},
        {"h/dbm.", "dbm"},
        {"h/cgi/dbm", "cgi"},
        {"h/dbm/", "dbm"},
        {"h/dir/", "htm"},
        {"/", "htm"},
        {"h/x.", "unknown"},
        {"h/CGI/x.", "unknown"},
        {"h/DBM.", "unknown"},
        {"h/dir/x", "unknown"},
        {"", "unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GuessType(c.input), c.expected) << "address: " << c.input;
    }
}

} // namespace
