// netquarry-cli: the same search as the desktop window, on a terminal.

#include "curlhandles.h"
#include "internetaccess.h"
#include "ioerror.h"
#include "messagebox.h"
#include "reportwriter.h"
#include "searchrun.h"
#include "terminalview.h"
#include "textdecode.h"
#include "workerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kProgram = "netquarry-cli";

const char* const kUsage =
    "Usage: netquarry-cli [OPTION]... ADDRESS [KEYWORD]...\n"
    "Crawls the site at ADDRESS, counts the KEYWORDs in each of its pages and\n"
    "prints every page with its hits. Ctrl-C stops and prints what was found.\n"
    "\n"
    "  -d, --depth=N        link levels to follow, 1 (Lowest) to 5 (Highest); default 3\n"
    "  -c, --case           letter case must match\n"
    "  -o, --report=DIR     also write the HTML report into DIR\n"
    "  -f, --format=FORMAT  results as table (default), csv or json\n"
    "  -q, --quiet          print nothing but the results and errors\n"
    "      --progress       show progress also when standard error is no terminal\n"
    "      --timeout=SECS   limit of one transfer, in seconds (default 300)\n"
    "      --span-hosts     fetch pages of other hosts too (they are always listed)\n"
    "      --cacert=FILE    trust the certificate authorities in FILE for https\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 generic error, 2 bad arguments, 3 file error,\n"
    "4 the start address could not be reached, 8 it answered with an error\n"
    "status, 130 interrupted.\n";

// Exit codes in the manner of wget's.
enum ExitCode
{
    kSuccess = 0,
    kGeneric = 1,
    kBadArguments = 2,
    kFileError = 3,
    kNetworkFailure = 4,
    kServerError = 8,
};

struct Options
{
    TTerminalView::Inputs inputs;
    String reportDir;
    String format = "table";
    bool quiet = false;
    bool progress = false;
    bool spanHosts = false;
    Integer timeout = 300;
    String caFile;
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

// Takes one option, by its long name, with its value when it has one.
void applyOption(const String& name, const std::optional<String>& value, Options* options)
{
    const auto need = [&]() -> const String& {
        if (!value)
            badArguments("option '--" + name + "' requires an argument");
        return *value;
    };
    const auto flag = [&] {
        if (value)
            badArguments("option '--" + name + "' doesn't allow an argument");
    };
    if (name == "depth") {
        const auto depth = wholeNumber(need());
        if (!depth || *depth < 1 || *depth > 5)
            badArguments("invalid depth '" + *value + "': give a number from 1 to 5");
        options->inputs.depthIndex = *depth - 1;
    } else if (name == "case") {
        flag();
        options->inputs.caseSensitive = true;
    } else if (name == "report") {
        options->reportDir = need();
        if (options->reportDir.empty())
            badArguments("option '--report' needs a folder");
    } else if (name == "format") {
        options->format = need();
        if (options->format != "table" && options->format != "csv" && options->format != "json")
            badArguments("invalid format '" + options->format + "': give table, csv or json");
    } else if (name == "quiet") {
        flag();
        options->quiet = true;
    } else if (name == "progress") {
        flag();
        options->progress = true;
    } else if (name == "timeout") {
        const auto seconds = wholeNumber(need());
        if (!seconds || *seconds < 1)
            badArguments("invalid timeout '" + *value + "': give a number of seconds above 0");
        options->timeout = *seconds;
    } else if (name == "span-hosts") {
        flag();
        options->spanHosts = true;
    } else if (name == "cacert") {
        options->caFile = need();
    } else if (name == "help") {
        flag();
        std::fputs(kUsage, stdout);
        std::exit(kSuccess);
    } else if (name == "version") {
        flag();
        std::printf("%s %s\n", kProgram, NQ_VERSION);
        std::exit(kSuccess);
    } else {
        badArguments("unrecognized option '--" + name + "'");
    }
}

const std::map<char, const char*>& shortOptions()
{
    static const std::map<char, const char*> names = {
        {'d', "depth"}, {'c', "case"}, {'o', "report"},  {'f', "format"},
        {'q', "quiet"}, {'h', "help"}, {'V', "version"},
    };
    return names;
}

bool takesValue(const String& name)
{
    return name == "depth" || name == "report" || name == "format" || name == "timeout" ||
           name == "cacert";
}

// GNU style: --name VALUE, --name=VALUE, -x VALUE, -xVALUE, bundled flags,
// and "--" before operands that start with "-".
Options parseArguments(const QStringList& args)
{
    Options options;
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
            if (equals != String::npos)
                value = arg.substr(equals + 1);
            else if (takesValue(name))
                value = next();
            applyOption(name, value, &options);
        } else {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                const auto found = shortOptions().find(arg[k]);
                if (found == shortOptions().end())
                    badArguments(String("invalid option -- '") + arg[k] + "'");
                const String name = found->second;
                if (!takesValue(name)) {
                    applyOption(name, std::nullopt, &options);
                    continue;
                }
                std::optional<String> value =
                    k + 1 < arg.size() ? std::optional<String>(arg.substr(k + 1)) : next();
                if (!value)
                    badArguments(String("option requires an argument -- '") + arg[k] + "'");
                applyOption(name, value, &options);
                break;
            }
        }
    }
    if (operands.empty())
        badArguments("missing ADDRESS");
    options.inputs.address = operands.front();
    for (std::size_t k = 1; k < operands.size(); ++k)
        options.inputs.keywords += (k > 1 ? " " : "") + operands[k];
    return options;
}

String csvField(const String& text)
{
    if (text.find_first_of(",\"\r\n") == String::npos)
        return text;
    String out = "\"";
    for (char c : text)
        out += c == '"' ? String("\"\"") : String(1, c);
    return out + "\"";
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

bool counted(const TPageEntry& entry)
{
    return entry.State == TPageState::Searched;
}

String statusOf(const TPageEntry& entry)
{
    switch (entry.State) {
    case TPageState::Searched:
        return "ok";
    case TPageState::Failed:
        return entry.Failure;
    case TPageState::NotSearched:
        break;
    }
    return "not searched";
}

// The n-th keyword's count, or "" when the page has none.
String keywordCell(const TPageEntry& entry, std::size_t k)
{
    if (!counted(entry) || k >= entry.KeywordHits.size())
        return String();
    return std::to_string(entry.KeywordHits[k]);
}

// The keywords that get a column of their own: empty ones count nothing.
std::vector<std::size_t> keywordColumns(const std::vector<String>& keywords)
{
    std::vector<std::size_t> columns;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (!keywords[k].empty())
            columns.push_back(k);
    }
    return columns;
}

void printCsv(std::span<const TPageEntry> rows, const std::vector<String>& keywords)
{
    const auto columns = keywordColumns(keywords);
    std::printf("address,status,total");
    for (const std::size_t k : columns)
        std::printf(",%s", csvField(keywords[k]).c_str());
    std::printf("\r\n");
    for (const TPageEntry& entry : rows) {
        std::printf("%s,%s,%s", csvField(entry.Address).c_str(), csvField(statusOf(entry)).c_str(),
                    counted(entry) ? std::to_string(entry.Hits).c_str() : "");
        for (const std::size_t k : columns)
            std::printf(",%s", keywordCell(entry, k).c_str());
        std::printf("\r\n");
    }
}

void printJson(std::span<const TPageEntry> rows, const std::vector<String>& keywords)
{
    std::printf("[");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPageEntry& entry = rows[i];
        String counts;
        std::vector<String> seen;
        for (const std::size_t k : keywordColumns(keywords)) {
            // A keyword typed twice counts twice in the total, once here.
            if (std::find(seen.begin(), seen.end(), keywords[k]) != seen.end())
                continue;
            seen.push_back(keywords[k]);
            const String cell = keywordCell(entry, k);
            counts += String(counts.empty() ? "" : ", ") + jsonString(keywords[k]) + ": " +
                      (cell.empty() ? String("null") : cell);
        }
        std::printf("%s\n  {\"address\": %s, \"status\": %s, \"hits\": %s, \"keywords\": {%s}}",
                    i ? "," : "", jsonString(entry.Address).c_str(),
                    jsonString(statusOf(entry)).c_str(),
                    counted(entry) ? std::to_string(entry.Hits).c_str() : "null", counts.c_str());
    }
    std::printf("%s]\n", rows.empty() ? "" : "\n");
}

// The grid's two columns, and each keyword's count when there are several.
void printTable(std::span<const TPageEntry> rows, const std::vector<String>& keywords)
{
    const auto all = keywordColumns(keywords);
    const std::vector<std::size_t> columns = all.size() > 1 ? all : std::vector<std::size_t>{};
    std::size_t width = 7;
    for (const TPageEntry& row : rows)
        width = std::max(width, row.Name.size());
    std::printf("%-*s  %6s", static_cast<int>(width), "Address", "Hits");
    for (const std::size_t k : columns)
        std::printf("  %6s", keywords[k].c_str());
    std::printf("\n");
    for (const TPageEntry& entry : rows) {
        const bool notSearched = entry.State == TPageState::NotSearched;
        std::printf("%-*s  %6s", static_cast<int>(width), entry.Name.c_str(),
                    notSearched ? "-" : std::to_string(entry.Hits).c_str());
        for (const std::size_t k : columns) {
            const String cell = keywordCell(entry, k);
            std::printf("  %6s", cell.empty() ? "-" : cell.c_str());
        }
        std::printf("\n");
    }
}

void printRows(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
               const String& format)
{
    if (format == "csv")
        printCsv(rows, keywords);
    else if (format == "json")
        printJson(rows, keywords);
    else
        printTable(rows, keywords);
    std::fflush(stdout);
}

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signal = 0;

void onSignal(int signal)
{
    g_signal = signal;
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
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
    const CurlGlobal curl;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProgram));

    const Options options = parseArguments(QCoreApplication::arguments());
    SetMessageSink([](const String& text, TMsgKind) {
        std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
        std::fflush(stderr);
    });
    if (!options.caFile.empty()) {
        if (!QFileInfo(DecodeWebText(options.caFile)).isReadable())
            badArguments("cannot read the CA file '" + options.caFile + "'");
        InternetSetOptionA(NullHandle, INTERNET_OPTION_CA_FILE, options.caFile.c_str(),
                           static_cast<std::uint32_t>(options.caFile.size()));
    }

    const QString reportDir = options.reportDir.empty()
                                  ? QString()
                                  : QDir(DecodeWebText(options.reportDir)).absolutePath();
    // The run works in a folder of its own, removed on every exit.
    const QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "%s: cannot make a working folder\n", kProgram);
        return kFileError;
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    TTerminalView::Progress progress = TTerminalView::Progress::None;
    if (!options.quiet && (terminal || options.progress))
        progress = terminal ? TTerminalView::Progress::Redraw : TTerminalView::Progress::Lines;

    int exitCode = kSuccess;
    {
        TTerminalView view(options.inputs, stderr, progress);
        TMemo textBuffer;
        TSearchRun run(view, textBuffer);
        run.FollowOtherHosts = options.spanHosts;
        run.TimeOut = options.timeout;
        view.PagesFound = [&run] { return static_cast<Integer>(run.Data.PageList.size()); };

        if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return kGeneric;
        QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] const auto got = read(g_signalPipe[0], &byte, 1);
            if (run.Running())
                run.Cancel();
        });
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, onSignal);

        QTimer finished;
        finished.setInterval(20);
        QObject::connect(&finished, &QTimer::timeout, &app, [&] {
            if (!run.Running())
                app.quit();
        });
        QTimer::singleShot(0, &app, [&] {
            run.Start();
            finished.start();
        });
        QCoreApplication::exec();
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal, SIG_DFL);
        view.FinishProgress();

        const TRunOutcome& outcome = run.Outcome();
        const bool listed =
            outcome.kind == TRunOutcome::Completed || outcome.kind == TRunOutcome::Cancelled;
        if (outcome.kind == TRunOutcome::Unreachable)
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, outcome.Address.c_str(),
                         outcome.Reason.c_str());
        else if (outcome.kind == TRunOutcome::ErrorStatus)
            std::fprintf(stderr, "%s: %s: the server answered %d\n", kProgram,
                         outcome.Address.c_str(), outcome.Status);
        else if (listed && !options.quiet && !view.Status().empty())
            std::fprintf(stderr, "%s\n", view.Status().substr(1).c_str());

        if (listed && !reportDir.isEmpty()) {
            if (!QDir().mkpath(reportDir) || !QDir::setCurrent(reportDir)) {
                std::fprintf(stderr, "%s: cannot write into %s\n", kProgram,
                             ToUtf8(reportDir).c_str());
                exitCode = kFileError;
            } else {
                // The report's own failures are shown by the message routine.
                bool written = true;
                const MessageSink previous =
                    SetMessageSink([&written](const String& text, TMsgKind) {
                        written = false;
                        std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
                    });
                run.WriteReport();
                SetMessageSink(previous);
                // The pages show the logo; it is the same for every run.
                try {
                    if (written)
                        TReportWriter::WriteLogo(reportDir);
                } catch (const EInOutError& e) {
                    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
                    written = false;
                }
                if (!written)
                    exitCode = kFileError;
            }
            QDir::setCurrent(work.path());
        }
        if (listed) {
            const auto pages = std::min(run.Data.PageList.size(), run.Data.PageTable.size());
            const std::span<const TPageEntry> rows(run.Data.PageTable.data(), pages);
            printRows(rows, run.Data.KeywordList, options.format);
        }

        if (exitCode == kSuccess)
            exitCode = exitCodeOf(outcome);
        if (g_signal != 0)
            exitCode = 128 + g_signal;
    }
    // Let transfers that were stopped free themselves before the end.
    TWorkerThread::WaitForAll(2000);
    return exitCode;
}
