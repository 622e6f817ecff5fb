// netquarry-cli: the same search as the desktop window, on a terminal.

#include "curlhandles.h"
#include "messagebox.h"
#include "reportwriter.h"
#include "searchrun.h"
#include "terminalview.h"
#include "workerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: netquarry-cli [--depth 1-5] [--case] [--report DIR] [--format table|csv|json]\n"
    "                     ADDRESS [KEYWORD ...]\n"
    "Crawls the site at ADDRESS, downloads each of its pages and counts the keywords\n"
    "in it; prints every page with its hits. Ctrl-C stops and prints what was found.\n";

struct Options
{
    TTerminalView::Inputs inputs;
    String reportDir;
    String format = "table";
};

// 0 on success, else the exit code for bad arguments.
int parseArguments(const QStringList& args, Options* options)
{
    std::vector<String> positional;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        const auto value = [&]() -> QString { return i + 1 < args.size() ? args[++i] : QString(); };
        if (arg == QLatin1String("--depth")) {
            bool ok = false;
            const int depth = value().toInt(&ok);
            if (!ok || depth < 1 || depth > 5)
                return 2;
            options->inputs.depthIndex = depth - 1;
        } else if (arg == QLatin1String("--case")) {
            options->inputs.caseSensitive = true;
        } else if (arg == QLatin1String("--report")) {
            options->reportDir = value().toStdString();
            if (options->reportDir.empty())
                return 2;
        } else if (arg == QLatin1String("--format")) {
            options->format = value().toStdString();
            if (options->format != "table" && options->format != "csv" && options->format != "json")
                return 2;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg.startsWith(QLatin1String("--"))) {
            return 2;
        } else {
            const QByteArray bytes = arg.toUtf8();
            positional.emplace_back(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
    }
    if (positional.empty())
        return 2;
    options->inputs.address = positional.front();
    for (std::size_t k = 1; k < positional.size(); ++k)
        options->inputs.keywords += (k > 1 ? " " : "") + positional[k];
    return 0;
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

void printRows(const std::vector<std::pair<String, String>>& rows, const String& format)
{
    if (format == "csv") {
        std::printf("address,hits\r\n");
        for (const auto& [name, hits] : rows)
            std::printf("%s,%s\r\n", csvField(name).c_str(), csvField(hits).c_str());
    } else if (format == "json") {
        std::printf("[");
        for (std::size_t i = 0; i < rows.size(); ++i)
            std::printf("%s\n  {\"address\": %s, \"hits\": %s}", i ? "," : "",
                        jsonString(rows[i].first).c_str(), rows[i].second.c_str());
        std::printf("%s]\n", rows.empty() ? "" : "\n");
    } else {
        std::size_t width = 7;
        for (const auto& row : rows)
            width = std::max(width, row.first.size());
        std::printf("%-*s  %s\n", static_cast<int>(width), "Address", "Hits");
        for (const auto& [name, hits] : rows)
            std::printf("%-*s  %s\n", static_cast<int>(width), name.c_str(), hits.c_str());
    }
    std::fflush(stdout);
}

int g_signalPipe[2] = {-1, -1};

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    const CurlGlobal curl;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netquarry-cli"));

    Options options;
    if (parseArguments(QCoreApplication::arguments(), &options) != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    SetMessageSink([](const String& text, TMsgKind) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    });

    // The run keeps its page cache in the working folder; give it one.
    const QString reportDir = options.reportDir.empty()
                                  ? QString()
                                  : QDir(QString::fromStdString(options.reportDir)).absolutePath();
    const QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fputs("netquarry-cli: cannot make a working folder\n", stderr);
        return 1;
    }

    int exitCode = 0;
    {
        TTerminalView view(options.inputs, stderr, isatty(STDERR_FILENO) != 0);
        TSearchRun run(view);
        run.SetNextPageDelay(0);
        view.PageTotal = [&run] { return run.Data.PageCount; };

        bool interrupted = false;
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return 1;
        QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] const auto got = read(g_signalPipe[0], &byte, 1);
            if (!interrupted && run.Running()) {
                interrupted = true;
                run.PassOverBtn3Click();
            }
        });
        std::signal(SIGINT, onInterrupt);

        bool refused = false;
        QTimer finished;
        finished.setInterval(20);
        QObject::connect(&finished, &QTimer::timeout, &app, [&] {
            if (!run.Running())
                app.quit();
        });
        QTimer::singleShot(0, &app, [&] {
            run.PassOverBtn1Click();
            refused = !run.Running();
            finished.start();
        });
        QCoreApplication::exec();
        std::signal(SIGINT, SIG_DFL);
        view.FinishProgress();

        if (!reportDir.isEmpty() && !refused) {
            if (!QDir().mkpath(reportDir) || !QDir::setCurrent(reportDir) ||
                !TReportWriter::WriteLogo(reportDir)) {
                std::fprintf(stderr, "Cannot create file %s/qlogo.gif\n",
                             reportDir.toLocal8Bit().constData());
                exitCode = 1;
            } else {
                run.PassOverBtn2Click();
            }
            QDir::setCurrent(work.path());
        }
        if (!refused)
            printRows(view.Rows(), options.format);

        if (refused)
            exitCode = 1;
        else if (interrupted)
            exitCode = 130;
        else if (exitCode == 0 && view.Status().size() >= 6 &&
                 view.Status().compare(view.Status().size() - 6, 6, "Ready.") != 0)
            exitCode = 1;
    }
    // Let transfers that were stopped free themselves before the end.
    for (int i = 0; i < 200 && TWorkerThread::LiveWorkers() > 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return exitCode;
}
