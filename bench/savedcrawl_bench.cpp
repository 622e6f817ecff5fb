// The saved crawl's costs, with netquarry-cli as a child process on loopback
// sites: what --save adds to a 2,000-page crawl served by nginx in time and
// peak memory, plain and saving runs alternating, and how long --from takes
// to search a saved 20,000-page crawl again. A search from the file that
// lists other rows than the live one is printed loudly and makes the exit
// code 2. "--quick" makes one round, "--rounds=N" N of them; "--keep=FILE"
// keeps the saved 20,000-page crawl in FILE, for a profiler. NQ_BENCH_CLI
// names another netquarry-cli to run (an older build, or a profiler's wrapper).

#include "childprocess.h"
#include "delayrelay.h"
#include "nginxserver.h"
#include "sitegenerator.h"
#include "siteserver.h"

#include <cstdlib>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr int kDepth = 5;

SiteServer::Pages pagesOf(const nqtest::GeneratedSite& site)
{
    SiteServer::Pages pages;
    for (const auto& page : site.pages)
        pages.emplace(page.path, page.body);
    return pages;
}

nqtest::SiteShape shapeOf(std::vector<int> pagesPerLevel, std::size_t pageBytes)
{
    nqtest::SiteShape shape;
    shape.pagesPerLevel = std::move(pagesPerLevel);
    shape.pageBytes = pageBytes;
    shape.extraLinks = 6;
    shape.extraLinksMax = 25;
    shape.seed = 5;
    return shape;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

const char* cli()
{
    return CliUnderTest(NQ_CLI);
}

std::vector<std::string> search(const std::vector<std::string>& options)
{
    std::vector<std::string> argv = {cli(), "-q", "-f", "csv", "--depth", std::to_string(kDepth)};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("quarry");
    argv.push_back("granite");
    return argv;
}

int g_trouble = 0;

// Processor seconds of the children reaped so far: on a shared machine the
// wall time also counts the waits for a processor.
double childCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run
{
    ChildResult child;
    double cpu = 0;
};

Run run(const std::vector<std::string>& argv, const fs::path& output, seconds limit)
{
    const double before = childCpu();
    ChildResult result = RunChild(argv, output.string(), limit);
    if (!result.started || result.exitCode != 0 || result.timedOut) {
        ++g_trouble;
        std::printf("  !!! %s ended with %d%s\n", argv.back().c_str(), result.exitCode,
                    result.timedOut ? " (timed out)" : "");
    }
    return {result, childCpu() - before};
}

// Live crawls with five transfers at a time find pages in varying order.
std::vector<std::string> sortedLines(const std::string& text)
{
    std::vector<std::string> all;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        all.push_back(text.substr(from, end - from));
    std::sort(all.begin(), all.end());
    return all;
}

std::size_t lines(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Times crawls of start with and without --save, alternating, and prints
// what saving adds.
void compareSaving(const std::string& start, std::size_t pages, const char* how,
                   const fs::path& work, int rounds)
{
    const fs::path out = work / "out.csv";
    std::vector<double> plainTimes, savingTimes, plainCpus, savingCpus;
    long plainPeak = 0, savingPeak = 0;
    std::string plainRows;
    for (int round = 0; round < rounds; ++round) {
        const fs::path file = work / ("save" + std::to_string(round) + ".nqcrawl");
        // Each goes first in every other round, so neither gains from
        // the other's warm caches.
        Run plain, saving;
        if (round % 2 == 0)
            plain = run(search({start}), out, seconds(300));
        saving = run(search({"--save=" + file.string(), start}), out, seconds(300));
        if (round % 2 != 0)
            plain = run(search({start}), out, seconds(300));
        fs::remove(file);
        plainTimes.push_back(plain.child.seconds);
        savingTimes.push_back(saving.child.seconds);
        plainCpus.push_back(plain.cpu);
        savingCpus.push_back(saving.cpu);
        plainPeak = std::max(plainPeak, plain.child.peakKiB);
        savingPeak = std::max(savingPeak, saving.child.peakKiB);
        if (sortedLines(saving.child.output) != sortedLines(plain.child.output)) {
            ++g_trouble;
            std::printf("  !!! round %d: the saving run listed other rows\n", round + 1);
        }
        plainRows = plain.child.output;
    }
    const double plainTime = median(plainTimes);
    const double savingTime = median(savingTimes);
    const double plainCpu = median(plainCpus);
    const double savingCpu = median(savingCpus);
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("%zu pages (%zu rows) %s, depth %d, medians of %d alternating round%s, load "
                "average %.2f %.2f %.2f\n",
                pages, lines(plainRows) - 1, how, kDepth, rounds, rounds == 1 ? "" : "s", load[0],
                load[1], load[2]);
    std::printf("  crawl                 %7.2f s   cpu %6.2f s   peak %6.1f MiB\n", plainTime,
                plainCpu, mib(plainPeak));
    std::printf("  crawl with --save     %7.2f s   cpu %6.2f s   peak %6.1f MiB\n", savingTime,
                savingCpu, mib(savingPeak));
    std::printf("  save overhead         %+6.1f %%    cpu %+5.1f %%   peak %+6.1f MiB   "
                "(targets < 10 %%, < 20 MiB)\n",
                100.0 * (savingTime - plainTime) / plainTime,
                100.0 * (savingCpu - plainCpu) / plainCpu, mib(savingPeak - plainPeak));
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    std::string keep;
    int rounds = 9;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else if (arg.rfind("--keep=", 0) == 0)
            keep = arg.substr(7);
        else if (arg.rfind("--rounds=", 0) == 0)
            rounds = std::max(1, std::atoi(arg.c_str() + 9));
    }
    if (quick)
        rounds = 1;
    std::string pattern = (fs::temp_directory_path() / "savedcrawl_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fputs("savedcrawl_bench: cannot make a scratch folder\n", stderr);
        return 1;
    }
    const fs::path work = pattern;
    const fs::path out = work / "out.csv";

    {
        const auto site = nqtest::GenerateSite(shapeOf({1, 7, 49, 343, 1600}, 7600));
        // Served as a real site is: the bench's own server costs more per
        // page than nginx and would hide what saving adds.
        const NginxServer server(work / "nginx", pagesOf(site));
        if (!server.running()) {
            std::printf("  !!! no nginx: %s\n", server.why().c_str());
            fs::remove_all(work);
            return 2;
        }
        compareSaving(server.url("/index.htm"), site.pages.size(), "from nginx", work, rounds);
        // Where the wire, not the processor, sets the pace, as on most
        // sites a user crawls: saving then works while transfers wait.
        const DelayRelay relay(server.port(), std::chrono::milliseconds(10));
        const std::string distant =
            "http://127.0.0.1:" + std::to_string(relay.port()) + "/index.htm";
        std::printf("\n");
        compareSaving(distant, site.pages.size(), "through a 20 ms round trip", work,
                      std::min(rounds, 3));
    }

    {
        const auto site = nqtest::GenerateSite(shapeOf({1, 9, 81, 729, 19180}, 3000));
        const SiteServer server(pagesOf(site));
        const fs::path file = work / "big.nqcrawl";
        const Run saving =
            run(search({"--save=" + file.string(), server.url("/index.htm")}), out, seconds(900));
        std::error_code ignored;
        std::printf("\n%zu pages (%zu rows) saved in %.2f s, file %.1f MiB\n", site.pages.size(),
                    lines(saving.child.output) - 1, saving.child.seconds,
                    static_cast<double>(fs::file_size(file, ignored)) / (1024.0 * 1024.0));
        std::vector<double> times, cpus;
        long peak = 0;
        for (int round = 0; round < rounds; ++round) {
            std::vector<std::string> again = {
                cli(), "-q", "-f", "csv", "--from=" + file.string(), "quarry", "granite"};
            const Run from = run(again, out, seconds(300));
            times.push_back(from.child.seconds);
            cpus.push_back(from.cpu);
            peak = std::max(peak, from.child.peakKiB);
            if (from.child.output != saving.child.output) {
                ++g_trouble;
                std::printf("  !!! round %d: --from listed other rows than the live search\n",
                            round + 1);
            }
        }
        std::printf("  --from search         %7.2f s   cpu %6.2f s   peak %6.1f MiB   "
                    "(target < 2 s)\n",
                    median(times), median(cpus), mib(peak));
        if (!keep.empty())
            fs::copy_file(file, keep, fs::copy_options::overwrite_existing, ignored);
    }
    fs::remove_all(work);
    return g_trouble == 0 ? 0 : 2;
}
