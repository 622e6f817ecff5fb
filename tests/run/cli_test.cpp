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

// Columns are right-aligned: each ends at the same place on every line,
// header included. Rows as (address, total); "-" for a page not searched.
Rows parseTable(const std::string& text, const std::vector<std::string>& header)
{
    Rows rows;
    std::istringstream in(text);
    std::string line;
    std::vector<std::size_t> ends;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::vector<std::size_t> cellEnds;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            cells.push_back(word);
            cellEnds.push_back(line.find(word, cellEnds.empty() ? 0 : cellEnds.back()) +
                               word.size());
        }
        cellEnds.erase(cellEnds.begin()); // the address column is left-aligned
        if (ends.empty()) {
            EXPECT_EQ(cells, header) << line;
            ends = cellEnds;
            continue;
        }
        EXPECT_EQ(cellEnds, ends) << line;
        if (cells.size() >= 2)
            rows.emplace_back(cells[0], number(cells[1]));
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

Rows parseJson(const std::string& text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_TRUE(doc.isArray()) << text;
    Rows rows;
    for (const QJsonValue& value : doc.array()) {
        const QJsonObject row = value.toObject();
        EXPECT_EQ(row.size(), 4);
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
    Rows rows(int a, int b, int ab) const
    {
        return {{server.url("/a.htm"), a}, {server.url("/b.htm"), b}, {server.url("/a,b.htm"), ab}};
    }

    LoopbackServer server;
};

} // namespace

TEST_F(Cli, EveryFormatListsTheSamePagesAndHits)
{
    const Outcome table = runCli(search({}));
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(parseTable(table.out, {"Address", "Hits", "quarry", "aa"}), rows(4, 0, 1));

    // Each keyword's count beside the total.
    const Outcome csv = runCli(search({"-f", "csv"}));
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(parseCsv(csv.out), rows(4, 0, 1)) << csv.out;
    const auto records = readCsv(csv.out);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"address", "status", "total", "quarry", "aa"}));
    EXPECT_EQ(records[1], (std::vector<std::string>{server.url("/a.htm"), "ok", "4", "2", "2"}));

    const Outcome json = runCli(search({"--format=json"}));
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(parseJson(json.out), rows(4, 0, 1)) << json.out;
    EXPECT_NE(json.out.find("\"keywords\": {\"quarry\": 1, \"aa\": 0}"), std::string::npos)
        << json.out;
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
    // Nothing was searched for, so no page has a count.
    EXPECT_EQ(parseCsv(r.out), rows(-1, -1, -1));
    EXPECT_NE(r.out.find(",not searched,\r\n"), std::string::npos) << r.out;
}

TEST_F(Cli, OffATerminalOnlyTheFinalStatusGoesToStderr)
{
    const Outcome r = runCli(search({"--format", "json"}));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "3 pages analyzed. Ready.\n");
    EXPECT_EQ(runCli(search({"-q"})).err, "");
}

TEST_F(Cli, ReportIsWrittenIntoAFolderItCreates)
{
    const QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    // Relative to where the command is started, not to its own working folder.
    const Outcome r = runCli(search({"--report", "out/report"}), {}, base.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseTable(r.out, {"Address", "Hits", "quarry", "aa"}), rows(4, 0, 1));

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
    server.serve("/index.htm", Reply::html("<a href=\"a.htm\">A</a> <a href=\"slow.htm\">S</a>"));
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
        {"--depth", "2", "--format", "csv", url("/index.htm"), "quarry"}, [&](QProcess& process) {
            if (nqtest::PumpUntil(slowAsked, std::chrono::seconds(20)))
                interrupted = ::kill(static_cast<pid_t>(process.processId()), SIGINT) == 0;
        });
    ASSERT_TRUE(interrupted) << "slow.htm was never requested";
    EXPECT_EQ(r.exitCode, 130) << r.err;
    // Never searched: no count at all, not 0.
    const auto records = readCsv(r.out);
    EXPECT_EQ(records, (std::vector<std::vector<std::string>>{
                           {"address", "status", "total", "quarry"},
                           {server.url("/a.htm"), "not searched", "", ""},
                           {server.url("/slow.htm"), "not searched", "", ""}}));
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
        {{"--case=yes", address}, "'--case' doesn't allow an argument"},
        {{}, "missing ADDRESS"},
        {{"--case", "--depth"}, "'--depth' requires an argument"},
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

TEST_F(Cli, AReportThatCannotBeWrittenExitsThree)
{
    const QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    QFile blocker(base.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const Outcome r = runCli(search({"-o", base.filePath("file/report")}));
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(parseTable(r.out, {"Address", "Hits", "quarry", "aa"}), rows(4, 0, 1))
        << "the results are printed all the same";
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
    EXPECT_EQ(parseCsv(trusted.out), (Rows{{site + "/b.htm", 2}, {site + "/index.htm", 1}}))
        << trusted.out;

    const Outcome untrusted = runCli(args);
    EXPECT_EQ(untrusted.exitCode, 4) << untrusted.err;
    EXPECT_NE(untrusted.err.find("TLS"), std::string::npos) << untrusted.err;
    tls.kill();
    tls.waitForFinished(5000);
}

// A crawl kept with --save and searched again with --from gives what a live
// search of the same pages gives, in every format and search mode, and asks
// the server for nothing.
TEST_F(Cli, ASavedCrawlSearchedAgainListsWhatALiveSearchLists)
{
    server.serve("/b.htm", Reply::html("nothing <a href=\"c.htm\">deeper</a>"));
    server.serve("/c.htm", Reply::html("quarry at the third level"));
    const QTemporaryDir dir;
    const struct
    {
        QStringList options;
        QStringList keywords; // searched for again, beside the saved ones
    } modes[] = {
        {{"--depth", "1"}, {"aa"}},
        {{"--depth", "2", "-f", "csv"}, {"QUARRY", "nothing"}},
        {{"--depth=3", "--case", "-f", "json"}, {"Quarry"}},
    };
    int n = 0;
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.options.join(' ').toStdString());
        const QString file = dir.filePath(QString("crawl%1.nqcrawl").arg(++n));
        const QStringList keywords{"quarry", "aa"};
        const Outcome live = runCli(mode.options + QStringList{url("/index.htm")} + keywords);
        const Outcome saving =
            runCli(mode.options + QStringList{"--save=" + file, url("/index.htm")} + keywords);
        EXPECT_EQ(saving.exitCode, 0) << saving.err;
        EXPECT_NE(live.out.find("a.htm"), std::string::npos) << live.out;
        EXPECT_EQ(saving.out, live.out);
        const std::size_t asked = server.requestCount();
        const Outcome again = runCli(mode.options + QStringList{"--from", file} + keywords);
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(again.out, live.out);
        EXPECT_NE(again.err.find("pages analyzed. Ready."), std::string::npos) << again.err;
        EXPECT_EQ(server.requestCount(), asked) << "the saved crawl asked the server";
        // Other keywords need no new crawl.
        const Outcome otherLive =
            runCli(mode.options + QStringList{url("/index.htm")} + mode.keywords);
        const Outcome other = runCli(mode.options + QStringList{"--from=" + file} + mode.keywords);
        EXPECT_EQ(other.out, otherLive.out);
    }
}

// Files the crawl options cannot use are named, exit 3 and stay as they were.
TEST_F(Cli, CrawlFilesThatCannotBeUsedAreNamedAndLeftAlone)
{
    const QTemporaryDir dir;
    const QString saved = dir.filePath("saved.nqcrawl");
    ASSERT_EQ(runCli(search({"--save", saved})).exitCode, 0);
    QDir(dir.path()).mkdir("folder");
    QFile garbage(dir.filePath("garbage.nqcrawl"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a crawl at all, just words\n");
    garbage.close();
    const struct
    {
        QStringList args;
        const char* says;
    } cases[] = {
        {search({"--save", saved}), "the file exists"},
        {{"--from", dir.filePath("folder"), "quarry"}, "is a folder"},
        {{"--from", dir.filePath("missing.nqcrawl"), "quarry"}, "no such file"},
        {{"--from", dir.filePath("garbage.nqcrawl"), "quarry"}, "not a Netquarry crawl file"},
        {search({"--compare", dir.filePath("garbage.nqcrawl")}), "not a Netquarry crawl file"},
    };
    const QByteArray before = readAll(saved);
    const std::size_t asked = server.requestCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(readAll(saved), before);
    EXPECT_EQ(readAll(dir.filePath("garbage.nqcrawl")), "not a crawl at all, just words\n");
    EXPECT_EQ(server.requestCount(), asked) << "a refused file is refused before any transfer";
}

// --compare prints only the pages whose hits changed, with both counts and
// a word, from a saved crawl or a live one.
TEST_F(Cli, ComparePrintsOnlyThePagesWhoseHitsChanged)
{
    const QTemporaryDir dir;
    const QString old = dir.filePath("old.nqcrawl");
    ASSERT_EQ(runCli(search({"--save", old})).exitCode, 0);
    server.serve("/index.htm", Reply::html("<a href=\"a.htm\">A</a> <a href=\"b.htm\">B</a> "
                                           "<a href=\"d.htm\">D</a> <a href=\"e.htm\">E</a>"));
    server.serve("/a.htm", Reply::html("quarry"));             // 4 hits, now 1
    server.serve("/b.htm", Reply::html("quarry quarry aaaa")); // 0, now 4
    server.serve("/d.htm", Reply::html("quarry"));             // new, 1
    server.serve("/e.htm", Reply::html("nothing"));            // new without hits
    const QString now = dir.filePath("new.nqcrawl");
    const Outcome live = runCli(search({"--save", now, "--compare", old, "-f", "csv"}));
    EXPECT_EQ(live.exitCode, 0) << live.err;
    const std::string expected = "address,old,new,change\r\n" + server.url("/a.htm") +
                                 ",4,1,fewer\r\n" + server.url("/b.htm") + ",0,4,more\r\n" +
                                 server.url("/d.htm") + ",,1,new\r\n\"" + server.url("/a,b.htm") +
                                 "\",1,,gone\r\n";
    EXPECT_EQ(live.out, expected);
    const Outcome again = runCli({"--from", now, "--compare", old, "-f", "csv", "quarry", "aa"});
    EXPECT_EQ(again.out, expected);
    const Outcome json = runCli({"--from", now, "--compare", old, "-f", "json", "quarry", "aa"});
    EXPECT_NE(json.out.find("{\"address\": \"" + server.url("/d.htm") +
                            "\", \"old\": null, \"new\": 1, \"change\": \"new\"}"),
              std::string::npos)
        << json.out;
    const Outcome table = runCli({"--from", now, "--compare=" + old, "quarry", "aa"});
    EXPECT_NE(table.out.find("fewer"), std::string::npos) << table.out;
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 5) << table.out;
}
