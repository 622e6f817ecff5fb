// A whole search, as netquarry-cli runs it, of a generated site of 2,000
// pages on a loopback server: depth 5, two keywords. Checks that every page
// was analysed with the right hit count and prints the crawl time, the
// search time, pages per second and peak memory; when wget2 is installed it
// also times "wget2 -r -l 5" plus "grep -c" over the mirror on the same site.

#include "curlhandles.h"
#include "loopbackserver.h"
#include "searchrun.h"
#include "sitegenerator.h"
#include "terminalview.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

using Clock = std::chrono::steady_clock;

// Non-overlapping occurrences, ignoring ASCII letter case.
int countHits(std::string text, std::string keyword)
{
    const auto lower = [](std::string& s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    lower(text);
    lower(keyword);
    int n = 0;
    for (auto pos = text.find(keyword); pos != std::string::npos;
         pos = text.find(keyword, pos + keyword.size()))
        ++n;
    return n;
}

class TimedView : public TTerminalView
{
public:
    using TTerminalView::TTerminalView;
    Clock::time_point searchStarted;
    void SetStatus(const String& text) override
    {
        if (text.rfind(" Searching for:", 0) == 0)
            searchStarted = Clock::now();
        TTerminalView::SetStatus(text);
    }
};

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    const CurlGlobal curl;
    QCoreApplication app(argc, argv);

    nqtest::SiteShape shape;
    shape.pagesPerLevel = {1, 7, 49, 343, 1600};
    shape.pageBytes = 7600;
    shape.extraLinks = 6;
    shape.extraLinksMax = 25;
    shape.seed = 5;
    const auto site = nqtest::GenerateSite(shape);
    nqtest::LoopbackServer server;
    nqtest::ServeSite(server, site);
    std::map<std::string, int> expected;
    for (const auto& page : site.pages)
        expected[server.url(page.path)] =
            countHits(page.body, "quarry") + countHits(page.body, "granite");

    const QTemporaryDir work;
    QDir::setCurrent(work.path());
    std::FILE* quiet = std::fopen("/dev/null", "w");
    TimedView view({server.url("/index.htm"), "quarry granite", 4, false}, quiet, false);
    TSearchRun run(view);
    run.SetNextPageDelay(0);

    const auto started = Clock::now();
    run.PassOverBtn1Click();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!run.Running())
            app.quit();
    });
    poll.start(5);
    QCoreApplication::exec();
    const auto ended = Clock::now();

    std::size_t wrong = 0;
    std::size_t analysed = 0;
    for (const auto& [name, hits] : view.Rows()) {
        const auto it = expected.find(name);
        if (it == expected.end() || std::to_string(it->second) != hits)
            ++wrong;
        else
            ++analysed;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double total = seconds(ended - started);
    std::printf("pages in site       %zu\n", site.pages.size());
    std::printf("pages analysed      %zu (%zu wrong or unknown)\n", analysed, wrong);
    std::printf("crawl time          %.3f s\n", seconds(view.searchStarted - started));
    std::printf("search time         %.3f s\n", seconds(ended - view.searchStarted));
    std::printf("total               %.3f s\n", total);
    std::printf("pages per second    %.0f (each page fetched twice)\n",
                static_cast<double>(analysed) / total);
    std::printf("peak memory         %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);

    if (std::system("command -v wget2 >/dev/null 2>&1") == 0) {
        const std::string command = "cd '" + work.path().toStdString() +
                                    "' && wget2 -q -r -l 5 -P mirror '" + server.url("/index.htm") +
                                    "' ; grep -r -i -c -e quarry -e granite mirror >/dev/null";
        const auto wgetStarted = Clock::now();
        const int rc = std::system(command.c_str());
        const double wgetTime = seconds(Clock::now() - wgetStarted);
        std::printf("wget2 -r -l 5 + grep %.3f s (exit %d); netquarry takes %.2f times as long\n",
                    wgetTime, rc, total / wgetTime);
    } else {
        std::printf("wget2 not installed: no comparison\n");
    }
    std::fclose(quiet);
    return wrong == 0 && analysed == site.pages.size() ? 0 : 2;
}
