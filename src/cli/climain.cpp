// netquarry-cli: the same search as the desktop window, on a terminal.

#include "crawlfile.h"
#include "crawlscope.h"
#include "crawlwriter.h"
#include "curlhandles.h"
#include "ioerror.h"
#include "messagebox.h"
#include "passwordmask.h"
#include "reportwriter.h"
#include "resultrows.h"
#include "runaccount.h"
#include "scopeexit.h"
#include "searchrun.h"
#include "siteaccess.h"
#include "stagedfile.h"
#include "terminalview.h"
#include "textdecode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

const char* const kProgram = "netquarry-cli";

// Exit codes in the manner of wget's.
enum ExitCode
{
    kSuccess = 0,
    kGeneric = 1,
    kBadArguments = 2,
    kFileError = 3,
    kNetworkFailure = 4,
    kUnsearched = 5,
    kServerError = 8,
    // Standard output was a pipe that its reader closed: the code of a
    // program that SIGPIPE ended, as "cat" and "grep" end there.
    kClosedPipe = 128 + SIGPIPE,
};

// Whether everything printed reached standard output. stdio keeps a failed
// write's mark, so one check after the last line covers every line. A
// reader that went away is no error worth a word; anything else is named.
int outputStatus()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return kSuccess;
    const int error = errno != 0 ? errno : EIO;
    if (error == EPIPE)
        return kClosedPipe;
    std::fprintf(stderr, "%s: standard output: %s\n", kProgram, std::strerror(error));
    return kFileError;
}

struct Options
{
    SearchSettings settings;
    String reportDir;
    String format = "table";
    bool quiet = false;
    bool progress = false;
    bool failOnUnsearched = false;
    // Which pages are printed: all, those with a hit (-l), those without (-L).
    enum class Listing
    {
        All,
        Matching,
        NotMatching,
    } listing = Listing::All;
    String saveFile; // keep the crawl here
    // What --save does with a file that holds a crawl: refuse it, continue
    // that crawl, or crawl again into it.
    TCrawlRecorder::Kind saveKind = TCrawlRecorder::Kind::New;
    String fromFile;          // search this saved crawl instead of the web
    String compareFile;       // print only what differs from this saved crawl
    bool askPassword = false; // read it from the terminal, unseen
};

[[noreturn]] void badArguments(const String& what)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, what.c_str(),
                 kProgram);
    std::exit(kBadArguments);
}

std::optional<int> wholeNumber(const String& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

[[noreturn]] void showUsage();

// One command-line option. A new option is one more row of kOptions; the
// parser and the help read nothing else.
struct OptionRow
{
    const char* name;  // the long name, without "--"
    char letter;       // the short letter, 0 for none
    const char* value; // the value's name in the help; nullptr for a flag
    const char* help;
    // Takes the option; value is empty for a flag.
    void (*apply)(const String& value, Options& options);
    // The value may be left out (--name alone); it is then empty. Given, it
    // must follow an '=' sign, so that an operand after the option stays one.
    bool optionalValue = false;
};

const OptionRow kOptions[] = {
    {"depth", 'd', "N", "link levels to follow, 1 (Lowest) to 5 (Highest); default 3",
     [](const String& value, Options& options) {
         const auto depth = wholeNumber(value);
         if (!depth || *depth < 1 || *depth > 5)
             badArguments("invalid depth '" + value + "': give a number from 1 to 5");
         options.settings.depthIndex = *depth - 1;
     }},
    {"case", 'c', nullptr, "letter case must match",
     [](const String&, Options& options) { options.settings.caseSensitive = true; }},
    {"report", 'o', "DIR",
     "also write the HTML report into DIR (refused at once when it cannot be)",
     [](const String& value, Options& options) {
         if (value.empty())
             badArguments("option '--report' needs a folder");
         options.reportDir = value;
     }},
    {"format", 'f', "FORMAT",
     "results as table (default), csv, json (pages and summary)\n"
     "                       or json-rows (the pages alone, as an array)",
     [](const String& value, Options& options) {
         if (value != "table" && value != "csv" && value != "json" && value != "json-rows")
             badArguments("invalid format '" + value + "': give table, csv, json or json-rows");
         options.format = value;
     }},
    {"quiet", 'q', nullptr, "print nothing but the results and errors (no summary)",
     [](const String&, Options& options) { options.quiet = true; }},
    {"no-robots", 0, nullptr, "fetch what robots.txt disallows (obeyed by default)",
     [](const String&, Options& options) { options.settings.obeyRobots = false; }},
    {"fail-on-unsearched", 0, nullptr, "exit 5 when any page was not searched",
     [](const String&, Options& options) { options.failOnUnsearched = true; }},
    {"progress", 0, nullptr, "show progress also when standard error is no terminal",
     [](const String&, Options& options) { options.progress = true; }},
    {"timeout", 0, "SECS", "limit of one transfer, in seconds (default 300)",
     [](const String& value, Options& options) {
         const auto seconds = wholeNumber(value);
         if (!seconds || *seconds < 1)
             badArguments("invalid timeout '" + value + "': give a number of seconds above 0");
         options.settings.timeoutSeconds = *seconds;
     }},
    {"read-timeout", 0, "SECS",
     "end a transfer that receives nothing, or not its whole reply headers,\n"
     "                       for SECS seconds (default 30, never beyond --timeout)",
     [](const String& value, Options& options) {
         const auto seconds = wholeNumber(value);
         if (!seconds || *seconds < 1)
             badArguments("invalid read timeout '" + value + "': give a number of seconds above 0");
         options.settings.readTimeoutSeconds = *seconds;
     }},
    {"keyword", 'e', "TEXT", "search for TEXT as one keyword, exactly as given (repeatable)",
     [](const String& value, Options& options) {
         options.settings.exactKeywords.push_back(value);
     }},
    {"word-regexp", 'w', nullptr, "count a hit only as a whole word",
     [](const String&, Options& options) { options.settings.wholeWords = true; }},
    {"regex", 'E', nullptr, "take each keyword as a Perl-compatible regular expression",
     [](const String&, Options& options) { options.settings.patterns = true; }},
    {"text", 0, nullptr, "search the text a reader sees, not the page's source",
     [](const String&, Options& options) { options.settings.visibleText = true; }},
    {"matching", 'l', nullptr, "list only the pages with a hit",
     [](const String&, Options& options) { options.listing = Options::Listing::Matching; }},
    {"not-matching", 'L', nullptr, "list only the pages without a hit, and those not searched",
     [](const String&, Options& options) { options.listing = Options::Listing::NotMatching; }},
    {"all", 0, nullptr, "a page has a hit only when every keyword occurs",
     [](const String&, Options& options) { options.settings.allKeywords = true; }},
    {"snippets", 0, "N", "show up to N hits per keyword in their context (default 3)",
     [](const String& value, Options& options) {
         const auto count = value.empty() ? std::optional<int>(3) : wholeNumber(value);
         if (!count || *count < 1 || *count > 1000)
             badArguments("invalid snippet count '" + value + "': give a number from 1 to 1000");
         options.settings.snippets = *count;
     },
     true},
    {"span-hosts", 0, nullptr, "fetch pages of, and follow redirects to, other hosts too",
     [](const String&, Options& options) { options.settings.spanHosts = true; }},
    {"cacert", 0, "FILE", "trust the certificate authorities in FILE for https",
     [](const String& value, Options& options) { options.settings.caFile = value; }},
    {"ca-certificate", 0, "FILE", "the same as --cacert, under wget2's name",
     [](const String& value, Options& options) { options.settings.caFile = value; }},
    {"save", 0, "FILE", "keep the crawl in FILE, a new file, to search it again later",
     [](const String& value, Options& options) {
         if (value.empty())
             badArguments("option '--save' needs a file");
         options.saveFile = value;
     }},
    {"resume", 0, nullptr, "with --save: continue the crawl in FILE; no ADDRESS, no page twice",
     [](const String&, Options& options) { options.saveKind = TCrawlRecorder::Kind::Resume; }},
    {"update", 0, nullptr, "with --save: crawl FILE's site again, fetching only changed pages",
     [](const String&, Options& options) { options.saveKind = TCrawlRecorder::Kind::Update; }},
    {"from", 0, "FILE", "search the crawl saved in FILE, without network; no ADDRESS",
     [](const String& value, Options& options) {
         if (value.empty())
             badArguments("option '--from' needs a file");
         options.fromFile = value;
     }},
    {"compare", 0, "OLDFILE", "print only pages whose hits differ from the crawl in OLDFILE",
     [](const String& value, Options& options) {
         if (value.empty())
             badArguments("option '--compare' needs a file");
         options.compareFile = value;
     }},
    {"parallel", 0, "N", "transfers at once, 1 to 32 (default 5); more only for a site you own",
     [](const String& value, Options& options) {
         const auto count = wholeNumber(value);
         if (!count || *count < 1 || *count > 32)
             badArguments("invalid parallel '" + value + "': give a number from 1 to 32");
         options.settings.parallel = *count;
     }},
    {"user-agent", 'U', "TEXT", "tell servers TEXT as the agent (robots.txt is read for it)",
     [](const String& value, Options& options) {
         if (value.empty() || !inet::HeaderProblem("User-Agent: " + value).empty())
             badArguments("invalid agent text: give one line of text");
         options.settings.agent = value;
     }},
    {"header", 0, "'NAME: VALUE'", "send this request header to the start host (repeatable)",
     [](const String& value, Options& options) {
         const String problem = inet::HeaderProblem(value);
         if (!problem.empty()) {
             // Named by its name alone: its value may be a secret.
             String name = value.substr(0, value.find(':'));
             for (char& c : name)
                 if (static_cast<unsigned char>(c) < 0x20)
                     c = '?';
             badArguments("invalid header '" + name + "': " + problem);
         }
         options.settings.headers.push_back(value);
     }},
    {"load-cookies", 0, "FILE", "send the start host's cookies from FILE (Netscape format)",
     [](const String& value, Options& options) {
         if (value.empty() || !QFileInfo(DecodeWebText(value)).isReadable())
             badArguments("cannot read the cookie file '" + value + "'");
         options.settings.cookieFile = value;
     }},
    {"user", 0, "NAME", "log in to the start host as NAME (basic or digest)",
     [](const String& value, Options& options) { options.settings.user = value; }},
    {"password", 0, "TEXT", "the password for --user",
     [](const String& value, Options& options) { options.settings.password = value; }},
    {"ask-password", 0, nullptr, "read the password from the terminal, not shown",
     [](const String&, Options& options) { options.askPassword = true; }},
    {"no-netrc", 0, nullptr, "take no credentials from ~/.netrc",
     [](const String&, Options& options) { options.settings.useNetrc = false; }},
    {"accept-regex", 0, "REGEX", "fetch only pages whose address matches REGEX (repeatable)",
     [](const String& value, Options& options) {
         options.settings.acceptPatterns.push_back(value);
     }},
    {"reject-regex", 0, "REGEX", "leave out pages whose address matches REGEX (repeatable)",
     [](const String& value, Options& options) {
         options.settings.rejectPatterns.push_back(value);
     }},
    {"max-pages", 0, "N", "fetch at most N pages, the start page included; list the rest",
     [](const String& value, Options& options) {
         const auto count = wholeNumber(value);
         if (!count || *count < 1)
             badArguments("invalid max-pages '" + value + "': give a number above 0");
         options.settings.maxPages = *count;
     }},
    {"follow-sitemaps", 0, nullptr, "also take the site's pages that its sitemaps list",
     [](const String&, Options& options) { options.settings.followSitemaps = true; }},
    {"wait", 0, "SECONDS",
     "at least SECONDS between requests to one host, one at a time (a longer\n"
     "                       Crawl-delay of its robots.txt wins; that is capped at 30)",
     [](const String& value, Options& options) {
         double seconds = -1;
         const auto [end, error] =
             std::from_chars(value.data(), value.data() + value.size(), seconds);
         if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
             !(seconds >= 0 && seconds <= 3600))
             badArguments("invalid wait '" + value + "': give seconds from 0 to 3600");
         options.settings.waitSeconds = seconds;
     }},
    {"random-wait", 0, nullptr, "vary each --wait gap from 0.5 to 1.5 times",
     [](const String&, Options& options) { options.settings.randomWait = true; }},
    {"help", 'h', nullptr, "show this help and exit", [](const String&, Options&) { showUsage(); }},
    {"version", 'V', nullptr, "show the version and exit",
     [](const String&, Options&) {
         std::printf("%s %s\n", kProgram, NQ_VERSION);
         std::exit(outputStatus());
     }},
};

const OptionRow* findOption(const String& name)
{
    for (const OptionRow& row : kOptions) {
        if (name == row.name)
            return &row;
    }
    return nullptr;
}

const OptionRow* findOption(char letter)
{
    for (const OptionRow& row : kOptions) {
        if (row.letter != 0 && row.letter == letter)
            return &row;
    }
    return nullptr;
}

void showUsage()
{
    String usage = "Usage: netquarry-cli [OPTION]... ADDRESS [KEYWORD]...\n"
                   "Crawls the site at ADDRESS, counts the KEYWORDs in each of its pages and\n"
                   "prints every page with its hits. Ctrl-C stops and prints what was found.\n"
                   "\n";
    // The help texts start in one column, as GNU tools line them up.
    constexpr std::size_t kHelpColumn = 23;
    for (const OptionRow& row : kOptions) {
        String line = row.letter ? String("  -") + row.letter + ", " : String("      ");
        line += String("--") + row.name;
        if (row.value)
            line += row.optionalValue ? String("[=") + row.value + "]" : String("=") + row.value;
        line += String(line.size() + 2 > kHelpColumn ? 2 : kHelpColumn - line.size(), ' ');
        usage += line + row.help + "\n";
    }
    usage += "\n"
             "Exit status: 0 success, 1 generic error, 2 bad arguments, 3 file error,\n"
             "4 the start address could not be reached, 5 pages were not searched (with\n"
             "--fail-on-unsearched), 8 it answered with an error status, 130 interrupted,\n"
             "141 standard output closed by its reader.\n";
    std::fputs(usage.c_str(), stdout);
    std::exit(outputStatus());
}

// Takes one option, by its long name, with its value when it has one.
void applyOption(const String& name, const std::optional<String>& value, Options* options)
{
    const OptionRow* row = findOption(name);
    if (!row)
        badArguments("unrecognized option '--" + name + "'");
    if (row->value && !value && !row->optionalValue)
        badArguments("option '--" + name + "' requires an argument");
    if (!row->value && value)
        badArguments("option '--" + name + "' doesn't allow an argument");
    row->apply(value.value_or(String()), *options);
}

// GNU style: --name VALUE, --name=VALUE, -x VALUE, -xVALUE, bundled flags,
// and "--" before operands that start with "-".
Options parseArguments(const QStringList& args)
{
    Options options;
    // The command stays on the start host unless asked: other hosts are listed only.
    options.settings.spanHosts = false;
    std::vector<String> operands;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const String arg = ToUtf8(args[i]);
        const auto next = [&]() -> std::optional<String> {
            if (i + 1 < args.size())
                return ToUtf8(args[++i]);
            return std::nullopt;
        };
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            const auto equals = arg.find('=');
            const String name = arg.substr(2, equals == String::npos ? String::npos : equals - 2);
            std::optional<String> value;
            if (equals != String::npos) {
                value = arg.substr(equals + 1);
            } else {
                const OptionRow* row = findOption(name);
                if (row && row->value && !row->optionalValue)
                    value = next();
            }
            applyOption(name, value, &options);
        } else {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                const OptionRow* row = findOption(arg[k]);
                if (!row)
                    badArguments(String("invalid option -- '") + arg[k] + "'");
                if (!row->value) {
                    applyOption(row->name, std::nullopt, &options);
                    continue;
                }
                std::optional<String> value =
                    k + 1 < arg.size() ? std::optional<String>(arg.substr(k + 1)) : next();
                if (!value)
                    badArguments(String("option requires an argument -- '") + arg[k] + "'");
                applyOption(row->name, value, &options);
                break;
            }
        }
    }
    // A saved crawl has its address: every operand is a keyword.
    const bool continued = options.saveKind != TCrawlRecorder::Kind::New;
    const bool fromFile = !options.fromFile.empty() || continued;
    if (!options.fromFile.empty() && !options.saveFile.empty())
        badArguments("--from searches a saved crawl; it cannot --save one");
    if (continued && options.saveFile.empty())
        badArguments("--resume and --update need --save=FILE");
    if (operands.empty() && !fromFile)
        badArguments("missing ADDRESS");
    if (!fromFile)
        options.settings.address = operands.front();
    if (continued && !options.fromFile.empty())
        badArguments("--resume and --update continue a crawl; --from cannot");
    const std::size_t first = fromFile ? 0 : 1;
    for (std::size_t k = first; k < operands.size(); ++k)
        options.settings.keywords += (k > first ? " " : "") + operands[k];
    return options;
}

String jsonString(const String& text)
{
    String out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Whether a page is printed under -l or -L. A page that could not be
// searched lacks nothing anybody knows of: -L lists it with its status.
bool listedUnder(Options::Listing listing, const TPageEntry& entry)
{
    const bool hit = entry.State == TPageState::Searched && entry.Hits > 0;
    switch (listing) {
    case Options::Listing::Matching:
        return hit;
    case Options::Listing::NotMatching:
        return !hit;
    case Options::Listing::All:
        break;
    }
    return true;
}

String joined(const std::vector<String>& items, const char* separator)
{
    String out;
    for (const String& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

void printCsv(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
              const Options& options)
{
    CsvColumns csv;
    csv.snippets = options.settings.snippets > 0;
    csv.listed = [&options](const TPageEntry& entry) {
        return listedUnder(options.listing, entry);
    };
    WriteResultsCsv(rows, keywords, csv, [](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
    });
}

void printJsonRows(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
                   const Options& options, const char* indent)
{
    std::printf("[");
    bool first = true;
    for (const TPageEntry& entry : rows) {
        if (!listedUnder(options.listing, entry))
            continue;
        String counts;
        String snippets;
        std::vector<String> seen;
        for (const std::size_t k : KeywordColumns(keywords)) {
            // A keyword typed twice counts twice in the total, once here.
            if (std::find(seen.begin(), seen.end(), keywords[k]) != seen.end())
                continue;
            seen.push_back(keywords[k]);
            const String cell = KeywordCell(entry, k);
            counts += String(counts.empty() ? "" : ", ") + jsonString(keywords[k]) + ": " +
                      (cell.empty() ? String("null") : cell);
            if (k < entry.Snippets().size()) {
                std::vector<String> items;
                for (const String& snippet : entry.Snippets()[k])
                    items.push_back(jsonString(snippet));
                snippets += String(snippets.empty() ? "" : ", ") + jsonString(keywords[k]) + ": [" +
                            joined(items, ", ") + "]";
            }
        }
        const String snippetPart =
            options.settings.snippets > 0 ? ", \"snippets\": {" + snippets + "}" : String();
        // A redirect that was not followed names where it leads.
        const String locationPart =
            entry.Location().empty()
                ? String()
                : ", \"location\": " + jsonString(MaskPasswords(entry.Location()));
        std::printf("%s\n%s  {\"address\": %s, \"status\": %s%s, \"hits\": %s, \"keywords\": "
                    "{%s}%s}",
                    first ? "" : ",", indent, jsonString(MaskPasswords(entry.Address())).c_str(),
                    jsonString(PageStatus(entry)).c_str(), locationPart.c_str(),
                    PageCounted(entry) ? std::to_string(entry.Hits).c_str() : "null",
                    counts.c_str(), snippetPart.c_str());
        first = false;
    }
    std::printf("%s%s]", first ? "" : "\n", first ? "" : indent);
}

void printJson(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
               const Options& options, const TRunAccount& account)
{
    std::printf("{\"pages\": ");
    printJsonRows(rows, keywords, options, "  ");
    String reasons;
    for (const auto& [reason, count] : account.Reasons)
        reasons +=
            String(reasons.empty() ? "" : ", ") + jsonString(reason) + ": " + std::to_string(count);
    String traps;
    for (const String& path : account.TrapPaths)
        traps += String(traps.empty() ? "" : ", ") + jsonString(path);
    std::printf(
        ",\n \"summary\": {\"pages\": %d, \"searched\": %d, \"with_hits\": %d, "
        "\"not_modified\": %d, \"not_searched\": %d, \"reasons\": {%s}, \"trap_paths\": [%s]}}\n",
        account.Pages, account.Searched, account.WithHits, account.NotModified, account.NotSearched,
        reasons.c_str(), traps.c_str());
}

// The grid's two columns, each keyword's count when there are several, and
// the status of a page without a count, last.
void printTable(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
                const Options& options)
{
    const auto all = KeywordColumns(keywords);
    const std::vector<std::size_t> columns = all.size() > 1 ? all : std::vector<std::size_t>{};
    std::size_t width = 7;
    for (const TPageEntry& row : rows)
        width = std::max(width, MaskPasswords(row.Address()).size());
    std::printf("%-*s  %6s", static_cast<int>(width), "Address", "Hits");
    for (const std::size_t k : columns)
        std::printf("  %6s", keywords[k].c_str());
    std::printf("  Status\n");
    for (const TPageEntry& entry : rows) {
        if (!listedUnder(options.listing, entry))
            continue;
        std::printf("%-*s  %6s", static_cast<int>(width), MaskPasswords(entry.Address()).c_str(),
                    PageCounted(entry) ? std::to_string(entry.Hits).c_str() : "-");
        for (const std::size_t k : columns) {
            const String cell = KeywordCell(entry, k);
            std::printf("  %6s", cell.empty() ? "-" : cell.c_str());
        }
        std::printf("  %s\n", PageStatus(entry).c_str());
        const String snippets = SnippetLine(entry, keywords);
        if (!snippets.empty())
            std::printf("    %s\n", snippets.c_str());
    }
}

void printRows(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
               const Options& options, const TRunAccount& account)
{
    if (options.format == "csv")
        printCsv(rows, keywords, options);
    else if (options.format == "json")
        printJson(rows, keywords, options, account);
    else if (options.format == "json-rows") {
        printJsonRows(rows, keywords, options, "");
        std::printf("\n");
    } else
        printTable(rows, keywords, options);
    std::fflush(stdout);
}

// A report folder that cannot be made or written is refused before the
// crawl, with the system's reason; "" when it can be written.
String reportFolderProblem(const QString& folder)
{
    const String path = ToUtf8(folder);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path), error);
    if (error)
        return error.message();
    // A name of its own, removed again: runs that start together into one
    // folder must not trip over each other's probe.
    try {
        const StagedFile probe(path + "/.netquarry-write-test");
    } catch (const EInOutError& e) {
        return std::strerror(e.ErrorCode);
    }
    return String();
}

// A page whose hits differ between an old crawl and this one; a page
// missing on one side, or that failed there, has none.
struct Change
{
    String address;
    std::optional<Integer> before;
    std::optional<Integer> after;
    const char* word = "";
};

std::vector<Change> changesBetween(std::span<const TPageEntry> before,
                                   std::span<const TPageEntry> after)
{
    std::unordered_map<String, std::optional<Integer>> old;
    for (const TPageEntry& entry : before)
        old.emplace(entry.Address(), PageCounted(entry) ? std::optional(entry.Hits) : std::nullopt);
    std::vector<Change> changes;
    const auto add = [&changes](const String& address, std::optional<Integer> was,
                                std::optional<Integer> now) {
        if (was.value_or(0) == now.value_or(0))
            return;
        const char* word = !was ? "new" : !now ? "gone" : *now > *was ? "more" : "fewer";
        changes.push_back({MaskPasswords(address), was, now, word});
    };
    std::unordered_set<String> seen;
    for (const TPageEntry& entry : after) {
        const auto found = old.find(entry.Address());
        add(entry.Address(), found == old.end() ? std::nullopt : found->second,
            PageCounted(entry) ? std::optional(entry.Hits) : std::nullopt);
        seen.insert(entry.Address());
    }
    for (const TPageEntry& entry : before) {
        if (!seen.contains(entry.Address()))
            add(entry.Address(), old[entry.Address()], std::nullopt);
    }
    return changes;
}

String hitsCell(std::optional<Integer> hits, const char* none)
{
    return hits ? std::to_string(*hits) : String(none);
}

void printChanges(const std::vector<Change>& changes, const String& format)
{
    if (format == "csv") {
        std::printf("address,old,new,change\r\n");
        for (const Change& change : changes)
            std::printf("%s,%s,%s,%s\r\n", CsvField(change.address).c_str(),
                        hitsCell(change.before, "").c_str(), hitsCell(change.after, "").c_str(),
                        change.word);
    } else if (format == "json") {
        std::printf("[");
        for (std::size_t i = 0; i < changes.size(); ++i)
            std::printf("%s\n  {\"address\": %s, \"old\": %s, \"new\": %s, \"change\": \"%s\"}",
                        i ? "," : "", jsonString(changes[i].address).c_str(),
                        hitsCell(changes[i].before, "null").c_str(),
                        hitsCell(changes[i].after, "null").c_str(), changes[i].word);
        std::printf("%s]\n", changes.empty() ? "" : "\n");
    } else {
        std::size_t width = 7;
        for (const Change& change : changes)
            width = std::max(width, change.address.size());
        std::printf("%-*s  %6s  %6s  %s\n", static_cast<int>(width), "Address", "Old", "New",
                    "Change");
        for (const Change& change : changes)
            std::printf("%-*s  %6s  %6s  %s\n", static_cast<int>(width), change.address.c_str(),
                        hitsCell(change.before, "-").c_str(), hitsCell(change.after, "-").c_str(),
                        change.word);
    }
    std::fflush(stdout);
}

// The old side of a comparison is searched without a word on the terminal.
class SilentView : public IRunView
{
public:
    String AddressText() const override { return String(); }
    String KeywordText() const override { return String(); }
    String DepthText() const override { return String(); }
    void SetAddressText(const String&) override {}
    void StatusChanged(const String&) override {}
    void RowFilled(Integer, const TPageEntry&) override {}
};

// Opens a crawl file or says why not. The caller returns rather than exits,
// so that the run's working folder is removed.
std::unique_ptr<CrawlFile> openCrawl(const String& path, CrawlFile::Mode mode)
{
    StoreError error;
    auto file = CrawlFile::Open(path, mode, &error);
    if (!file)
        std::fprintf(stderr, "%s: %s\n", kProgram, error.Message().c_str());
    return file;
}

// The password from the terminal with its echo off; from standard input
// when there is no terminal, for scripts.
String readPassword(const String& user)
{
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    const ScopeExit closeTty([tty] {
        if (tty >= 0)
            close(tty);
    });
    const int in = tty >= 0 ? tty : STDIN_FILENO;
    const int out = tty >= 0 ? tty : STDERR_FILENO;
    const String prompt = "Password for user '" + user + "': ";
    [[maybe_unused]] auto shown = write(out, prompt.data(), prompt.size());
    termios normal{};
    const bool quiet = isatty(in) != 0 && tcgetattr(in, &normal) == 0;
    if (quiet) {
        termios silent = normal;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(in, TCSAFLUSH, &silent);
    }
    String password;
    char c = 0;
    while (read(in, &c, 1) == 1 && c != '\n')
        password += c;
    if (quiet) {
        tcsetattr(in, TCSAFLUSH, &normal);
        shown = write(out, "\n", 1);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signal = 0;

// What a byte on the signal pipe asks for.
constexpr char kStopByte = 1;
constexpr char kResizeByte = 2;

void onSignal(int signal)
{
    g_signal = signal;
    const char byte = kStopByte;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
}

void onResize(int)
{
    const char byte = kResizeByte;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
}

// The width of the terminal on standard error, 0 when unknown.
int terminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 0;
}

int exitCodeOf(const TRunOutcome& outcome)
{
    switch (outcome.kind) {
    case TRunOutcome::Completed:
    case TRunOutcome::Cancelled:
        return kSuccess;
    case TRunOutcome::Refused:
        return kGeneric;
    case TRunOutcome::Unreachable:
        return kNetworkFailure;
    case TRunOutcome::ErrorStatus:
        return kServerError;
    }
    return kGeneric;
}

} // namespace

int main(int argc, char* argv[])
{
    // A closed pipe shows as EPIPE on the write, where it is told apart.
    std::signal(SIGPIPE, SIG_IGN);
    const CurlGlobal curl;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProgram));

    Options options = parseArguments(QCoreApplication::arguments());
    SetMessageSink([](const String& text, TMsgKind) {
        std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
        std::fflush(stderr);
    });
    if (options.askPassword)
        options.settings.password = readPassword(options.settings.user);
    const String& caFile = options.settings.caFile;
    if (!caFile.empty() && !QFileInfo(DecodeWebText(caFile)).isReadable())
        badArguments("cannot read the CA file '" + caFile + "'");
    // A pattern that cannot be used is a mistake in the arguments, known
    // before any transfer.
    const String scopeError = TCrawlScope(options.settings).Error();
    if (!scopeError.empty())
        badArguments(scopeError);
    const String keywordError = TSearchRun::CounterFor(options.settings).Error();
    if (!keywordError.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, keywordError.c_str());
        return kBadArguments;
    }

    const QString reportDir = options.reportDir.empty()
                                  ? QString()
                                  : QDir(DecodeWebText(options.reportDir)).absolutePath();
    if (!reportDir.isEmpty()) {
        const String problem = reportFolderProblem(reportDir);
        if (!problem.empty()) {
            std::fprintf(stderr, "%s: cannot write into %s: %s\n", kProgram,
                         ToUtf8(reportDir).c_str(), problem.c_str());
            return kFileError;
        }
    }
    // Files are named as the user gave them, before the working folder moves.
    for (String* path : {&options.saveFile, &options.fromFile, &options.compareFile}) {
        if (!path->empty())
            *path = ToUtf8(QFileInfo(DecodeWebText(*path)).absoluteFilePath());
    }
    // The run works in a folder of its own, removed on every exit.
    const QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "%s: cannot make a working folder\n", kProgram);
        return kFileError;
    }

    std::unique_ptr<CrawlFile> saved;
    if (!options.fromFile.empty() && !(saved = openCrawl(options.fromFile, CrawlFile::Mode::Read)))
        return kFileError;
    std::unique_ptr<CrawlFile> older;
    if (!options.compareFile.empty() &&
        !(older = openCrawl(options.compareFile, CrawlFile::Mode::Read)))
        return kFileError;
    std::unique_ptr<CrawlWriter> writer;
    TCrawlRecorder::Held held;
    if (!options.saveFile.empty() && options.saveKind != TCrawlRecorder::Kind::New) {
        // The crawl goes on where the file's left off: its address, depth and hosts.
        std::unique_ptr<CrawlFile> file = openCrawl(options.saveFile, CrawlFile::Mode::Continue);
        if (!file)
            return kFileError;
        const CrawlSettings crawl = file->Settings();
        file->ForEachPage([&held](const PageRecord& page) { held.emplace(page.Address, page); });
        if (file->Error()) {
            std::fprintf(stderr, "%s: %s\n", kProgram, file->Error().Message().c_str());
            return kFileError;
        }
        if (crawl.Address.empty()) {
            std::fprintf(stderr, "%s: %s: the crawl file holds no crawl to continue\n", kProgram,
                         options.saveFile.c_str());
            return kFileError;
        }
        options.settings.address = crawl.Address;
        options.settings.depthIndex = crawl.Depth - 1;
        options.settings.spanHosts = crawl.SpanHosts;
        writer = std::make_unique<CrawlWriter>(std::move(file));
    } else if (!options.saveFile.empty()) {
        std::unique_ptr<CrawlFile> file = openCrawl(options.saveFile, CrawlFile::Mode::Create);
        if (!file)
            return kFileError;
        writer = std::make_unique<CrawlWriter>(std::move(file));
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    TTerminalView::Progress progress = TTerminalView::Progress::None;
    if (!options.quiet && (terminal || options.progress))
        progress = terminal ? TTerminalView::Progress::Redraw : TTerminalView::Progress::Lines;

    int exitCode = kSuccess;
    {
        TTerminalView view(options.settings, stderr, progress);
        view.Colour =
            TTerminalView::ColourWanted(terminal, std::getenv("TERM"), std::getenv("NO_COLOR"));
        view.SetColumns(terminalColumns());
        TMemo textBuffer;
        TSearchRun run(view, textBuffer);
        view.PagesFound = [&run] { return static_cast<Integer>(run.Data().PageList.size()); };

        if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return kGeneric;
        QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] const auto got = read(g_signalPipe[0], &byte, 1);
            if (byte == kResizeByte)
                view.SetColumns(terminalColumns());
            else if (run.Running())
                run.Cancel();
        });
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, onSignal);
        std::signal(SIGWINCH, onResize);

        QObject::connect(&run, &TSearchRun::Finished, &app, &QCoreApplication::quit);
        // A file that cannot be written stops the run: what it holds stays.
        bool storeFailed = false;
        if (writer) {
            run.SaveTo(writer.get(), options.saveKind, std::move(held));
            QObject::connect(
                writer.get(), &CrawlWriter::Failed, &app, [&](const StoreError& error) {
                    std::fprintf(stderr, "%s: %s\n", kProgram, error.Message().c_str());
                    storeFailed = true;
                    if (run.Running())
                        run.Cancel();
                });
        }
        QTimer::singleShot(0, &app, [&] {
            if (saved)
                run.SearchSaved(options.settings, *saved);
            else
                run.Start(options.settings);
            // A start that failed at once has no end to announce.
            if (!run.Running())
                QCoreApplication::quit();
        });
        QCoreApplication::exec();
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH})
            std::signal(signal, SIG_DFL);
        view.FinishProgress();
        // The file's last commit and close go on beside the report.
        if (writer)
            writer->Close();
        if (saved && saved->Error()) {
            std::fprintf(stderr, "%s: %s\n", kProgram, saved->Error().Message().c_str());
            storeFailed = true;
        }

        const TRunOutcome& outcome = run.Outcome();
        const bool listed =
            outcome.kind == TRunOutcome::Completed || outcome.kind == TRunOutcome::Cancelled;
        if (outcome.kind == TRunOutcome::Unreachable)
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, MaskPasswords(outcome.Address).c_str(),
                         FailureReason(outcome.Failure).c_str());
        else if (outcome.kind == TRunOutcome::ErrorStatus)
            std::fprintf(stderr, "%s: %s: the server answered %d\n", kProgram,
                         MaskPasswords(outcome.Address).c_str(), outcome.Failure.status);

        const TRunAccount account = run.Account();

        if (listed && !reportDir.isEmpty()) {
            if (!QDir().mkpath(reportDir) || !QDir::setCurrent(reportDir)) {
                std::fprintf(stderr, "%s: cannot write into %s\n", kProgram,
                             ToUtf8(reportDir).c_str());
                exitCode = kFileError;
            } else {
                TReportResult report = run.WriteReport();
                // The pages show the logo; it is the same for every run.
                try {
                    if (report.Written)
                        TReportWriter::WriteLogo(reportDir);
                } catch (const EInOutError& e) {
                    report = {false, e.what()};
                }
                if (!report.Written) {
                    std::fprintf(stderr, "%s: %s\n", kProgram, report.Failure.c_str());
                    exitCode = kFileError;
                }
            }
            QDir::setCurrent(work.path());
        }
        if (listed) {
            const TRunData& data = run.Data();
            const std::span<const TPageEntry> rows = run.Rows();
            if (older) {
                SilentView silent;
                TMemo oldBuffer;
                TSearchRun oldRun(silent, oldBuffer);
                oldRun.SearchSaved(run.Settings(), *older);
                if (older->Error()) {
                    std::fprintf(stderr, "%s: %s\n", kProgram, older->Error().Message().c_str());
                    storeFailed = true;
                }
                printChanges(changesBetween(oldRun.Rows(), rows), options.format);
            } else {
                // Under -l the pages that could not be searched are not listed;
                // the summary counts them.
                printRows(rows, data.KeywordList, options, account);
                if (!options.quiet)
                    std::fprintf(stderr, "%s\n", account.SummaryLine().c_str());
            }
        }
        if (writer) {
            const StoreError error = writer->Finish();
            if (error && !storeFailed)
                std::fprintf(stderr, "%s: %s\n", kProgram, error.Message().c_str());
            storeFailed = storeFailed || error;
        }
        if (storeFailed && exitCode == kSuccess)
            exitCode = kFileError;

        if (exitCode == kSuccess)
            exitCode = exitCodeOf(outcome);
        if (exitCode == kSuccess && listed && options.failOnUnsearched && account.NotSearched > 0)
            exitCode = kUnsearched;
        if (const int output = outputStatus(); output != kSuccess)
            exitCode = output;
        if (g_signal != 0)
            exitCode = 128 + g_signal;
    }
    // Let transfers that were stopped free themselves before the end.
    WaitForStoppedTransfers(2000);
    return exitCode;
}
