#include "eventpump.h"
#include "loopbackserver.h"
#include "modernsite.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using nqtest::LoopbackServer;
using nqtest::Reply;

namespace {

using Rows = std::vector<std::pair<std::string, int>>;

struct Outcome
{
    int exitCode = -1;
    std::string out, err;
};

Outcome runCli(const QStringList& args, const std::function<void(QProcess&)>& during = {},
               const QString& workDir = {})
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(NQ_CLI), args);
    const bool started = process.waitForStarted(30000);
    if (started && during)
        during(process);
    if (!started || !process.waitForFinished(30000)) {
        ADD_FAILURE() << "did not run to its end in 30 s: " << args.join(' ').toStdString();
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

int number(const std::string& text)
{
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok);
    return ok ? value : -1;
}

// Cells are apart by two blanks or more; the count columns are
// right-aligned (each ends at the same place on every line, header
// included), the status comes last. Rows as (address, total); -1 for a page
// without a count; statuses, when asked for, in order.
Rows parseTable(const std::string& text, const std::vector<std::string>& header,
                std::vector<std::string>* statuses = nullptr)
{
    Rows rows;
    std::istringstream in(text);
    std::string line;
    std::vector<std::size_t> ends;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::vector<std::size_t> cellEnds;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t gap = line.find("  ", at);
            const std::size_t stop = gap == std::string::npos ? line.size() : gap;
            if (stop > at) {
                cells.push_back(line.substr(at, stop - at));
                cellEnds.push_back(stop);
            }
            at = line.find_first_not_of(' ', stop);
            if (at == std::string::npos)
                break;
        }
        // The address column is left-aligned, the status too.
        if (cellEnds.size() >= 2)
            cellEnds = std::vector<std::size_t>(cellEnds.begin() + 1, cellEnds.end() - 1);
        if (ends.empty()) {
            EXPECT_EQ(cells, header) << line;
            ends = cellEnds;
            continue;
        }
        EXPECT_EQ(cellEnds, ends) << line;
        if (cells.size() >= 3) {
            rows.emplace_back(cells[0], number(cells[1]));
            if (statuses)
                statuses->push_back(cells.back());
        }
    }
    EXPECT_FALSE(ends.empty()) << "no header line";
    return rows;
}

// RFC 4180: a quoted field may hold commas, quotes and line breaks; records end in CR LF.
std::vector<std::vector<std::string>> readCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            field += text[i++];
        } else if (c == '"' && (quoted || field.empty())) {
            quoted = !quoted;
        } else if (quoted) {
            field += c;
        } else if (c == ',') {
            record.push_back(std::exchange(field, {}));
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(std::exchange(field, {}));
            records.push_back(std::exchange(record, {}));
            ++i;
        } else {
            EXPECT_TRUE(c != '"' && c != '\r' && c != '\n') << "stray character at " << i;
            field += c;
        }
    }
    EXPECT_TRUE(!quoted && field.empty() && record.empty()) << "last record is unfinished";
    return records;
}

Rows parseCsv(const std::string& text)
{
    auto records = readCsv(text);
    if (records.empty())
        records.emplace_back();
    EXPECT_EQ(std::vector<std::string>(records[0].begin(),
                                       records[0].begin() +
                                           std::min<std::ptrdiff_t>(3, std::ssize(records[0]))),
              (std::vector<std::string>{"address", "status", "total"}))
        << text;
    Rows rows;
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].size(), records[0].size()) << "record " << i;
        rows.emplace_back(records[i].front(), number(records[i].at(2)));
    }
    return rows;
}

// --format=json: {"pages": [...], "summary": {...}}; json-rows: the array alone.
Rows parseJson(const std::string& text, QJsonObject* summary = nullptr)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(doc.isObject(), summary != nullptr) << text;
    if (summary)
        *summary = doc.object().value("summary").toObject();
    const QJsonArray pages = summary ? doc.object().value("pages").toArray() : doc.array();
    Rows rows;
    for (const QJsonValue& value : pages) {
        const QJsonObject row = value.toObject();
        EXPECT_EQ(row.size(), 4);
        EXPECT_TRUE(row.value("hits").isDouble() || row.value("hits").isNull()) << text;
        EXPECT_TRUE(row.value("address").isString() && row.value("status").isString() &&
                    row.value("keywords").isObject())
            << text;
        rows.emplace_back(row.value("address").toString().toStdString(),
                          row.value("hits").toInt(-1));
    }
    return rows;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// At --depth 1 only the start page is crawled; the run then fetches each
// page itself. "aa" counts twice in "aaaa": matches do not overlap.
class Cli : public ::testing::Test
{
protected:
    Cli()
    {
        server.serve("/index.htm", Reply::html("<html><body><a href=\"a.htm\">A</a> "
                                               "<a href=\"b.htm\">B</a> <a href=\"a,b.htm\">AB</a>"
                                               " <img src=\"logo.gif\"></body></html>"));
        server.serve("/a.htm", Reply::html("aaaa quarry QUARRY"));
        server.serve("/b.htm", Reply::html("nothing"));
        server.serve("/a,b.htm", Reply::html("Quarry"));
    }

    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }
    QStringList search(QStringList options) const
    {
        return options + QStringList{"--depth", "1", url("/index.htm"), "quarry", "aa"};
    }
    // The start page is the first row; it holds no keyword.
    Rows rows(int a, int b, int ab) const
    {
        return {{server.url("/index.htm"), a < 0 ? -1 : 0},
                {server.url("/a.htm"), a},
                {server.url("/b.htm"), b},
                {server.url("/a,b.htm"), ab}};
    }

    LoopbackServer server;
};

} // namespace

TEST_F(Cli, EveryFormatListsTheSamePagesAndHits)
{
    const Outcome table = runCli(search({}));
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(parseTable(table.out, {"Address", "Hits", "quarry", "aa", "Status"}), rows(4, 0, 1));
    // The agent names the product, so that site owners can address it.
    EXPECT_EQ(server.requests().front().header("User-Agent"),
              "Netquarry/" NQ_VERSION " (+https://netquarry.example.org/)");

    // Each keyword's count beside the total.
    const Outcome csv = runCli(search({"-f", "csv"}));
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(parseCsv(csv.out), rows(4, 0, 1)) << csv.out;
    const auto records = readCsv(csv.out);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"address", "status", "total", "quarry", "aa"}));
    EXPECT_EQ(records[2], (std::vector<std::string>{server.url("/a.htm"), "ok", "4", "2", "2"}));

    const Outcome json = runCli(search({"--format=json"}));
    EXPECT_EQ(json.exitCode, 0) << json.err;
    QJsonObject summary;
    EXPECT_EQ(parseJson(json.out, &summary), rows(4, 0, 1)) << json.out;
    EXPECT_NE(json.out.find("\"keywords\": {\"quarry\": 1, \"aa\": 0}"), std::string::npos)
        << json.out;
    EXPECT_EQ(summary.value("pages").toInt(), 4) << json.out;
    EXPECT_EQ(summary.value("searched").toInt(), 4) << json.out;
    EXPECT_EQ(summary.value("with_hits").toInt(), 2) << json.out;
    EXPECT_EQ(summary.value("not_searched").toInt(), 0) << json.out;

    // The array of old, for scripts written against it.
    const Outcome jsonRows = runCli(search({"--format=json-rows"}));
    EXPECT_EQ(jsonRows.exitCode, 0) << jsonRows.err;
    EXPECT_EQ(parseJson(jsonRows.out), rows(4, 0, 1)) << jsonRows.out;
}

TEST_F(Cli, CaseOptionCountsOnlyExactCase)
{
    const Outcome r = runCli(search({"--case", "--format", "csv"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseCsv(r.out), rows(3, 0, 0));
}

TEST_F(Cli, WithoutKeywordsThePagesAreListedWithoutHits)
{
    const Outcome r = runCli({"--depth", "1", "--format", "csv", url("/index.htm")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "4 pages: 0 searched (0 with hits), 4 not searched: 4 not searched\n");
    // Nothing was searched for, so no page has a count.
    EXPECT_EQ(parseCsv(r.out), rows(-1, -1, -1));
    EXPECT_NE(r.out.find(",not searched,\r\n"), std::string::npos) << r.out;
}

TEST_F(Cli, OffATerminalOnlyTheSummaryGoesToStderr)
{
    const Outcome r = runCli(search({"--format", "json"}));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "4 pages: 4 searched (2 with hits)\n");
    EXPECT_EQ(runCli(search({"-q"})).err, "");

    // A failed page and a page on another host are accounted for; exit 5 when asked.
    server.serve("/index.htm", Reply::html("<a href=\"a.htm\">A</a> <a href=\"gone.htm\">G</a> "
                                           "<a href=\"http://localhost:" +
                                           std::to_string(server.port()) + "/x.htm\">X</a>"));
    for (const bool fail : {false, true}) {
        const Outcome partly =
            runCli(search(fail ? QStringList{"--fail-on-unsearched"} : QStringList{}));
        EXPECT_EQ(partly.exitCode, fail ? 5 : 0) << partly.err;
        EXPECT_EQ(partly.err,
                  "4 pages: 2 searched (1 with hits), 2 not searched: 1 404, 1 other host\n");
        std::vector<std::string> statuses;
        EXPECT_EQ(parseTable(partly.out, {"Address", "Hits", "quarry", "aa", "Status"}, &statuses),
                  (Rows{{server.url("/index.htm"), 0},
                        {server.url("/a.htm"), 4},
                        {server.url("/gone.htm"), -1}}));
        EXPECT_EQ(statuses, (std::vector<std::string>{"ok", "ok", "404"}));
    }
}

TEST_F(Cli, ReportIsWrittenIntoAFolderItCreates)
{
    const QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    // Relative to where the command is started, not to its own working folder.
    const Outcome r = runCli(search({"--report", "out/report"}), {}, base.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseTable(r.out, {"Address", "Hits", "quarry", "aa", "Status"}), rows(4, 0, 1));

    const QDir dir(base.filePath("out/report"));
    for (const char* name : {"results.htm", "pagelist.htm", "links.htm", "qlogo.gif"})
        EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name;
    EXPECT_TRUE(readAll(dir.filePath("qlogo.gif")).startsWith("GIF8"));
    EXPECT_TRUE(readAll(dir.filePath("pagelist.htm")).contains(url("/b.htm").toUtf8()));
    EXPECT_TRUE(readAll(dir.filePath("links.htm")).contains(url("/logo.gif").toUtf8()));
}

TEST_F(Cli, InterruptCancelsTheRunAndPrintsThePagesFoundSoFar)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    // slow.htm is asked for only once a.htm has been received and counted.
    server.serve("/index.htm", Reply::html("<a href=\"a.htm\">A</a>"));
    server.serve("/a.htm", Reply::html("quarry QUARRY <a href=\"slow.htm\">S</a>"));
    server.serveRaw("/slow.htm", head, head.size());
    const auto slowAsked = [this] {
        for (const auto& request : server.requests()) {
            if (request.target == "/slow.htm")
                return true;
        }
        return false;
    };
    bool interrupted = false;
    const Outcome r = runCli(
        {"--depth", "3", "--format", "csv", url("/index.htm"), "quarry"}, [&](QProcess& process) {
            if (nqtest::PumpUntil(slowAsked, std::chrono::seconds(20)))
                interrupted = ::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0;
        });
    ASSERT_TRUE(interrupted) << "slow.htm was never requested";
    EXPECT_EQ(r.exitCode, 130) << r.err;
    // What the crawl counted keeps its count; never received: no count at all, not 0.
    const auto records = readCsv(r.out);
    EXPECT_EQ(records, (std::vector<std::vector<std::string>>{
                           {"address", "status", "total", "quarry"},
                           {server.url("/index.htm"), "ok", "0", "0"},
                           {server.url("/a.htm"), "ok", "2", "2"},
                           {server.url("/slow.htm"), "not searched", "", ""}}));
    EXPECT_NE(r.err.find("3 pages: 2 searched (1 with hits), 1 not searched: 1 not searched\n"),
              std::string::npos)
        << r.err;
}

// A site for the ways of searching: markup splits a phrase, attributes and
// comments hold words no reader sees, and one page cannot be fetched.
class CliSearch : public ::testing::Test
{
protected:
    CliSearch()
    {
        server.serve("/index.htm", Reply::html("<a href=\"s1.htm\">1</a> <a href=\"s2.htm\">2</a>"
                                               " <a href=\"gone.htm\">3</a>"));
        server.serve("/s1.htm", Reply::html("<title>Stone</title><p>Granite <b>quarry</b> at "
                                            "the art centre</p><img alt=\"marble quarry\">"));
        server.serve("/s2.htm", Reply::html("granite quarry, starting party; <!-- marble -->"));
        server.serveRaw("/gone.htm", "");
        server.serve("/runaway.htm",
                     Reply::html("<a href=\"s2.htm\">2</a> " + std::string(40, 'a') + "!"));
    }
    QStringList search(QStringList args) const
    {
        return QStringList{"--depth", "1", "-f", "csv", url("/index.htm")} + args;
    }
    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }

    LoopbackServer server;
};

TEST_F(CliSearch, EachSearchOptionCountsItsWay)
{
    const std::string start = server.url("/index.htm"), s1 = server.url("/s1.htm"),
                      s2 = server.url("/s2.htm"), gone = server.url("/gone.htm");
    const struct
    {
        QStringList args;
        Rows rows;
    } cases[] = {
        {{"\"granite quarry\""}, {{start, 0}, {s1, 0}, {s2, 1}, {gone, -1}}},
        {{"--text", "\"granite quarry\""}, {{start, 0}, {s1, 1}, {s2, 1}, {gone, -1}}},
        {{"-e", "granite quarry", "--keyword=marble"}, {{start, 0}, {s1, 1}, {s2, 2}, {gone, -1}}},
        {{"art"}, {{start, 0}, {s1, 1}, {s2, 2}, {gone, -1}}},
        {{"-w", "art"}, {{start, 0}, {s1, 1}, {s2, 0}, {gone, -1}}},
        {{"-E", "gr[a-z]+ite", "q.*y"},
         {{start, 0}, {s1, 2}, {s2, 2}, {gone, -1}}}, // . stops at no tag
        {{"--text", "granite", "marble"}, {{start, 0}, {s1, 1}, {s2, 1}, {gone, -1}}},
        {{"--text", "--all", "granite", "marble"}, {{start, 0}, {s1, 0}, {s2, 0}, {gone, -1}}},
        {{"--all", "granite", "marble"}, {{start, 0}, {s1, 2}, {s2, 2}, {gone, -1}}},
        {{"-l", "-w", "art"}, {{s1, 1}}},
        {{"-L", "-w", "art"}, {{start, 0}, {s2, 0}, {gone, -1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = runCli(search(c.args));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(parseCsv(r.out), c.rows) << r.out;
        // -l leaves out the page that could not be searched; the summary counts it.
        if (c.args.front() == "-l") {
            EXPECT_NE(r.err.find("1 not searched"), std::string::npos) << r.err;
        }
    }
    const std::size_t requests = server.requestCount();
    const Outcome bad = runCli(search({"-E", "gran(ite"}));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(
        bad.err,
        "netquarry-cli: invalid pattern \"gran(ite\": missing closing parenthesis at offset 8\n");
    EXPECT_EQ(server.requestCount(), requests) << "the bad pattern fetched nothing";

    // A pattern that backtracks without end gives up on its page; the run goes on.
    const Outcome runaway =
        runCli({"--depth", "1", "-f", "csv", url("/runaway.htm"), "-E", "(a+)+$"});
    EXPECT_EQ(runaway.exitCode, 0) << runaway.err;
    const auto records = readCsv(runaway.out);
    ASSERT_EQ(records.size(), 3U) << runaway.out;
    EXPECT_EQ(records[1],
              (std::vector<std::string>{server.url("/runaway.htm"), "pattern-limit", "", ""}));
    EXPECT_EQ(records[2], (std::vector<std::string>{s2, "ok", "0", "0"}));
}

TEST_F(CliSearch, SnippetsShowWhereTheHitsAre)
{
    const QStringList args = {"--text", "--snippets=1", "granite", "party"};
    const Outcome json = runCli(search(QStringList{"-f", "json"} + args));
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"snippets\": {\"granite\": [\"granite quarry, starting party;\"], "
                            "\"party\": [\"granite quarry, starting party;\"]}"),
              std::string::npos)
        << json.out;
    const auto records = readCsv(runCli(search(args)).out);
    ASSERT_EQ(records.size(), 5U); // the start page first
    EXPECT_EQ(records[0].back(), "snippets");
    EXPECT_EQ(records[2].back(), "granite: Stone Granite quarry at the art centre");
    const Outcome table =
        runCli(search({"-f", "table", "--snippets", "--text", "granite", "party"}));
    EXPECT_NE(table.out.find("\n    granite: Stone Granite quarry at the art centre\n"),
              std::string::npos)
        << table.out;
}

TEST(CliArguments, BadArgumentsSayWhatIsWrongAndExitTwo)
{
    const QString address = QStringLiteral("http://127.0.0.1:9/index.htm");
    const struct
    {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"--depth", "0", address}, "invalid depth '0'"},
        {{"--depth=6", address}, "invalid depth '6'"},
        {{"-d", "x", address}, "invalid depth 'x'"},
        {{"--bogus", address}, "unrecognized option '--bogus'"},
        {{"-z", address}, "invalid option -- 'z'"},
        {{"--format", "xml", address}, "invalid format 'xml'"},
        {{"--timeout", "0", address}, "invalid timeout '0'"},
        {{"--parallel=0", address}, "invalid parallel '0'"},
        {{"--parallel", "33", address}, "invalid parallel '33'"},
        {{"--case=yes", address}, "'--case' doesn't allow an argument"},
        {{}, "missing ADDRESS"},
        {{"--case", "--depth"}, "'--depth' requires an argument"},
        {{"--snippets=0", address}, "invalid snippet count '0'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.rfind("netquarry-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\nTry 'netquarry-cli --help' for more information.\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliArguments, VersionAndHelpExitZero)
{
    for (const char* option : {"-V", "--version"}) {
        const Outcome r = runCli({option});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "netquarry-cli " NQ_VERSION "\n");
    }
    const Outcome help = runCli({"-h"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: netquarry-cli [OPTION]... ADDRESS", 0), 0u) << help.out;
}

TEST(CliArguments, FailedStartsSayWhyAndExitAsWgetDoes)
{
    LoopbackServer server;
    Reply gone = Reply::html("no such page");
    gone.status = 404;
    gone.reason = "Not Found";
    server.serve("/gone.htm", gone);
    const std::string refused = nqtest::RefusedAddress();
    const struct
    {
        std::string address;
        int exitCode;
        std::string says;
    } cases[] = {
        {"http://", 1, "netquarry-cli: Invalid Url : http://\n"},
        {"htp://host/", 1, "netquarry-cli: unsupported scheme \"htp\" in htp://host/\n"},
        {refused, 4, "netquarry-cli: " + refused + ": Connection refused\n"},
        {server.url("/gone.htm"), 8,
         "netquarry-cli: " + server.url("/gone.htm") + ": the server answered 404\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        // "--" lets an operand start with "-".
        const Outcome r = runCli({"--timeout=5", "--", QString::fromStdString(c.address), "-x"});
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Cli, AReportFolderThatCannotBeWrittenIsRefusedBeforeTheCrawl)
{
    const QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    QFile blocker(base.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const Outcome r = runCli(search({"-o", base.filePath("file/report")}));
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.err, "netquarry-cli: cannot write into " +
                         base.filePath("file/report").toStdString() + ": Not a directory\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(server.requestCount(), 0u) << "nothing is fetched";
}

TEST(CliSites, SiteServedAsTodaysServersServeIt)
{
    LoopbackServer site;
    nqtest::ServeModernSite(site);
    const Outcome r = runCli(
        {"-d", "3", "-f", "csv", QString::fromStdString(nqtest::ModernSiteStart(site)), "quarry"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Rows expected;
    for (const auto& [page, hits] : nqtest::ModernSitePages(site))
        expected.emplace_back(page, hits);
    EXPECT_EQ(parseCsv(r.out), expected) << r.out;
}

namespace {

// A free port on 127.0.0.1 for a server that picks none itself.
std::uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool openssl(const QString& folder, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("openssl"), args);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

// http redirects to https on another port, whose certificate a throw-away CA
// signed: trusted with --cacert, refused without.
TEST(CliSites, RedirectToHttpsTrustsOnlyTheGivenAuthority)
{
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ec = QStringLiteral("ec_paramgen_curve:prime256v1");
    QFile ext(dir.filePath("ext.cnf"));
    ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=DNS:localhost\n");
    ext.close();
    if (!openssl(dir.path(),
                 {"req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout", "ca.key",
                  "-out", "ca.pem", "-days", "1", "-subj", "/CN=Throwaway CA"}))
        GTEST_SKIP() << "no openssl to make certificates with";
    ASSERT_TRUE(openssl(dir.path(), {"req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout",
                                     "site.key", "-out", "site.csr", "-subj", "/CN=localhost"}));
    ASSERT_TRUE(openssl(dir.path(), {"x509", "-req", "-in", "site.csr", "-CA", "ca.pem", "-CAkey",
                                     "ca.key", "-CAcreateserial", "-out", "site.pem", "-days", "1",
                                     "-extfile", "ext.cnf"}));
    for (const auto& [name, body] :
         {std::pair<const char*, const char*>{"index.htm", "granite <a href=\"b.htm\">b</a>"},
          {"b.htm", "granite granite <a href=\"index.htm\">home</a>"}}) {
        QFile page(dir.filePath(name));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write(body);
    }

    const std::uint16_t httpsPort = freePort();
    QProcess tls;
    tls.setWorkingDirectory(dir.path());
    tls.start(QStringLiteral("openssl"),
              {"s_server", "-accept", QStringLiteral("127.0.0.1:%1").arg(httpsPort), "-cert",
               "site.pem", "-key", "site.key", "-WWW", "-quiet"});
    ASSERT_TRUE(tls.waitForStarted(10000));
    const auto listening = [httpsPort] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(httpsPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return up;
    };
    ASSERT_TRUE(nqtest::PumpUntil(listening, std::chrono::seconds(10)));

    LoopbackServer server;
    const std::string site = "https://localhost:" + std::to_string(httpsPort);
    server.serve("/", Reply::redirect(301, site + "/index.htm"));
    const QStringList args = {
        "-d",     "2", "-f", "csv", "--timeout", "10", QString::fromStdString(server.url("/")),
        "granite"};

    const Outcome trusted = runCli(QStringList{"--cacert", dir.filePath("ca.pem")} + args);
    EXPECT_EQ(trusted.exitCode, 0) << trusted.err;
    EXPECT_EQ(parseCsv(trusted.out), (Rows{{site + "/index.htm", 1}, {site + "/b.htm", 2}}))
        << trusted.out;

    const Outcome untrusted = runCli(args);
    EXPECT_EQ(untrusted.exitCode, 4) << untrusted.err;
    EXPECT_NE(untrusted.err.find("TLS"), std::string::npos) << untrusted.err;
    tls.kill();
    tls.waitForFinished(5000);
}
