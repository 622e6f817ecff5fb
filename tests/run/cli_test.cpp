#include "eventpump.h"
#include "loopbackserver.h"

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

// The hits column must start at the same place on every line, header included.
Rows parseTable(const std::string& text)
{
    Rows rows;
    std::istringstream in(text);
    std::string line;
    std::size_t column = std::string::npos;
    while (std::getline(in, line)) {
        const std::size_t at = line.find_last_of(' ') + 1;
        EXPECT_TRUE(at >= 3 && line.compare(at - 2, 2, "  ") == 0) << line;
        EXPECT_TRUE(column == std::string::npos || at == column) << line;
        const std::string address = line.substr(0, line.find_last_not_of(' ', at - 1) + 1);
        if (column == std::string::npos) {
            EXPECT_EQ(address + "  " + line.substr(at), "Address  Hits");
        } else {
            rows.emplace_back(address, number(line.substr(at)));
        }
        column = at;
    }
    EXPECT_NE(column, std::string::npos) << "no header line";
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
    EXPECT_EQ(records[0], (std::vector<std::string>{"address", "hits"})) << text;
    Rows rows;
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].size(), 2u) << "record " << i;
        rows.emplace_back(records[i].front(), number(records[i].back()));
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
        EXPECT_EQ(row.size(), 2);
        EXPECT_TRUE(row.value("address").isString() && row.value("hits").isDouble()) << text;
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
    EXPECT_EQ(parseTable(table.out), rows(4, 0, 1));

    const Outcome csv = runCli(search({"--format", "csv"}));
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(parseCsv(csv.out), rows(4, 0, 1)) << csv.out;

    const Outcome json = runCli(search({"--format", "json"}));
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(parseJson(json.out), rows(4, 0, 1)) << json.out;
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
    EXPECT_EQ(parseCsv(r.out), rows(0, 0, 0));
}

TEST_F(Cli, StatusTextsGoToStderrOneALine)
{
    const Outcome r = runCli(search({"--format", "json"}));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "Analyzing site...\n"
                     "Searching for: quarry aa\n"
                     "1 pages analyzed. Working...\n"
                     "2 pages analyzed. Working...\n"
                     "3 pages analyzed. Working...\n"
                     "3 pages analyzed. Ready.\n");
}

TEST_F(Cli, ReportIsWrittenIntoAFolderItCreates)
{
    const QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    // Relative to where the command is started, not to its own working folder.
    const Outcome r = runCli(search({"--report", "out/report"}), {}, base.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseTable(r.out), rows(4, 0, 1));

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
    EXPECT_EQ(parseCsv(r.out), (Rows{{server.url("/a.htm"), 0}, {server.url("/slow.htm"), 0}}));
}

TEST(CliArguments, BadArgumentsExitTwoWithTheUsage)
{
    const QString address = QStringLiteral("http://127.0.0.1:9/index.htm");
    const std::vector<QStringList> cases = {
        {"--depth", "0", address},  {"--depth", "6", address},    {"--depth", "x", address},
        {"--bogus", address},       {"--format", "xml", address}, {},
        {"--case", "--depth", "2"},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome r = runCli(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.rfind("usage: netquarry-cli", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliArguments, RefusedAddressExitsOneWithTheCrawlersMessage)
{
    const Outcome r = runCli({"http://", "quarry"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Invalid Url : http://"), std::string::npos) << r.err;
}
