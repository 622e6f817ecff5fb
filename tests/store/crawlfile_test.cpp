// The crawl file: what it keeps, the files it refuses, and what survives a kill.

#include "crawlfile.h"
#include "crawlwriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

PageRecord page(const String& address, const String& body)
{
    PageRecord record;
    record.Address = address;
    record.Level = 2;
    record.Status = 200;
    record.ContentType = "text/html";
    record.ETag = "\"e1\"";
    record.LastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
    record.FetchedAt = 1796000000;
    record.Body = body;
    record.HasBody = true;
    return record;
}

class CrawlFileTest : public ::testing::Test
{
protected:
    String path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }

    // A crawl file with the given pages, closed again.
    String saved(const char* name, int pages)
    {
        StoreError error;
        auto file = CrawlFile::Open(path(name), CrawlFile::Mode::Create, &error);
        EXPECT_TRUE(file) << error.Message();
        EXPECT_TRUE(file->Begin());
        for (int i = 0; i < pages; ++i)
            EXPECT_TRUE(file->PutPage(page("http://a/" + std::to_string(i), String(3000, 'x'))));
        EXPECT_TRUE(file->Commit());
        return path(name);
    }

    // Runs SQL on the file with SQLite itself, as another program would.
    static void rawSql(const String& file, const char* sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    QTemporaryDir m_dir;
};

TEST_F(CrawlFileTest, KeepsSettingsEventsAndPagesAsWritten)
{
    StoreError error;
    {
        auto file = CrawlFile::Open(path("c.nqcrawl"), CrawlFile::Mode::Create, &error);
        ASSERT_TRUE(file) << error.Message();
        ASSERT_TRUE(file->Begin());
        CrawlSettings settings;
        settings.Address = "http://a/";
        settings.Depth = 4;
        settings.Keywords = "one two";
        settings.CaseSensitive = true;
        settings.SavedAt = 1796000000;
        EXPECT_TRUE(file->PutSettings(settings));
        EXPECT_TRUE(file->AddFound({{FoundLink::Link, "http://a/x.htm", "htm", "a", "http://a/"},
                                    {FoundLink::Link, "mailto:x@a", "mail", "", "http://a/"}}));
        EXPECT_TRUE(file->AddFound({{FoundLink::StartMoved, "https://a/", "", "", ""}}));
        EXPECT_TRUE(
            file->AddFound({{FoundLink::Link, "https://a/y.htm", "htm", "a", "https://a/"}}));
        String binary("\x00\xff<p>caf\xc3\xa9</p>", 14);
        binary += String(100000, 'z');
        EXPECT_TRUE(file->PutPage(page("http://a/x.htm", binary)));
        EXPECT_TRUE(file->PutPage(page("http://a/empty.htm", "")));
        PageRecord failed;
        failed.Address = "http://a/x.htm";
        failed.Failure.kind = TransferError::Kind::Timeout;
        // A later failure keeps the body a crawl received.
        EXPECT_TRUE(file->PutPage(failed));
        PageRecord tooLarge = page("http://a/big.htm", String(CrawlFile::kMaxBody + 1, 'b'));
        EXPECT_TRUE(file->PutPage(tooLarge));
        ASSERT_TRUE(file->Commit());
    }
    auto file = CrawlFile::Open(path("c.nqcrawl"), CrawlFile::Mode::Read, &error);
    ASSERT_TRUE(file) << error.Message();
    const CrawlSettings settings = file->Settings();
    EXPECT_EQ(settings.Address, "http://a/");
    EXPECT_EQ(settings.Depth, 4);
    EXPECT_EQ(settings.Keywords, "one two");
    EXPECT_TRUE(settings.CaseSensitive);
    EXPECT_EQ(settings.SavedAt, 1796000000);

    std::vector<String> events;
    file->ForEachFound([&](const FoundLink& found) {
        events.push_back(std::to_string(found.kind) + " " + found.Address + " " + found.Type + " " +
                         found.From);
    });
    EXPECT_EQ(events,
              (std::vector<String>{"0 http://a/x.htm htm http://a/", "0 mailto:x@a mail http://a/",
                                   "1 https://a/  ", "0 https://a/y.htm htm https://a/"}));

    const auto kept = file->Page("http://a/x.htm");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->HasBody);
    EXPECT_EQ(kept->Body.size(), 100000 + 14u);
    EXPECT_EQ(kept->Body.substr(0, 14), String("\x00\xff<p>caf\xc3\xa9</p>", 14));
    EXPECT_EQ(kept->Failure.kind, TransferError::Kind::Timeout);
    const auto empty = file->Page("http://a/empty.htm");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->HasBody);
    EXPECT_EQ(empty->Body, "");
    EXPECT_EQ(empty->ETag, "\"e1\"");
    EXPECT_EQ(empty->LastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(empty->Level, 2);
    const auto big = file->Page("http://a/big.htm");
    ASSERT_TRUE(big);
    EXPECT_FALSE(big->HasBody);
    EXPECT_FALSE(file->Page("http://a/never.htm"));
    EXPECT_FALSE(file->Error()) << file->Error().Message();
}

// What every file the command may be pointed at gives, and that a refused
// file is left as it was.
TEST_F(CrawlFileTest, RefusesFilesItCannotUseByName)
{
    const String crawl = saved("crawl.nqcrawl", 40);
    QDir(m_dir.path()).mkdir("folder");
    {
        QFile garbage(m_dir.path() + "/garbage");
        ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(5000, '\x5a'));
        QFile(m_dir.path() + "/empty").open(QIODevice::WriteOnly);
    }
    rawSql(path("other.db"), "CREATE TABLE t(x); INSERT INTO t VALUES(1)");
    const String newer = saved("newer.nqcrawl", 1);
    rawSql(newer, "PRAGMA user_version = 99");
    const String truncated = saved("truncated.nqcrawl", 40);
    QFile::resize(QString::fromStdString(truncated),
                  QFile(QString::fromStdString(truncated)).size() / 2);
    const String readOnly = saved("readonly.nqcrawl", 1);
    QFile::setPermissions(QString::fromStdString(readOnly), QFile::ReadOwner | QFile::ReadUser);

    using Mode = CrawlFile::Mode;
    const struct
    {
        String file;
        Mode mode;
        StoreError::Kind expected;
    } rows[] = {
        {path("new.nqcrawl"), Mode::Create, StoreError::None},
        {crawl, Mode::Create, StoreError::Exists},
        {crawl, Mode::Read, StoreError::None},
        {crawl, Mode::Continue, StoreError::None},
        {path("missing"), Mode::Read, StoreError::NotFound},
        {path("folder"), Mode::Read, StoreError::IsFolder},
        {path("folder"), Mode::Create, StoreError::IsFolder},
        {path("garbage"), Mode::Read, StoreError::NotOurs},
        {path("empty"), Mode::Continue, StoreError::NotOurs},
        {path("other.db"), Mode::Continue, StoreError::NotOurs},
        {newer, Mode::Read, StoreError::NewerVersion},
        {truncated, Mode::Read, StoreError::Damaged},
        {truncated, Mode::Continue, StoreError::Damaged},
        {readOnly, Mode::Continue, StoreError::ReadOnly},
        {readOnly, Mode::Read, StoreError::None},
    };
    for (const auto& row : rows) {
        QFile file(QString::fromStdString(row.file));
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        StoreError error;
        const auto opened = CrawlFile::Open(row.file, row.mode, &error);
        EXPECT_EQ(error.kind, row.expected) << row.file << ": " << error.Message();
        EXPECT_EQ(bool(opened), row.expected == StoreError::None) << row.file;
        if (row.expected != StoreError::None && row.expected != StoreError::IsFolder &&
            row.expected != StoreError::NotFound) {
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << row.file;
            EXPECT_EQ(file.readAll(), before) << row.file << " was changed";
            EXPECT_NE(error.Message().find(row.file), String::npos);
        }
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("missing"))));
}

TEST_F(CrawlFileTest, ASecondWriterIsRefusedWhileTheFirstHoldsTheFile)
{
    const String crawl = saved("crawl.nqcrawl", 1);
    StoreError error;
    auto first = CrawlFile::Open(crawl, CrawlFile::Mode::Continue, &error);
    ASSERT_TRUE(first) << error.Message();
    EXPECT_FALSE(CrawlFile::Open(crawl, CrawlFile::Mode::Continue, &error));
    EXPECT_EQ(error.kind, StoreError::Locked);
    // Nor is a copy of another crawl written over it.
    auto other = CrawlFile::Open(saved("other.nqcrawl", 3), CrawlFile::Mode::Read, &error);
    ASSERT_TRUE(other) << error.Message();
    EXPECT_EQ(other->CopyTo(crawl).kind, StoreError::Locked);
    first.reset();
    EXPECT_FALSE(other->CopyTo(crawl)) << other->CopyTo(crawl).Message();
    other.reset();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"crawl.nqcrawl", "other.nqcrawl"}))
        << "nothing staged is left behind";
    auto copy = CrawlFile::Open(crawl, CrawlFile::Mode::Continue, &error);
    ASSERT_TRUE(copy) << error.Message();
    EXPECT_TRUE(copy->Page("http://a/2")) << "the copy replaced the file";
}

// Runs work in a child process and gives its exit status.
int inChild(const std::function<int()>& work)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(work());
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(CrawlFileTest, AKillKeepsEveryCommittedPageAndTheFileOpens)
{
    const String crawl = path("killed.nqcrawl");
    const int status = inChild([&] {
        StoreError error;
        auto file = CrawlFile::Open(crawl, CrawlFile::Mode::Create, &error);
        if (!file)
            return 1;
        file->Begin();
        for (int i = 0; i < 30; ++i)
            file->PutPage(page("http://a/" + std::to_string(i), String(5000, 'k')));
        file->Commit();
        file->Begin();
        file->PutPage(page("http://a/uncommitted", "lost"));
        raise(SIGKILL);
        return 2;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    StoreError error;
    auto file = CrawlFile::Open(crawl, CrawlFile::Mode::Read, &error);
    ASSERT_TRUE(file) << error.Message();
    int pages = 0;
    file->ForEachPage([&](const PageRecord& record) {
        ++pages;
        EXPECT_NE(record.Address, "http://a/uncommitted");
    });
    EXPECT_EQ(pages, 30);
    const auto last = file->Page("http://a/29");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->Body, String(5000, 'k'));
}

// A small tmpfs of the child's own stands in for a full disk.
bool mountSmallDisk(const QString& folder)
{
    if (unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        const auto put = [](const char* file, const std::string& text) {
            QFile out(file);
            return out.open(QIODevice::WriteOnly) &&
                   out.write(text.data(), static_cast<qint64>(text.size())) ==
                       static_cast<qint64>(text.size());
        };
        put("/proc/self/setgroups", "deny");
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", 0, "size=512k") == 0;
}

TEST_F(CrawlFileTest, AFullDiskIsNamedAndTheFileKeepsWhatWasCommitted)
{
    const QString disk = m_dir.path() + "/disk";
    QDir().mkpath(disk);
    const String crawl = (disk + "/full.nqcrawl").toStdString();
    constexpr int kNoDisk = 77;
    // The child sees the disk alone: it checks the file itself and says
    // how many pages it held, or the kind of error that stopped it.
    const int status = inChild([&] {
        if (!mountSmallDisk(disk))
            return kNoDisk;
        StoreError error;
        int written = 0;
        {
            auto file = CrawlFile::Open(crawl, CrawlFile::Mode::Create, &error);
            if (!file)
                return 100 + static_cast<int>(error.kind);
            String body(20000, ' ');
            unsigned seed = 7;
            for (; written < 200; ++written) {
                // Bytes that do not compress fill the disk.
                for (char& c : body)
                    c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
                if (!file->Begin() ||
                    !file->PutPage(page("http://a/" + std::to_string(written), body)) ||
                    !file->Commit())
                    break;
            }
            if (file->Error().kind != StoreError::DiskFull)
                return 100 + static_cast<int>(file->Error().kind);
        }
        auto file = CrawlFile::Open(crawl, CrawlFile::Mode::Read, &error);
        if (!file)
            return 200 + static_cast<int>(error.kind);
        int pages = 0;
        file->ForEachPage([&](const PageRecord&) { ++pages; });
        return pages == written && !file->Error() ? std::min(pages, 60) : 99;
    });
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoDisk)
        GTEST_SKIP() << "no mount namespace for a small disk";
    EXPECT_GT(WEXITSTATUS(status), 3);
    EXPECT_LT(WEXITSTATUS(status), 60);
}

TEST_F(CrawlFileTest, TheWriterKeepsEveryWriteInOrder)
{
    StoreError error;
    auto file = CrawlFile::Open(path("w.nqcrawl"), CrawlFile::Mode::Create, &error);
    ASSERT_TRUE(file) << error.Message();
    {
        CrawlWriter writer(std::move(file));
        int failed = 0;
        QObject::connect(&writer, &CrawlWriter::Failed, [&failed] { ++failed; });
        for (int i = 0; i < 1000; ++i) {
            writer.AddFound({{FoundLink::Link, "http://a/" + std::to_string(i), "htm", "a", ""}});
            writer.PutPage(page("http://a/" + std::to_string(i), "body " + std::to_string(i)));
        }
        // A read waits for every write posted before it.
        const auto last = writer.Page("http://a/999");
        ASSERT_TRUE(last);
        EXPECT_EQ(last->Body, "body 999");
        writer.MarkGone("http://a/998");
        // Closing keeps what came before it and nothing after.
        writer.Close();
        writer.PutPage(page("http://a/late", "late"));
        EXPECT_FALSE(writer.Finish());
        EXPECT_EQ(failed, 0);
        // Nothing is read once the writer is done; the read does not wait.
        EXPECT_FALSE(writer.Page("http://a/999"));
    }
    auto read = CrawlFile::Open(path("w.nqcrawl"), CrawlFile::Mode::Read, &error);
    ASSERT_TRUE(read) << error.Message();
    int next = 0;
    read->ForEachFound([&](const FoundLink& found) {
        EXPECT_EQ(found.Address, "http://a/" + std::to_string(next++));
    });
    EXPECT_EQ(next, 1000);
    EXPECT_EQ(read->Page("http://a/999")->Body, "body 999");
    EXPECT_FALSE(read->Page("http://a/999")->Gone);
    EXPECT_FALSE(read->Page("http://a/late"));
    const auto gone = read->Page("http://a/998");
    EXPECT_TRUE(gone->Gone);
    EXPECT_EQ(gone->Body, "body 998") << "a gone page keeps its body";
}

} // namespace
