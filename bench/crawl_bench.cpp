// Crawls a generated site of 2,000 pages on a loopback server at depth 5 with
// five concurrent transfers and prints pages per second, wall time and peak
// memory. Not run by CI.

#include "curlhandles.h"
#include "linkscan.h"
#include "loopbackserver.h"
#include "crawler.h"
#include "sitegenerator.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <map>

int main(int argc, char** argv)
{
    const CurlGlobal curl;
    QCoreApplication app(argc, argv);

    nqtest::SiteShape shape;
    shape.pagesPerLevel = {1, 7, 49, 343, 1600};
    shape.pageBytes = 7600; // with the links, about 8 KiB a page
    shape.extraLinks = 6;
    shape.extraLinksMax = 25;
    shape.seed = 7;
    const auto site = nqtest::GenerateSite(shape);
    nqtest::LoopbackServer server;
    // As web servers do, and as the crawler's transfers expect.
    server.setKeepAlive(true);
    nqtest::ServeSite(server, site);

    TRuziZidu crawler;
    crawler.SetDepthSearchLevel(5);
    crawler.SetConcurrentDownloads(5);
    std::map<std::string, int> received;
    std::size_t links = 0;
    std::size_t errors = 0;
    const std::string root = server.url("");
    crawler.OnPageReceived = [&](TObject*, const String&, const String& url, const String&,
                                 const String&) { ++received[url.substr(root.size())]; };
    crawler.OnLinkFound = [&](TObject*, const String&, const String&, const String&, const String&,
                              const String&, const String&, const String&, String&, char, Integer,
                              bool&) { ++links; };
    crawler.OnError = [&](TObject*, const String& url, Cardinal code, const String& text) {
        ++errors;
        std::fprintf(stderr, "error %u %s %s\n", code, url.c_str(), text.c_str());
    };
    bool finished = false;
    crawler.OnWorking = [&](TObject*, bool working) {
        if (!working && finished)
            app.quit();
        finished = true;
    };

    const auto started = std::chrono::steady_clock::now();
    if (!crawler.Start(server.url("/index.htm")))
        return 1;
    QCoreApplication::exec();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::size_t missing = 0;
    std::size_t repeated = 0;
    for (const auto& page : site.pages) {
        const int n = received.count(page.path) ? received.at(page.path) : 0;
        // The start page is fetched again through the first link back to it.
        const int expected = page.path == "/index.htm" ? 2 : 1;
        missing += n == 0 ? 1U : 0U;
        repeated += n > expected ? 1U : 0U;
    }
    std::size_t fetchedPages = 0;
    for (const auto& [path, n] : received)
        fetchedPages += static_cast<std::size_t>(n);

    // The text steps of one large page: a 1 MiB page with a link every
    // 100 bytes or so.
    String big;
    for (int i = 0; big.size() < 1024 * 1024; ++i)
        big += "<p>some text of the page <a href = \"p" + std::to_string(i) + ".htm\">p</a></p>\n";
    const auto scanStarted = std::chrono::steady_clock::now();
    const String marked = PrepareAndMark(big);
    Integer anchors = 0;
    std::size_t values = 0;
    ScanHooks hooks;
    hooks.aborted = [] { return false; };
    hooks.yield = [] { return true; };
    hooks.found = [&values](const String&, Integer, char) { ++values; };
    ScanLinks(marked, anchors, hooks);
    const double scanMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - scanStarted)
            .count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("pages in site      %zu (%zu links written)\n", site.pages.size(), site.linkCount);
    std::printf("pages received     %zu\n", fetchedPages);
    std::printf("links reported     %zu\n", links);
    std::printf("missing / repeated %zu / %zu\n", missing, repeated);
    std::printf("errors             %zu\n", errors);
    std::printf("wall time          %.3f s\n", seconds);
    std::printf("pages per second   %.0f\n", static_cast<double>(fetchedPages) / seconds);
    std::printf("peak memory        %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::printf("1 MiB page scan    %.1f ms (%zu values)\n", scanMs, values);
    return missing == 0 && repeated == 0 && errors == 0 ? 0 : 2;
}
