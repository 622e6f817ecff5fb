// The whole search as a user runs it: netquarry-cli as a child process
// against its rival, wget2 mirroring the site into tmpfs followed by grep
// counting the keywords in the mirror, on the same generated site served by
// nginx, in alternating rounds. The round-trip rows use the bench's own
// server, which can hold its replies back. Prints a small table; a
// disagreement in pages or hits is printed loudly and makes the exit code 2.
// "--quick" makes one round of the short rows, "--full" adds the long ones;
// NQ_BENCH_CLI names another netquarry-cli to time (an older build);
// "--cli-args=--text -w" searches with more of the command's options.

#include "childprocess.h"
#include "delayrelay.h"
#include "nginxserver.h"
#include "sitegenerator.h"
#include "siteserver.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// The generated site's keywords; the Python docs' row searches others.
std::vector<std::string> g_keywords = {"quarry", "granite"};
// Both rivals are told to go this deep and reach the same pages: wget2
// counts the start page as level 0, Netquarry as level 1 but lists and
// searches the pages linked from its deepest level too.
constexpr int kDepth = 5;

int g_mismatches = 0;
// More of netquarry-cli's options for the searches with keywords
// ("--cli-args=--text -w"); they count other hits than grep, so hits are
// then not compared.
std::vector<std::string> g_cliArgs;

const char* cli()
{
    return CliUnderTest(NQ_CLI);
}

// Non-overlapping occurrences, ignoring ASCII letter case.
long long countHits(const std::string& text, const std::string& keyword)
{
    const auto lower = [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    };
    std::string haystack(text.size(), ' ');
    std::transform(text.begin(), text.end(), haystack.begin(), lower);
    long long n = 0;
    for (auto pos = haystack.find(keyword); pos != std::string::npos;
         pos = haystack.find(keyword, pos + keyword.size()))
        ++n;
    return n;
}

// A page that names another host (an absolute or scheme-relative address)
// would send the rivals off the machine.
std::size_t pagesLinkingElsewhere(const nqtest::GeneratedSite& site)
{
    return static_cast<std::size_t>(
        std::count_if(site.pages.begin(), site.pages.end(), [](const nqtest::SitePage& page) {
            return page.body.find("://") != std::string::npos ||
                   page.body.find("\"//") != std::string::npos ||
                   page.body.find("'//") != std::string::npos;
        }));
}

SiteServer::Pages pagesOf(const nqtest::GeneratedSite& site)
{
    SiteServer::Pages pages;
    for (const auto& page : site.pages)
        pages.emplace(page.path, page.body);
    return pages;
}

// Splits CSV text into records of fields (RFC 4180 quoting).
std::vector<std::vector<std::string>> parseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            record.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(record));
            record.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.empty() || !record.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
    return records;
}

struct Outcome
{
    bool ran = false;
    double seconds = 0;
    long peakKiB = 0;
    long long pages = -1;
    long long hits = -1;
    std::size_t connections = 0;
    std::size_t requests = 0;
    long long unfetched = 0; // pages of the site listed, but not given by the server
    double cpuSeconds = 0;
    double inFlight = 0;           // mean requests in flight at the server, when it can tell
    std::set<std::string> pageSet; // paths of the pages found
    std::string trouble;           // why the figures cannot be trusted, if they cannot
};

// Reads the command's CSV by its header, whether the hits stand in a "hits"
// column or a "total" one beside a column per keyword.
void readRows(const std::string& csv, const std::string& root, bool servedOnly, Outcome* outcome)
{
    const auto records = parseCsv(csv);
    if (records.empty()) {
        outcome->trouble = "no CSV output";
        return;
    }
    const auto& header = records.front();
    const auto column = [&header](const char* name) -> std::optional<std::size_t> {
        const auto it = std::find(header.begin(), header.end(), name);
        return it == header.end()
                   ? std::nullopt
                   : std::optional<std::size_t>(static_cast<std::size_t>(it - header.begin()));
    };
    const auto address = column("address");
    const auto status = column("status");
    auto hits = column("total");
    if (!hits)
        hits = column("hits");
    if (!address || !hits) {
        outcome->trouble = "CSV header lacks address or hits";
        return;
    }
    outcome->pages = 0;
    outcome->hits = 0;
    long long invalid = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto& row = records[i];
        if (row.size() <= std::max(*address, *hits))
            continue;
        const std::string& url = row[*address];
        // Links to other hosts are listed, never fetched: not the rival's pages.
        if (url.rfind(root, 0) != 0)
            continue;
        // Nor are those the server did not give (a broken link's 404): the
        // rival keeps no file of them.
        if (servedOnly && status && row.size() > *status && row[*status] != "ok") {
            ++outcome->unfetched;
            continue;
        }
        ++outcome->pages;
        const auto hostEnd =
            url.find('/', url.find("://") == std::string::npos ? 0 : url.find("://") + 3);
        outcome->pageSet.insert(hostEnd == std::string::npos ? "/" : url.substr(hostEnd));
        invalid += row[*address] == "Invalid URL" ? 1 : 0;
        outcome->hits += std::atoll(row[*hits].c_str());
    }
    if (invalid > 0)
        outcome->trouble = std::to_string(invalid) + " pages listed as Invalid URL";
}

class Bench
{
public:
    explicit Bench(fs::path work, bool rivalThere) : m_work(std::move(work)), m_rival(rivalThere) {}

    template <class Server>
    Outcome netquarry(Server& server, const std::string& start, int depth, bool withKeywords,
                      seconds limit, bool servedOnly = true)
    {
        std::vector<std::string> argv = {cli(), "--depth", std::to_string(depth), "--format",
                                         "csv"};
        if constexpr (requires { server.netquarryArgs(); }) {
            const auto more = server.netquarryArgs();
            argv.insert(argv.end(), more.begin(), more.end());
        }
        argv.push_back(server.url(start));
        if (withKeywords) {
            argv.insert(argv.end() - 1, g_cliArgs.begin(), g_cliArgs.end());
            argv.insert(argv.end(), g_keywords.begin(), g_keywords.end());
        }
        Outcome outcome;
        const auto connections = server.connectionCount();
        const auto requests = server.requestCount();
        resetFlight(server);
        const ChildResult child = RunChild(argv, (m_work / "netquarry.csv").string(), limit);
        take(child, &outcome);
        outcome.connections = server.connectionCount() - connections;
        outcome.requests = server.requestCount() - requests;
        outcome.inFlight = flight(server);
        if (!child.started)
            outcome.trouble = "netquarry-cli did not start";
        else if (child.timedOut)
            outcome.trouble = "netquarry-cli did not end within " + std::to_string(limit.count()) +
                              " s and was interrupted";
        else if (child.exitCode != 0)
            outcome.trouble = "netquarry-cli exit code " + std::to_string(child.exitCode);
        if (child.started) {
            std::string trouble = outcome.trouble;
            readRows(child.output, server.url(""), servedOnly, &outcome);
            if (!trouble.empty())
                outcome.trouble = trouble + (outcome.trouble.empty() || outcome.trouble == trouble
                                                 ? ""
                                                 : "; " + outcome.trouble);
        }
        return outcome;
    }

    // wget2 mirrors the site into a fresh folder; grep then counts each
    // keyword's occurrences over every file of the mirror.
    template <class Server>
    Outcome wget2AndGrep(Server& server, const std::string& start, int depth, seconds limit)
    {
        Outcome outcome;
        if (!m_rival)
            return outcome;
        const fs::path mirror = m_work / "mirror";
        fs::remove_all(mirror);
        const auto connections = server.connectionCount();
        const auto requests = server.requestCount();
        resetFlight(server);
        std::vector<std::string> argv = {"wget2",           "-r", "-l", std::to_string(depth),
                                         "--max-threads=5", "-q", "-P", mirror.string()};
        if constexpr (requires { server.wget2Args(); }) {
            const auto more = server.wget2Args();
            argv.insert(argv.end(), more.begin(), more.end());
        }
        argv.push_back(server.url(start));
        const ChildResult fetch = RunChild(argv, (m_work / "wget2.out").string(), limit);
        outcome.connections = server.connectionCount() - connections;
        outcome.requests = server.requestCount() - requests;
        outcome.inFlight = flight(server);
        std::string script;
        for (const auto& keyword : g_keywords)
            script += "grep -r -o -i -F --include='*.htm' --include='*.html' -e '" + keyword +
                      "' '" + mirror.string() + "' | wc -l;";
        const ChildResult grep =
            RunChild({"sh", "-c", script}, (m_work / "grep.out").string(), limit);
        outcome.ran = fetch.started && grep.started;
        outcome.seconds = fetch.seconds + grep.seconds;
        outcome.peakKiB = std::max(fetch.peakKiB, grep.peakKiB);
        // wget2 ends with 8 when the server answered an error, here for the
        // site's images and documents, which the site does not serve.
        if (!fetch.started)
            outcome.trouble = "wget2 did not start";
        else if (fetch.timedOut)
            outcome.trouble = "wget2 did not end within " + std::to_string(limit.count()) + " s";
        else if (fetch.exitCode != 0 && fetch.exitCode != 8)
            outcome.trouble = "wget2 exit code " + std::to_string(fetch.exitCode);
        outcome.pages = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator it(mirror, error), end; !error && it != end;
             it.increment(error)) {
            if (!it->is_regular_file() ||
                (it->path().extension() != ".htm" && it->path().extension() != ".html"))
                continue;
            ++outcome.pages;
            // mirror/HOST:PORT/path
            const fs::path relative = it->path().lexically_relative(mirror);
            outcome.pageSet.insert("/" + relative.lexically_relative(*relative.begin()).string());
        }
        outcome.hits = 0;
        std::size_t from = 0;
        for (std::size_t end; (end = grep.output.find('\n', from)) != std::string::npos;
             from = end + 1)
            outcome.hits += std::atoll(grep.output.substr(from, end - from).c_str());
        fs::remove_all(mirror);
        return outcome;
    }

    // The rival of listing one page's links: fetch the page, pick its link
    // values and count the distinct ones.
    template <class Server>
    Outcome wget2ListLinks(const Server& server, const std::string& start, seconds limit)
    {
        Outcome outcome;
        if (!m_rival)
            return outcome;
        const ChildResult child =
            RunChild({"sh", "-c",
                      "wget2 -q -O - '" + server.url(start) +
                          "' | grep -o -i 'href=\"[^\"]*\"' | sort -u | wc -l"},
                     (m_work / "links.out").string(), limit);
        take(child, &outcome);
        outcome.pages = std::atoll(child.output.c_str());
        if (child.timedOut)
            outcome.trouble = "wget2 did not end within " + std::to_string(limit.count()) + " s";
        return outcome;
    }

    bool rival() const { return m_rival; }

private:
    template <class Server> static void resetFlight(Server& server)
    {
        if constexpr (requires { server.resetInFlight(); })
            server.resetInFlight();
    }
    template <class Server> static double flight(const Server& server)
    {
        if constexpr (requires { server.meanInFlight(); })
            return server.meanInFlight();
        return 0;
    }

    static void take(const ChildResult& child, Outcome* outcome)
    {
        outcome->ran = child.started;
        outcome->seconds = child.seconds;
        outcome->peakKiB = child.peakKiB;
        outcome->cpuSeconds = child.cpuSeconds;
    }

    fs::path m_work;
    bool m_rival;
};

// Owns the bench's scratch folder.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        // On tmpfs where there is one, so that the disk's state does not
        // swing the rival's mirror.
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "run_bench.XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string count(long long n)
{
    return n < 0 ? std::string("-") : std::to_string(n);
}

double mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

void loud(const std::string& what)
{
    ++g_mismatches;
    std::printf("  !!! MISMATCH: %s\n", what.c_str());
}

// What a row's site holds, when the bench knows it; and where and how deep
// both rivals start.
struct RowSite
{
    long long pages = -1; // -1: not known, only the rivals are compared
    long long hits = -1;
    std::string start = "/index.htm";
    int depth = kDepth;
};

RowSite known(const nqtest::GeneratedSite& site, long long hits)
{
    RowSite row;
    row.pages = static_cast<long long>(site.pages.size());
    row.hits = hits;
    return row;
}

// A few paths found by one rival only, to tell why the page sets differ.
std::string onlyIn(const std::set<std::string>& these, const std::set<std::string>& those)
{
    std::string text;
    std::size_t n = 0;
    for (const auto& path : these) {
        if (those.contains(path))
            continue;
        if (++n <= 3)
            text += " " + path;
    }
    return std::to_string(n) + (n ? ":" + text + (n > 3 ? " ..." : "") : "");
}

// Both rivals on one server, alternating, round after round; one table row.
template <class Server>
std::vector<Outcome> compare(Bench& bench, const char* label, Server& server, const RowSite& site,
                             int rounds, seconds limit)
{
    std::vector<Outcome> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        ours.push_back(bench.netquarry(server, site.start, site.depth, true, limit));
        theirs.push_back(bench.wget2AndGrep(server, site.start, site.depth, limit));
    }
    std::vector<double> ourTimes, theirTimes;
    for (const auto& o : ours)
        ourTimes.push_back(o.seconds);
    for (const auto& o : theirs)
        theirTimes.push_back(o.seconds);
    const double mine = median(ourTimes);
    const double rival = median(theirTimes);
    if (bench.rival())
        std::printf("%-24s %8.2f s %9.2f s %6.2fx   %6s / %-6s %8s / %-8s\n", label, mine, rival,
                    mine / rival, count(ours[0].pages).c_str(), count(theirs[0].pages).c_str(),
                    count(ours[0].hits).c_str(), count(theirs[0].hits).c_str());
    else
        std::printf("%-24s %8.2f s %11s %7s   %6s / %-6s %8s / %-8s\n", label, mine, "-", "-",
                    count(ours[0].pages).c_str(), "-", count(ours[0].hits).c_str(), "-");
    const bool agree = !bench.rival() || ours[0].pageSet == theirs[0].pageSet;
    std::printf("%-24s connections/requests: netquarry %zu/%zu, wget2 %zu/%zu; page sets %s\n", "",
                ours[0].connections, ours[0].requests, theirs[0].connections, theirs[0].requests,
                bench.rival() ? (agree ? "agree" : "DIFFER") : "-");
    std::vector<double> ourCpu;
    for (const auto& o : ours)
        ourCpu.push_back(o.cpuSeconds);
    std::printf("%-24s netquarry CPU per page %.3f ms, peak memory %.1f MiB%s\n", "",
                median(ourCpu) * 1000.0 / static_cast<double>(std::max(1LL, ours[0].pages)),
                mib(ours[0].peakKiB),
                ours[0].unfetched ? ("; " + std::to_string(ours[0].unfetched) +
                                     " listed but not served, not counted")
                                        .c_str()
                                  : "");
    if (ours[0].inFlight > 0)
        std::printf("%-24s requests in flight at the server: netquarry %.2f, wget2 %.2f\n", "",
                    ours[0].inFlight, theirs[0].inFlight);
    if (!agree)
        loud(std::string(label) + ": the page sets differ; netquarry's alone " +
             onlyIn(ours[0].pageSet, theirs[0].pageSet) + "; wget2's alone " +
             onlyIn(theirs[0].pageSet, ours[0].pageSet));
    for (int round = 0; round < rounds; ++round) {
        const Outcome& o = ours[static_cast<std::size_t>(round)];
        const Outcome& t = theirs[static_cast<std::size_t>(round)];
        const std::string when = "round " + std::to_string(round + 1) + ": ";
        if (!o.trouble.empty())
            loud(when + o.trouble);
        if (!t.trouble.empty())
            loud(when + t.trouble);
        const bool hitsDiffer = g_cliArgs.empty() && site.hits >= 0 && o.hits != site.hits;
        if ((site.pages >= 0 && o.pages != site.pages) || hitsDiffer)
            loud(when + "netquarry found " + count(o.pages) + " pages and " + count(o.hits) +
                 " hits; the site has " + count(site.pages) + " and " + count(site.hits));
        if (bench.rival() && (o.pages != t.pages || (g_cliArgs.empty() && o.hits != t.hits)))
            loud(when + "netquarry " + count(o.pages) + " pages, " + count(o.hits) +
                 " hits; wget2 " + count(t.pages) + " pages, grep " + count(t.hits) + " hits");
    }
    return ours;
}

// The floor: curl fetching the site's known addresses five at a time into
// nothing, with no parsing, no searching and no discovery; the median time.
template <class Server>
double curlFloor(const Server& server, const nqtest::GeneratedSite& site, const fs::path& work,
                 int rounds, std::string* trouble)
{
    const fs::path config = work / "curl.conf";
    {
        std::ofstream out(config);
        for (const auto& page : site.pages)
            out << "url = \"" << server.url(page.path) << "\"\noutput = \"/dev/null\"\n";
    }
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const ChildResult child = RunChild(
            {"curl", "--parallel", "--parallel-max", "5", "-s", "--fail", "-K", config.string()},
            (work / "curl.out").string(), seconds(300));
        if (!child.started || child.timedOut || child.exitCode != 0)
            *trouble = "curl --parallel did not fetch every page";
        times.push_back(child.seconds);
    }
    return median(times);
}

// nginx over https with HTTP/2 behind the delaying relay: both rivals reach
// it through the relay and trust the bench's own certificate.
class RelayedSite
{
public:
    RelayedSite(const NginxServer& nginx, const DelayRelay& relay, fs::path certificate,
                std::vector<std::string> ourOptions = {})
        : m_nginx(nginx), m_relay(relay), m_certificate(std::move(certificate)),
          m_ourOptions(std::move(ourOptions))
    {}
    std::string url(std::string_view path) const
    {
        return "https://127.0.0.1:" + std::to_string(m_relay.port()) + std::string(path);
    }
    std::size_t requestCount() const { return m_nginx.requestCount(); }
    std::size_t connectionCount() const { return m_nginx.connectionCount(); }
    std::vector<std::string> netquarryArgs() const
    {
        std::vector<std::string> args = {"--cacert", m_certificate.string()};
        args.insert(args.end(), m_ourOptions.begin(), m_ourOptions.end());
        return args;
    }
    std::vector<std::string> wget2Args() const
    {
        return {"--ca-certificate=" + m_certificate.string()};
    }

private:
    const NginxServer& m_nginx;
    const DelayRelay& m_relay;
    fs::path m_certificate;
    std::vector<std::string> m_ourOptions;
};

// A self-signed certificate for 127.0.0.1, made for this run; false when
// openssl is missing or failed.
bool makeCertificate(const fs::path& folder)
{
    const ChildResult child =
        RunChild({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                  (folder / "key.pem").string(), "-out", (folder / "cert.pem").string()},
                 (folder / "openssl.out").string(), seconds(60));
    return child.started && child.exitCode == 0 && fs::exists(folder / "cert.pem");
}

// True when this process sees no network but loopback: a network namespace
// of its own. /sys shows the namespace that mounted it; /proc/self/net, ours.
bool loopbackOnly()
{
    std::ifstream in("/proc/self/net/dev");
    std::string line;
    int interfaces = 0;
    bool others = false;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue; // the two header lines
        std::string name = line.substr(0, colon);
        name.erase(0, name.find_first_not_of(' '));
        ++interfaces;
        others = others || name != "lo";
    }
    return interfaces > 0 && !others;
}

constexpr const char* kPythonDocs = "/usr/share/doc/python3.11/html";

// The Python docs row, run by the bench inside a network namespace of its
// own: the docs link to other hosts, which nothing must reach.
int pythonDocsRow(int rounds)
{
    if (!loopbackOnly()) {
        std::printf("  !!! the Python docs row runs only in a namespace without network\n");
        return 1;
    }
    const ScratchFolder work;
    Bench bench(work.path(), OnPath("wget2"));
    g_keywords = {"python", "thread"};
    NginxServer::Options options;
    options.root = kPythonDocs;
    const NginxServer nginx(work.path() / "nginx", {}, options);
    if (!nginx.running()) {
        loud("no nginx for the Python docs: " + nginx.why());
        return 2;
    }
    RowSite row;
    row.start = "/index.html";
    row.depth = 3;
    compare(bench, "Python docs, depth 3", nginx, row, rounds, seconds(600));
    return g_mismatches == 0 ? 0 : 2;
}

nqtest::SiteShape shapeOf(std::vector<int> pagesPerLevel)
{
    nqtest::SiteShape shape;
    shape.pagesPerLevel = std::move(pagesPerLevel);
    shape.pageBytes = 7600; // with the links, about 8 KiB a page
    shape.extraLinks = 6;
    shape.extraLinksMax = 25;
    shape.seed = 5;
    return shape;
}

long long hitsOf(const nqtest::GeneratedSite& site)
{
    long long hits = 0;
    for (const auto& page : site.pages)
        for (const auto& keyword : g_keywords)
            hits += countHits(page.body, keyword);
    return hits;
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool full = false;
    bool docsRow = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--python-docs-row") {
            docsRow = true; // the bench's own call of itself inside a namespace
        } else if (arg == "--full") {
            full = true;
        } else if (arg.rfind("--cli-args=", 0) == 0) {
            std::string rest = arg.substr(11) + " ";
            for (std::size_t space; (space = rest.find(' ')) != std::string::npos;
                 rest.erase(0, space + 1)) {
                if (space > 0)
                    g_cliArgs.push_back(rest.substr(0, space));
            }
        } else {
            std::fprintf(stderr,
                         "usage: run_bench [--quick | --full] [--cli-args=\"OPTION...\"]\n");
            return 1;
        }
    }
    const int rounds = quick ? 1 : 3;
    if (docsRow)
        return pythonDocsRow(rounds);
    const ScratchFolder work;
    if (work.path().empty()) {
        std::fputs("run_bench: cannot make a scratch folder\n", stderr);
        return 1;
    }
    Bench bench(work.path(), OnPath("wget2"));

    const auto site = nqtest::GenerateSite(shapeOf({1, 7, 49, 343, 1600}));
    const long long siteHits = hitsOf(site);
    const std::size_t elsewhere = pagesLinkingElsewhere(site);
    std::string extra;
    for (const auto& a : g_cliArgs)
        extra += " " + a;
    std::printf("%s --depth %d%s  vs  wget2 -r -l %d --max-threads=5 -q + grep -o | wc -l\n", cli(),
                kDepth, extra.c_str(), kDepth);
    std::printf("site: %zu pages, %zu links, %lld hits of \"quarry granite\"; %s\n",
                site.pages.size(), site.linkCount, siteHits,
                elsewhere == 0 ? "links only to itself" : "LINKS TO OTHER HOSTS");
    if (elsewhere != 0) {
        std::printf("  !!! %zu pages link to other hosts: not run\n", elsewhere);
        return 1;
    }
    if (!bench.rival())
        std::printf("wget2 is missing (apt-get install wget2): Netquarry alone, no ratio\n");
    std::printf("scratch and mirror in %s; medians of %d alternating round%s\n\n",
                work.path().c_str(), rounds, rounds == 1 ? "" : "s");
    std::printf("%-24s %10s %11s %7s   %15s %19s\n", "", "netquarry", "wget2+grep", "ratio",
                "pages nq/wget2", "hits nq/grep");

    // The loopback rows against nginx, as a real site is served.
    std::vector<Outcome> loopback;
    int serverNumber = 0;
    const auto withNginx = [&](const nqtest::GeneratedSite& served, const auto& run) {
        const NginxServer nginx(work.path() / ("nginx" + std::to_string(++serverNumber)),
                                pagesOf(served));
        if (!nginx.running()) {
            loud("no nginx for the loopback rows: " + nginx.why());
            return;
        }
        run(nginx);
    };
    {
        nqtest::GeneratedSite one;
        nqtest::SitePage page;
        page.path = "/index.htm";
        // Its one link, to itself, lists it as a page.
        page.body =
            "<html><body><p>quarry of <a href=\"index.htm\">granite</a></p></body></html>\n";
        one.pages.push_back(page);
        withNginx(one, [&](const NginxServer& nginx) {
            RowSite row = known(one, hitsOf(one));
            row.depth = 1;
            compare(bench, "one page, depth 1", nginx, row, rounds * 3, seconds(60));
        });
    }
    withNginx(site, [&](const NginxServer& nginx) {
        loopback =
            compare(bench, "2,000 pages", nginx, known(site, siteHits), rounds, seconds(300));
        if (!OnPath("curl"))
            return;
        std::string trouble;
        const double floor = curlFloor(nginx, site, work.path(), rounds, &trouble);
        std::vector<double> ours;
        for (const auto& o : loopback)
            ours.push_back(o.seconds);
        std::printf("%-24s %8.2f s %9.2f s %6.2fx   %6s   (curl fetching the known addresses)\n",
                    "curl --parallel-max 5", median(ours), floor, median(ours) / floor,
                    std::to_string(site.pages.size()).c_str());
        if (!trouble.empty())
            loud(trouble);
    });
    if (full) {
        const auto big = nqtest::GenerateSite(shapeOf({1, 10, 100, 1000, 18889}));
        withNginx(big, [&](const NginxServer& nginx) {
            compare(bench, "20,000 pages", nginx, known(big, hitsOf(big)), rounds, seconds(1200));
        });
    }
    if (full) {
        const auto huge = nqtest::GenerateSite(shapeOf({1, 15, 225, 3375, 56384}));
        withNginx(huge, [&](const NginxServer& nginx) {
            compare(bench, "60,000 pages", nginx, known(huge, hitsOf(huge)), rounds, seconds(3600));
        });
    }
    if (!quick) {
        // HTTP/2 over TLS, 10 ms each way: the round trip of a near host.
        const fs::path tls = work.path() / "tls";
        fs::create_directories(tls);
        NginxServer::Options secure;
        secure.certificate = tls / "cert.pem";
        secure.key = tls / "key.pem";
        if (!makeCertificate(tls)) {
            loud("openssl could not make a certificate: no https row");
        } else {
            const NginxServer nginx(work.path() / "nginx-tls", pagesOf(site), secure);
            if (!nginx.running()) {
                loud("no nginx for the https row: " + nginx.why());
            } else {
                const DelayRelay relay(nginx.port(), std::chrono::milliseconds(10));
                RelayedSite relayed(nginx, relay, secure.certificate);
                compare(bench, "2,000, https, 20 ms RTT", relayed, known(site, siteHits), rounds,
                        seconds(600));
                // wget2 keeps many streams in flight on each HTTP/2 connection;
                // a user who owns the site may let Netquarry do the same.
                RelayedSite wider(nginx, relay, secure.certificate, {"--parallel=32"});
                compare(bench, "  same, ours --parallel=32", wider, known(site, siteHits), rounds,
                        seconds(600));
            }
        }
    }
    if (!quick) {
        SiteServer server(pagesOf(site),
                          {std::chrono::milliseconds(20), std::chrono::milliseconds(20)});
        compare(bench, "2,000 pages, 20 ms RTT", server, known(site, siteHits), rounds,
                seconds(600));
    }
    if (full) {
        const auto small = nqtest::GenerateSite(shapeOf({1, 7, 49, 243}));
        SiteServer server(pagesOf(small),
                          {std::chrono::milliseconds(100), std::chrono::milliseconds(100)});
        compare(bench, "300 pages, 100 ms RTT", server, known(small, hitsOf(small)), rounds,
                seconds(600));
    }

    if (!quick) {
        // Inside a namespace with loopback alone: the docs link to other hosts.
        if (!fs::exists(fs::path(kPythonDocs) / "index.html") || !OnPath("unshare") ||
            !OnPath("ip")) {
            std::printf("%-24s not run: needs python3.11-doc, unshare and ip\n", "Python docs");
        } else {
            const std::string self = fs::read_symlink("/proc/self/exe").string();
            const ChildResult child =
                RunChild({"unshare", "-rn", "sh", "-c",
                          "ip link set lo up && exec \"$0\" --python-docs-row", self},
                         (work.path() / "docs.out").string(), seconds(3600));
            std::fputs(child.output.c_str(), stdout);
            if (!child.started || child.exitCode != 0) {
                ++g_mismatches;
                std::printf("  !!! the Python docs row ended with %d\n", child.exitCode);
            }
        }
    }

    if (!loopback.empty()) {
        std::printf("\n%-24s %10s %14s %8s %14s\n", "netquarry alone", "time", "peak memory",
                    "pages", "CPU per page");
        std::vector<double> times, cpu;
        long peak = 0;
        for (const auto& o : loopback) {
            times.push_back(o.seconds);
            cpu.push_back(o.cpuSeconds);
            peak = std::max(peak, o.peakKiB);
        }
        const double pages = static_cast<double>(std::max(1LL, loopback[0].pages));
        std::printf("%-24s %8.2f s %10.1f MiB %8s %11.3f ms\n", "2,000 pages, depth 5",
                    median(times), mib(peak), count(loopback[0].pages).c_str(),
                    median(cpu) * 1000.0 / pages);
    }

    // One page of distinct links to pages of the same host, listed without
    // keywords, so that only the crawl and the listing count. No more links
    // than one page may give (100,000), so both rivals list every one.
    const int links = quick ? 20000 : 100000;
    std::string page = "<html><body>\n";
    for (int i = 0; i < links; ++i)
        page += "<a href=\"/many/p" + std::to_string(i) + ".htm\">p" + std::to_string(i) + "</a>\n";
    page += "</body></html>\n";
    const SiteServer server(SiteServer::Pages{{"/links.htm", std::move(page)}});
    // Listed, not fetched: the pages beyond the start page are not searched.
    Outcome ours = bench.netquarry(server, "/links.htm", 1, false, seconds(600), false);
    // The start page is listed too; the rival counts only its links.
    if (ours.pageSet.contains("/links.htm"))
        --ours.pages;
    const Outcome theirs = bench.wget2ListLinks(server, "/links.htm", seconds(600));
    std::printf("\n%-24s %10s %11s %7s   %15s\n", "one page of links", "netquarry", "wget2|grep",
                "ratio", "listed nq/rival");
    char label[64];
    std::snprintf(label, sizeof label, "%d links, depth 1", links);
    if (bench.rival())
        std::printf("%-24s %8.2f s %9.2f s %6.1fx   %7s / %-7s\n", label, ours.seconds,
                    theirs.seconds, ours.seconds / theirs.seconds, count(ours.pages).c_str(),
                    count(theirs.pages).c_str());
    else
        std::printf("%-24s %8.2f s %11s %7s   %7s / %-7s\n", label, ours.seconds, "-", "-",
                    count(ours.pages).c_str(), "-");
    std::printf("%-24s peak memory %.1f MiB\n", "", mib(ours.peakKiB));
    if (!ours.trouble.empty())
        loud(ours.trouble);
    if (ours.pages != links)
        loud("netquarry listed " + count(ours.pages) + " of " + std::to_string(links) + " links");
    if (bench.rival() && theirs.pages != links)
        loud("wget2|grep listed " + count(theirs.pages) + " of " + std::to_string(links) +
             " links");

    std::printf("\n%s\n", g_mismatches == 0 ? "all figures agree"
                                            : "!!! SOME FIGURES DISAGREE: see MISMATCH above");
    return g_mismatches == 0 ? 0 : 2;
}
