// The peak memory of netquarry-cli on one huge page: a start page of a
// million links (about 38 MB) on a loopback server, crawled at the lowest
// depth with no keyword, so that the page, its links and the run's tables
// are all there is. Prints the peak resident memory, the time and the pages
// listed; "--links=N" changes the count, "--keep=FILE" writes the page to
// FILE for a profiler (serve it with any loopback server).

#include "childprocess.h"
#include "siteserver.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string bigPage(long links)
{
    std::string page = "<html><head><title>Index</title></head><body>\n";
    page.reserve(static_cast<std::size_t>(links) * 40 + 100);
    char line[96];
    for (long i = 0; i < links; ++i) {
        std::snprintf(line, sizeof(line), "<a href=\"/i/p%07ld.htm\">p%07ld</a>\n", i, i);
        page += line;
    }
    return page + "</body></html>\n";
}

long countLines(const std::string& text)
{
    long lines = 0;
    for (const char c : text)
        lines += c == '\n';
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    long links = 1'000'000;
    std::string keep;
    std::vector<std::string> extra;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--links=", 0) == 0)
            links = std::atol(arg.c_str() + 8);
        else if (arg.rfind("--keep=", 0) == 0)
            keep = arg.substr(7);
        else
            extra.push_back(arg);
    }
    const std::string page = bigPage(links);
    if (!keep.empty())
        std::ofstream(keep, std::ios::binary) << page;
    SiteServer server({{"/index.htm", page}});
    std::vector<std::string> command = {NQ_CLI, "-q", "--no-robots", "--depth=1", "-f", "csv"};
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(server.url("/index.htm"));
    const ChildResult run =
        RunChild(command, "/tmp/nq-bigpage-bench.out", std::chrono::seconds(600));
    std::remove("/tmp/nq-bigpage-bench.out");
    if (!run.started || run.timedOut || run.exitCode != 0) {
        std::printf("the run failed: exit %d%s\n", run.exitCode, run.timedOut ? ", timed out" : "");
        return 1;
    }
    std::printf("%ld links, %.1f MB page: peak %.1f MiB, %.1f s (%.1f s CPU), %ld lines out\n",
                links, static_cast<double>(page.size()) / 1e6,
                static_cast<double>(run.peakKiB) / 1024.0, run.seconds, run.cpuSeconds,
                countLines(run.output));
    return 0;
}
