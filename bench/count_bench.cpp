// Keyword counting speed: one 1 MiB page, ten keywords, each way of searching.
// Prints MB/s of page per mode beside a plain std::string::find loop over
// the same bytes, the floor any counting is measured against. Times are the
// thread's CPU time, so that a machine busy with other work slows the
// figures less than the wall clock would.

#include "keywordcount.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The calling thread's CPU time.
struct Clock
{
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<Clock, duration>;
    static time_point now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return time_point(duration(std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec));
    }
};

const std::vector<String> kKeywords = {"granite", "quarry", "marble", "slate",  "limestone",
                                       "basalt",  "gneiss", "schist", "quartz", "sandstone"};

// A page as sites write them: head with styles and scripts, navigation,
// paragraphs with entities and non-ASCII text, comments, tables.
String realLookingPage(std::size_t size)
{
    const String head =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Granite &amp; Marble Quarry &ndash; Stone works</title>\n"
        "<style>.nav{display:flex}.granite{color:#333}body{font:14px/1.4 sans-serif}</style>\n"
        "<script>window.dataLayer=window.dataLayer||[];function gtag(){dataLayer.push("
        "arguments);}gtag('js',new Date());var quarry={slate:1,marble:2};</script></head>\n"
        "<body class=\"page granite-theme\"><nav class=\"nav\"><ul><li><a href=\"/\">Home</a>"
        "<li><a href=\"/stones/granite.htm\" title=\"Granite\">Granite</a><li><a "
        "href=\"/stones/marble.htm\">Marble</a></ul></nav>\n";
    const String block =
        "<div class=\"article\"><h2>The quarry at Hill&nbsp;Top</h2>\n"
        "<p>Our <b>granite</b> comes from the quarry north of town; the slate and the "
        "limestone from caf&eacute;-coloured beds further south. Basalt, gneiss and schist are "
        "cut to order &#8211; quartz-rich sandstone too. Prices in &euro; per m&sup2;.</p>\n"
        "<!-- old price list: granite 120, marble 180 -->\n"
        "<table><tr><td>Gr\xC3\xA4nit</td><td>120</td></tr><tr><td>Marmor</td><td>180</td>"
        "</tr></table>\n<img src=\"/img/quarry.jpg\" alt=\"the granite quarry\" width=\"640\">"
        "<p>Stra\xC3\x9F"
        "e 12, 80331 M\xC3\xBCnchen &middot; <a href=\"mailto:info@example.org\">"
        "write to us</a></p>\n<script>document.querySelectorAll('.granite').forEach(e=>e."
        "classList.add('shown'));</script></div>\n";
    String page = head;
    while (page.size() < size)
        page += block;
    page += "</body></html>\n";
    return page;
}

template <typename F> double megabytesPerSecond(std::size_t bytes, F&& work)
{
    // Warm up, then time enough rounds to last a good half second.
    work();
    int rounds = 0;
    const auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    while (elapsed < std::chrono::milliseconds(600)) {
        work();
        ++rounds;
        elapsed = Clock::now() - start;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    return static_cast<double>(bytes) * rounds / seconds / 1e6;
}

long long g_sink = 0; // keeps the work from being optimised away

} // namespace

int main()
{
    const String page = realLookingPage(std::size_t{1} << 20);
    std::printf("page %zu bytes, %zu keywords, letter case ignored unless said; MB/s of CPU time\n\n",
                page.size(),
                kKeywords.size());
    std::printf("%-34s %10s %8s\n", "mode", "MB/s", "hits");

    long long plainHits = 0;
    const double plain = megabytesPerSecond(page.size(), [&] {
        plainHits = 0;
        for (const String& keyword : kKeywords) {
            for (auto pos = page.find(keyword); pos != String::npos;
                 pos = page.find(keyword, pos + keyword.size()))
                ++plainHits;
        }
        g_sink += plainHits;
    });
    std::printf("%-34s %10.0f %8lld\n", "std::string::find (case kept)", plain, plainHits);

    const struct
    {
        const char* name;
        TCountOptions options;
    } modes[] = {
        {"source (default)", {}},
        {"source, case kept", {.matchCase = true}},
        {"source -w", {.wholeWords = true}},
        {"--text", {.visibleText = true}},
        {"--text -w", {.wholeWords = true, .visibleText = true}},
        {"-E (10 literal patterns)", {.patterns = true}},
        {"-E --text -w", {.wholeWords = true, .patterns = true, .visibleText = true}},
    };
    for (const auto& mode : modes) {
        const TKeywordCounter counter(kKeywords, mode.options);
        Integer hits = 0;
        const double speed = megabytesPerSecond(page.size(), [&] {
            hits = counter.Count(page).total;
            g_sink += hits;
        });
        std::printf("%-34s %10.0f %8d\n", mode.name, speed, hits);
    }
    return g_sink == 0 ? 1 : 0;
}
