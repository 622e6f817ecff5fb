#include "eventpump.h"
#include "filedialogs.h"
#include "hoverbutton.h"
#include "linklabel.h"
#include "loopbackserver.h"
#include "mainwindow.h"
#include "mediacontrol.h"
#include "messagecapture.h"
#include "progresspopup.h"
#include "shell.h"
#include "startfolder.h"
#include "textwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

using nqtest::LoopbackServer;
using nqtest::MessageCapture;
using nqtest::PumpUntil;
using nqtest::Reply;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Records which sound files are opened, in order; plays nothing.
class RecordingMedia final : public IMediaControl
{
public:
    explicit RecordingMedia(std::vector<String>* opened) : m_opened(opened) {}
    std::uint32_t Open(const String& fileName, std::uint32_t* device) override
    {
        m_opened->push_back(fileName);
        *device = 1;
        return NoError;
    }
    std::uint32_t Length(std::uint32_t) override { return 1; }
    std::uint32_t Position(std::uint32_t) override { return 0; }
    void SeekToStart(std::uint32_t) override {}
    std::uint32_t Play(std::uint32_t) override { return NoError; }
    std::uint32_t Close(std::uint32_t) override { return NoError; }
    String ErrorText(std::uint32_t) override { return String(); }

private:
    std::vector<String>* m_opened;
};

class RecordingShell final : public IShell
{
public:
    RecordingShell(std::vector<String>* opened, const bool* starts)
        : m_opened(opened), m_starts(starts)
    {}
    bool Open(const String& text) override
    {
        m_opened->push_back(text);
        return *m_starts;
    }

private:
    std::vector<String>* m_opened;
    const bool* m_starts;
};

// Answers every file dialog with the path a test sets, as if the user chose
// it, and keeps where the dialog would have started.
class AnsweringDialogs final : public IFileDialogs
{
public:
    AnsweringDialogs(const QString* answer, QString* start) : m_answer(answer), m_start(start) {}
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return *m_answer; }
    QString ChooseSaveFile(QWidget*, const QString&, const QString& start, const QString&) override
    {
        *m_start = start;
        return *m_answer;
    }
    QString ChooseOpenFile(QWidget*, const QString&, const QString& start, const QString&) override
    {
        *m_start = start;
        return *m_answer;
    }

private:
    const QString* m_answer;
    QString* m_start;
};

// The window with every status it showed: a saved crawl is searched before
// the event loop runs again, so only the last would stay in sight.
class StatusRecordingForm final : public TForm1
{
public:
    void StatusChanged(const String& text) override
    {
        statuses.push_back(text);
        TForm1::StatusChanged(text);
    }
    std::vector<String> statuses;
};

struct WaveFormat
{
    int channels = 0;
    int rate = 0;
    int bits = 0;
    double seconds = 0;
};

WaveFormat waveFormat(const QByteArray& bytes)
{
    const auto u16 = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    const auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
    WaveFormat f;
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return f;
    int pos = 12;
    int byteRate = 0;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const int size = u32(pos + 4);
        if (id == "fmt " && u16(pos + 8) == 1) {
            f.channels = u16(pos + 10);
            f.rate = u32(pos + 12);
            byteRate = u32(pos + 16);
            f.bits = u16(pos + 22);
        } else if (id == "data" && byteRate > 0) {
            f.seconds = static_cast<double>(size) / byteRate;
        }
        pos += 8 + size + (size & 1);
    }
    return f;
}

class MainWindow : public ::testing::Test
{
protected:
    MainWindow()
        : m_previousMedia(SetMediaControl(std::make_unique<RecordingMedia>(&sounds))),
          m_previousShell(SetShell(std::make_unique<RecordingShell>(&opened, &browserStarts))),
          m_previousDialogs(
              SetFileDialogs(std::make_unique<AnsweringDialogs>(&chosenPath, &dialogStart)))
    {
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
    }
    ~MainWindow() override
    {
        window.reset();
        server.releaseStalls();
        EXPECT_TRUE(nqtest::WaitForWorkers());
        SetMediaControl(std::move(m_previousMedia));
        SetShell(std::move(m_previousShell));
        SetFileDialogs(std::move(m_previousDialogs));
        QDir::setCurrent(m_previousDir);
    }

    TForm1& open()
    {
        auto form = std::make_unique<StatusRecordingForm>();
        statuses = &form->statuses;
        window = std::move(form);
        window->CloseDelayMs = 0;
        auto* form2 = new TForm2(window.get());
        auto* progress = new TProgress(window.get());
        window->AttachWindows(form2, progress);
        return *window;
    }

    // As a user does it: the key goes to whichever widget has the focus.
    static void pressKeyInFocus(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, key, modifiers);
    }

    void activate()
    {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    QString cell(int row, int column) const
    {
        const QTableWidgetItem* item = window->StringGrid1->item(row - 1, column);
        return item ? item->text() : QString();
    }

    QTemporaryDir m_dir;
    QString m_previousDir;
    std::vector<String> sounds;
    std::vector<String> opened;
    bool browserStarts = true;
    QString chosenPath;
    QString dialogStart;
    std::vector<String>* statuses = nullptr;
    std::unique_ptr<IMediaControl> m_previousMedia;
    std::unique_ptr<IShell> m_previousShell;
    std::unique_ptr<IFileDialogs> m_previousDialogs;
    LoopbackServer server;
    MessageCapture messages;
    std::unique_ptr<TForm1> window;
};

} // namespace

TEST_F(MainWindow, StartUpWritesItsFilesByteForByte)
{
    for (const char* name : {"qlogo.gif", "1.wav", "2.wav", "3.wav", "4.wav"}) {
        QFile old(QString::fromLatin1(name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("stale");
    }
    TForm1& form = open();
    for (const char* name : {"qlogo.gif", "1.wav", "2.wav", "3.wav", "4.wav"}) {
        SCOPED_TRACE(name);
        const QByteArray written = readFile(QString::fromLatin1(name));
        EXPECT_EQ(written, readFile(QStringLiteral(NQ_SOURCE_DIR "/resources/") +
                                    QString::fromLatin1(name)));
    }
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Netquarry"));
    EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(0)->text(), QStringLiteral("  Pagename"));
    EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("  Hits"));
    EXPECT_TRUE(messages.messages().empty());

    // The logo: a looping GIF89a of 115 x 60 with 13 frames.
    const QByteArray gif = readFile(QStringLiteral("qlogo.gif"));
    EXPECT_TRUE(gif.startsWith("GIF89a"));
    QImageReader reader(QStringLiteral("qlogo.gif"));
    EXPECT_EQ(reader.size(), QSize(115, 60));
    EXPECT_EQ(reader.imageCount(), 13);
    EXPECT_EQ(reader.loopCount(), -1) << "loops for ever";

    const struct
    {
        const char* name;
        int channels, rate;
        double seconds;
    } formats[] = {{"1.wav", 1, 11025, 0.3},
                   {"2.wav", 2, 22050, 1.35},
                   {"3.wav", 1, 16000, 0.08},
                   {"4.wav", 1, 16000, 0.5}};
    for (const auto& s : formats) {
        SCOPED_TRACE(s.name);
        const WaveFormat f = waveFormat(readFile(QString::fromLatin1(s.name)));
        EXPECT_EQ(f.channels, s.channels);
        EXPECT_EQ(f.rate, s.rate);
        EXPECT_EQ(f.bits, 16);
        EXPECT_NEAR(f.seconds, s.seconds, 0.01);
    }
}

TEST_F(MainWindow, StartUpGoesOnWhenAFileCannotBeWritten)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("2.wav")));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("3.wav")));
    TForm1& form = open();
    EXPECT_EQ(messages.texts(),
              std::vector<String>{"Cannot create files 2.wav, 3.wav in " +
                                  QDir::currentPath().toStdString() + ": Is a directory"})
        << "one message for all of them";
    EXPECT_TRUE(QFile::exists(QStringLiteral("4.wav"))) << "the later files are still written";
    EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("  Hits"));
}

TEST_F(MainWindow, LaidOutAsDesigned)
{
    TForm1& form = open();
    EXPECT_EQ(form.size(), QSize(519, 589));
    EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("http://www.example.com/"));
    EXPECT_EQ(form.ComboBox2->currentIndex(), -1);
    EXPECT_EQ(form.ComboBox2->currentText(), QStringLiteral("Normal"));
    EXPECT_EQ(form.PassOverBtn3->text(), QStringLiteral("Cancel "));
    EXPECT_EQ(form.Label3->text(),
              QStringLiteral("(Use space as delimiter for multiple  keywords)"));
    EXPECT_EQ(form.PassOverBtn1->geometry(), QRect(42, 33, 135, 32));
    EXPECT_EQ(form.StringGrid1->rowCount(), 254);
    EXPECT_EQ(form.StringGrid1->columnWidth(0), 423);
    for (TPassOverBtn* button : {form.PassOverBtn1, form.PassOverBtn2, form.PassOverBtn3,
                                 form.PassOverBtn4, form.PassOverBtn5})
        EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(form.URLLabel1->isVisibleTo(&form));
    EXPECT_FALSE(form.Edit2->isVisibleTo(&form));

    // The design's Menu keeps its two items between the File and Help menus.
    QStringList menus;
    for (const QAction* action : form.menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("&File"), QStringLiteral("&Menu"),
                                  QStringLiteral("&Search"), QStringLiteral("&Help")}));
    EXPECT_EQ(form.menuBar()->actions()[1]->menu()->actions(),
              (QList<QAction*>{form.AboutNetquarry1, form.Exit1}));
    const QList<QAction*> fileItems = form.FileMenu->actions();
    ASSERT_EQ(fileItems.size(), 5);
    EXPECT_TRUE(fileItems[2]->isSeparator());
    EXPECT_EQ(fileItems, (QList<QAction*>{form.OpenCrawl1, form.SaveCrawlAs1, fileItems[2],
                                          form.SaveReportAs1, form.ExportCsv1}));
    EXPECT_EQ(form.OpenCrawl1->text(), QStringLiteral("Open Crawl..."));
    EXPECT_EQ(form.SaveCrawlAs1->text(), QStringLiteral("Save Crawl As..."));
    EXPECT_FALSE(form.SaveCrawlAs1->isEnabled()) << "no run, no crawl to save";
    EXPECT_EQ(form.SaveReportAs1->text(), QStringLiteral("Save Report As..."));
    EXPECT_EQ(form.ExportCsv1->text(), QStringLiteral("Export Results as CSV..."));

    // Resizing: the grid takes the window's width and height, its address
    // column all of the width; the rest stays.
    form.show();
    QWidget* status = form.statusBar();
    const auto gapBelowGrid = [&] {
        return status->mapTo(&form, QPoint(0, 0)).y() -
               form.StringGrid1->mapTo(&form, QPoint(0, form.StringGrid1->height())).y();
    };
    ASSERT_TRUE(PumpUntil([&] { return form.StringGrid1->height() == 276; }));
    const int gap = gapBelowGrid();
    for (const QSize size : {QSize(519 + 120, 589 + 150), QSize(519, 589 + 40), QSize(519, 589)}) {
        SCOPED_TRACE(size.height());
        form.resize(size);
        const QRect grown(7, 240, 495 + size.width() - 519, 276 + size.height() - 589);
        EXPECT_TRUE(PumpUntil([&] { return form.StringGrid1->geometry() == grown; },
                              std::chrono::seconds(3)))
            << form.StringGrid1->width() << "x" << form.StringGrid1->height();
        EXPECT_EQ(form.StringGrid1->columnWidth(0), 423 + size.width() - 519);
        EXPECT_EQ(form.StringGrid1->columnWidth(1), 50);
        EXPECT_EQ(gapBelowGrid(), gap);
        EXPECT_EQ(form.PassOverBtn4->parentWidget()->geometry(), QRect(8, 192, 400, 45));
    }
}

TEST_F(MainWindow, EnterPasteAndButtonStartTheSameScan)
{
    server.serve("/index.htm", Reply::html("no links"));
    TForm1& form = open();
    form.ComboBox1->setEditText(QString::fromStdString(server.url("/index.htm")));
    activate();
    const QWidget* fresh = QApplication::focusWidget();
    EXPECT_TRUE(fresh == form.ComboBox1 || form.ComboBox1->isAncestorOf(fresh))
        << "a fresh window has the focus in the address box";

    const struct
    {
        const char* name;
        QWidget* box;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } enters[] = {
        {"Return in the address box", form.ComboBox1, Qt::Key_Return, Qt::NoModifier},
        {"keypad Enter in the address box", form.ComboBox1, Qt::Key_Enter, Qt::KeypadModifier},
        {"Return in the keyword box", form.Edit1, Qt::Key_Return, Qt::NoModifier},
        {"keypad Enter in the keyword box", form.Edit1, Qt::Key_Enter, Qt::KeypadModifier}};
    std::size_t scans = 0;
    for (const auto& enter : enters) {
        SCOPED_TRACE(enter.name);
        activate(); // the user comes back to the window after the last scan
        enter.box->setFocus();
        pressKeyInFocus(enter.key, enter.modifiers);
        EXPECT_TRUE(form.Run().Running());
        EXPECT_FALSE(form.PassOverBtn1->isEnabled());
        pressKeyInFocus(enter.key, enter.modifiers); // ignored while the run goes on
        ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }));
        EXPECT_EQ(server.requestCount(), scans += 2); // robots.txt and the page
    }

    QApplication::clipboard()->setText(QString::fromStdString(server.url("/index.htm")));
    form.PassOverBtn5->click();
    EXPECT_EQ(form.ComboBox1->currentText().toStdString(), server.url("/index.htm"));
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }));
    EXPECT_EQ(server.requestCount(), scans += 2); // robots.txt and the page

    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }));
    EXPECT_EQ(server.requestCount(), scans += 2); // robots.txt and the page
    EXPECT_EQ(form.ComboBox1->count(), 1) << "one history entry for the same address";

    QApplication::clipboard()->clear();
    form.PassOverBtn5->click();
    EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("http://"));
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }));
}

TEST_F(MainWindow, AWholeScanToReadyAndItsReport)
{
    server.serve("/index.htm", Reply::html("<a href='a.htm'>a</a><a href='b.htm'>b</a> site"
                                           "<a href='gone.htm'>gone</a>"));
    server.serve("/a.htm", Reply::html("quarry Quarry"));
    server.serve("/b.htm", Reply::html("nothing"));
    TForm1& form = open();
    form.ComboBox1->setEditText(QString::fromStdString(server.url("/index.htm")));
    form.Edit1->setText(QStringLiteral("quarry"));
    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }, std::chrono::seconds(30)));

    // The start page is the first row; a failed page says where and why on hover.
    EXPECT_EQ(form.StatusPanel0->text(),
              QStringLiteral(" 3 pages analyzed, 1 not searched. Ready."));
    EXPECT_EQ(cell(1, 0).toStdString(), server.url("/index.htm"));
    EXPECT_EQ(cell(2, 0).toStdString(), server.url("/a.htm"));
    EXPECT_EQ(cell(2, 1), QStringLiteral("2"));
    EXPECT_EQ(cell(3, 1), QStringLiteral("0"));
    EXPECT_EQ(cell(4, 0), QStringLiteral("Invalid URL"));
    EXPECT_EQ(form.StringGrid1->item(3, 0)->toolTip().toStdString(),
              server.url("/gone.htm") + " (404)");
    EXPECT_TRUE(form.PassOverBtn2->isEnabled());
    EXPECT_FALSE(form.PassOverBtn3->isEnabled());
    EXPECT_EQ(sounds, (std::vector<String>{"3.wav", "2.wav"}));

    form.PassOverBtn2->click();
    EXPECT_EQ(opened, std::vector<String>{"results.htm"});
    for (const char* name : {"results.htm", "pagelist.htm", "links.htm"})
        EXPECT_TRUE(readFile(QString::fromLatin1(name)).endsWith("</HTML>\r\n")) << name;
    EXPECT_TRUE(messages.messages().empty());

    // A report that cannot be written is told as an error, and not opened.
    ASSERT_TRUE(QFile::remove(QStringLiteral("links.htm")));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("links.htm")));
    form.PassOverBtn2->click();
    ASSERT_EQ(messages.texts(),
              std::vector<String>{"cannot write " + QDir::currentPath().toStdString() +
                                  "/links.htm: Is a directory"});
    EXPECT_EQ(messages.messages()[0].kind, TMsgKind::Error);
    EXPECT_EQ(opened.size(), 1U);
    ASSERT_TRUE(QDir().rmdir(QStringLiteral("links.htm")));

    // Without a browser the user learns where the report is.
    browserStarts = false;
    form.PassOverBtn2->click();
    const std::string report = QDir::current().absoluteFilePath("results.htm").toStdString();
    EXPECT_EQ(form.StatusPanel0->text().toStdString(),
              " Could not start a browser for the report: " + report);
    EXPECT_EQ(messages.texts().back(),
              "Could not start a browser for the report. Open " + report + " by hand.");

    // The File menu: the report into a folder of the user's choice, without
    // opening it, and the results as the command's CSV.
    const QTemporaryDir elsewhere;
    chosenPath = elsewhere.path();
    opened.clear();
    form.SaveReportAs1->trigger();
    for (const char* name : {"results.htm", "pagelist.htm", "links.htm", "qlogo.gif"})
        EXPECT_EQ(readFile(elsewhere.filePath(QString::fromLatin1(name))),
                  readFile(QString::fromLatin1(name)))
            << name;
    EXPECT_TRUE(opened.empty());
    chosenPath = elsewhere.filePath(QStringLiteral("hits.csv"));
    form.ExportCsv1->trigger();
    EXPECT_EQ(readFile(chosenPath).toStdString(),
              "address,status,total,quarry\r\n" + server.url("/index.htm") + ",ok,0,0\r\n" +
                  server.url("/a.htm") + ",ok,2,2\r\n" + server.url("/b.htm") + ",ok,0,0\r\n" +
                  server.url("/gone.htm") + ",404,,\r\n");
    chosenPath.clear(); // the user cancels the dialog
    form.ExportCsv1->trigger();
    EXPECT_EQ(messages.texts().size(), 2U) << "a cancelled dialog says nothing";

    // The case box and the depth box reach the next run.
    form.CheckBox1->setChecked(true);
    form.ComboBox2->setCurrentIndex(0);
    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }, std::chrono::seconds(30)));
    EXPECT_EQ(cell(2, 1), QStringLiteral("1"));
    const TRuziZidu* crawler = form.Run().Crawler();
    ASSERT_NE(crawler, nullptr);
    EXPECT_EQ(crawler->DepthSearchLevel(), 1);
}

TEST_F(MainWindow, ExitSounds)
{
    TForm1& form = open();
    form.PassOverBtn4->click();
    EXPECT_EQ(sounds, (std::vector<String>{"3.wav", "1.wav"}));
    window.reset();

    sounds.clear();
    open();
    window->Exit1->trigger();
    EXPECT_EQ(sounds, std::vector<String>{"1.wav"});
}

TEST_F(MainWindow, ClosingDuringARunStopsIt)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    server.serveRaw("/slow.htm", head, head.size());
    TForm1& form = open();
    form.ComboBox1->setEditText(QString::fromStdString(server.url("/slow.htm")));
    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return server.requestCount() == 2; }));
    const TRuziZidu* crawler = form.Run().Crawler();
    ASSERT_NE(crawler, nullptr);
    form.close();
    EXPECT_TRUE(crawler->Aborting());
    EXPECT_TRUE(PumpUntil([&] { return !crawler->Working(); }));
}

TEST_F(MainWindow, TheClockTicks)
{
    TForm1& form = open();
    const QString first = form.StatusPanel1->text();
    EXPECT_TRUE(first.startsWith(QStringLiteral("   "))) << first.toStdString();
    EXPECT_TRUE(PumpUntil([&] { return form.StatusPanel1->text() != first; },
                          std::chrono::milliseconds(2500)));
}

TEST_F(MainWindow, KeysActOnTheFocusedWindow)
{
    const QTemporaryDir cache;
    const QByteArray previousCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    server.serveRaw("/slow.htm", head, head.size());
    TForm1& form = open();
    form.ComboBox1->setEditText(QString::fromStdString(server.url("/slow.htm")));
    activate();
    const auto cancelled = [&] {
        return !form.Run().Running() && form.StatusPanel0->text().endsWith(
                                            QStringLiteral("Request aborted by user. Ready."));
    };
    const auto guideOpened = [&] {
        return opened.size() == 1 &&
               QString::fromStdString(opened[0]).endsWith("user-guide.html") &&
               readFile(QString::fromStdString(opened[0])).contains("Where the files go");
    };
    const struct
    {
        const char* name;
        bool running;
        QWidget* focus;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<bool()> done;
    } keys[] = {
        {"Esc in the address box cancels a scan", true, form.ComboBox1, Qt::Key_Escape,
         Qt::NoModifier, cancelled},
        {"Esc in the grid cancels a scan", true, form.StringGrid1, Qt::Key_Escape, Qt::NoModifier,
         cancelled},
        {"Esc without a scan does nothing", false, form.Edit1, Qt::Key_Escape, Qt::NoModifier,
         [&] { return sounds.empty() && form.PassOverBtn1->isEnabled(); }},
        {"F1 opens the user guide in the browser", false, form.Edit1, Qt::Key_F1, Qt::NoModifier,
         guideOpened},
        {"Ctrl+Q quits as Exit does", false, form.ComboBox1, Qt::Key_Q, Qt::ControlModifier,
         [&] { return !form.isVisible() && sounds == std::vector<String>{"1.wav"}; }},
    };
    std::size_t requests = 0;
    for (const auto& key : keys) {
        SCOPED_TRACE(key.name);
        if (key.running) {
            form.PassOverBtn1->click();
            ASSERT_TRUE(PumpUntil([&] { return server.requestCount() > requests; }));
            requests = server.requestCount();
        }
        sounds.clear();
        opened.clear();
        activate();
        key.focus->setFocus();
        pressKeyInFocus(key.key, key.modifiers);
        EXPECT_TRUE(PumpUntil(key.done, std::chrono::seconds(3)));
    }
    qputenv("XDG_CACHE_HOME", previousCache);
}

TEST_F(MainWindow, GridSortsOpensAndCopiesRows)
{
    TForm1& form = open();
    activate();
    const String a = "http://127.0.0.1/a.htm", b = "http://127.0.0.1/b.htm",
                 c = "http://127.0.0.1/c.htm", d = "http://127.0.0.1/d.htm";
    // status: the failed page's reply status, 0 for a page searched.
    const auto page = [](const String& address, Integer hits, int status) {
        TPageEntry entry;
        entry.Name = address;
        if (status != 0)
            entry.Rename("Invalid URL");
        entry.Hits = hits;
        entry.State = status == 0 ? TPageState::Searched : TPageState::Failed;
        if (status != 0)
            entry.SetFailure({TransferError::Kind::HttpStatus, status, String()});
        return entry;
    };
    const TPageEntry pages[] = {page(a, 2, 0), page(b, 0, 0), page(c, 0, 404), page(d, 5, 0)};
    for (Integer row = 1; row <= 4; ++row)
        form.RowFilled(row, pages[row - 1]);
    EXPECT_EQ(form.StringGrid1->item(2, 0)->toolTip().toStdString(), c + " (404)");

    const auto shown = [&] {
        std::vector<std::string> rows;
        for (int row = 1; row <= 4; ++row)
            rows.push_back(cell(row, 0).toStdString() + "=" + cell(row, 1).toStdString());
        return rows;
    };
    QHeaderView* header = form.StringGrid1->horizontalHeader();
    const auto clickHeading = [&](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, Qt::NoModifier,
            QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    };
    const std::vector<std::string> pageOrder{a + "=2", b + "=0", "Invalid URL=0", d + "=5"};
    const std::vector<std::string> byHits{d + "=5", a + "=2", b + "=0", "Invalid URL=0"};
    clickHeading(1);
    EXPECT_EQ(shown(), byHits);
    clickHeading(1);
    EXPECT_EQ(shown(), pageOrder) << "a second click restores the page order";
    clickHeading(0);
    EXPECT_EQ(shown(), (std::vector<std::string>{a + "=2", b + "=0", d + "=5", "Invalid URL=0"}));
    form.SortByPageOrder1->trigger();
    EXPECT_EQ(shown(), pageOrder);

    // Rows picked with Ctrl in the sorted grid are copied as the user sees
    // them picked, with a failed page's own address.
    clickHeading(1);
    QWidget* cells = form.StringGrid1->viewport();
    const auto rowCentre = [&](int row) {
        return form.StringGrid1->visualRect(form.StringGrid1->model()->index(row, 0)).center();
    };
    QTest::mouseClick(cells, Qt::LeftButton, Qt::NoModifier, rowCentre(0));
    QTest::mouseClick(cells, Qt::LeftButton, Qt::ControlModifier, rowCentre(3));
    ASSERT_EQ(QApplication::focusWidget(), form.StringGrid1);
    pressKeyInFocus(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), d + "\t5\n" + c + "\t0\n");
    form.CopyAddress1->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), d + "\n" + c);

    pressKeyInFocus(Qt::Key_Return);
    EXPECT_EQ(opened, std::vector<String>{c}) << "Enter opens the current row's page";
    // As a user's double click arrives: a press, then the double click.
    QTest::mousePress(cells, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    QTest::mouseRelease(cells, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    QTest::mouseDClick(cells, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    EXPECT_EQ(opened, (std::vector<String>{c, a}));
    browserStarts = false;
    form.OpenPage1->trigger();
    EXPECT_EQ(form.StatusPanel0->text().toStdString(),
              " Could not start a browser for the page: " + a);

    // Rows of a run come in while the grid is sorted: they join the order.
    form.RowFilled(5, page("http://127.0.0.1/e.htm", 3, 0));
    EXPECT_TRUE(PumpUntil([&] { return cell(2, 1) == QStringLiteral("3"); }));
}

TEST_F(MainWindow, AddressBoxCompletesByDropDownOnly)
{
    TForm1& form = open();
    form.AppendHistory("http://127.0.0.1/index.htmgranite marble");
    activate();
    form.ComboBox1->setEditText(QString());
    form.ComboBox1->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("http://127.0.0.1/index.htm"));
    EXPECT_EQ(form.ComboBox1->currentText().toStdString(), "http://127.0.0.1/index.htm");
    EXPECT_TRUE(PumpUntil([&] { return form.ComboBox1->completer()->popup()->isVisible(); }))
        << "the earlier entry is offered below";
}

TEST(StartFolder, FromTheDesktopEntryTheProgramWorksAmongTheDocuments)
{
    QFile entry(QStringLiteral(NQ_SOURCE_DIR "/resources/netquarry.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=netquarry --documents-folder\n"));

    const QTemporaryDir home;
    const QString started = QDir::currentPath();
    const QByteArray previousHome = qgetenv("HOME");
    const QByteArray previousConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(EnterDocumentsWorkFolder(), QString());
    EXPECT_EQ(QDir::currentPath(), home.path() + QStringLiteral("/Documents/Netquarry"));

    // A folder that cannot be made leaves the program where it was.
    QDir::setCurrent(started);
    const QTemporaryDir blocked;
    QFile(blocked.filePath(QStringLiteral("Documents"))).open(QIODevice::WriteOnly);
    qputenv("HOME", blocked.path().toUtf8());
    EXPECT_EQ(EnterDocumentsWorkFolder(), QStringLiteral("Cannot create the folder ") +
                                              blocked.path() +
                                              QStringLiteral("/Documents/Netquarry"));
    EXPECT_EQ(QDir::currentPath(), started);

    qputenv("HOME", previousHome);
    if (!previousConfig.isEmpty())
        qputenv("XDG_CONFIG_HOME", previousConfig);
}

TEST_F(MainWindow, TheSearchMenuChangesHowTheNextScanSearches)
{
    server.serve("/index.htm", Reply::html("<a href='a.htm'>a</a>"));
    server.serve("/a.htm", Reply::html("<p>Granite <b>quarry</b></p> quarrying <i title=quarry>"));
    TForm1& form = open();
    QStringList menus;
    for (const QAction* menu : form.menuBar()->actions())
        menus << menu->text();
    const qsizetype parts = menus.indexOf(QStringLiteral("&Menu"));
    ASSERT_GE(parts, 0);
    ASSERT_EQ(menus.value(parts + 1), QStringLiteral("&Search"));
    const auto itemsOf = [&](qsizetype menu) {
        QStringList texts;
        for (const QAction* item : form.menuBar()->actions()[menu]->menu()->actions()) {
            texts << item->text();
            EXPECT_EQ(item->isCheckable(), menu != parts);
            EXPECT_FALSE(item->isChecked());
        }
        return texts;
    };
    EXPECT_EQ(itemsOf(parts), (QStringList{"About Netquarry", "Exit"}));
    const QStringList items = itemsOf(parts + 1);
    EXPECT_EQ(items, (QStringList{"Whole words", "Visible text only", "Regular expressions",
                                  "All keywords must occur"}));

    form.ComboBox1->setEditText(QString::fromStdString(server.url("/index.htm")));
    const auto scan = [&](const char* keywords) {
        form.Edit1->setText(QString::fromUtf8(keywords));
        form.PassOverBtn1->click();
        EXPECT_TRUE(PumpUntil([&] { return !form.Run().Running(); }, std::chrono::seconds(30)));
        return cell(2, 1); // after the start page
    };
    EXPECT_EQ(scan("\"granite quarry\" quarry"),
              QStringLiteral("3")); // source: phrase split by a tag
    form.WholeWords1->trigger();
    form.VisibleText1->trigger();
    EXPECT_EQ(scan("\"granite quarry\" quarry"), QStringLiteral("2"));
    form.PassOverBtn2->click();
    EXPECT_TRUE(readFile(QStringLiteral("results.htm"))
                    .contains("&quot;granite quarry&quot; quarry [whole words, visible text]"));
    form.RegularExpressions1->trigger();
    EXPECT_EQ(scan("gr.n\\w+"), QStringLiteral("1"));
    form.AllKeywords1->trigger();
    EXPECT_EQ(scan("granite marble"), QStringLiteral("0"));

    const std::size_t requests = server.requestCount();
    form.Edit1->setText(QStringLiteral("gran(ite"));
    form.PassOverBtn1->click();
    EXPECT_FALSE(form.Run().Running());
    EXPECT_EQ(messages.texts(), std::vector<String>{"invalid pattern \"gran(ite\": missing closing "
                                                    "parenthesis at offset 8"});
    EXPECT_EQ(server.requestCount(), requests);
}

TEST_F(MainWindow, ASavedCrawlIsSearchedAgainWithoutTheNetwork)
{
    server.serve("/index.htm", Reply::html("<a href='a.htm'>a</a><a href='b.htm'>b</a>"));
    server.serve("/a.htm", Reply::html("quarry granite Quarry"));
    server.serve("/b.htm", Reply::html("granites"));
    const std::string start = server.url("/index.htm");
    TForm1& scanned = open();
    scanned.ComboBox1->setEditText(QString::fromStdString(start));
    scanned.Edit1->setText(QStringLiteral("quarry"));
    scanned.PassOverBtn1->click();
    EXPECT_FALSE(scanned.SaveCrawlAs1->isEnabled()) << "not while the run goes on";
    ASSERT_TRUE(PumpUntil([&] { return !scanned.Run().Running(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(scanned.SaveCrawlAs1->isEnabled());

    // Saved where the user says, with the suffix; the dialog starts among the documents.
    const QTemporaryDir elsewhere;
    chosenPath = elsewhere.filePath(QStringLiteral("site"));
    scanned.SaveCrawlAs1->trigger();
    EXPECT_EQ(dialogStart, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
                               QStringLiteral("/127.0.0.1.nqcrawl"));
    const QString saved = elsewhere.filePath(QStringLiteral("site.nqcrawl"));
    ASSERT_TRUE(QFile::exists(saved));
    EXPECT_TRUE(messages.messages().empty());

    // The command searches it as it would the site.
    QProcess cli;
    cli.start(QStringLiteral(NQ_CLI), {QStringLiteral("--from=") + saved,
                                       QStringLiteral("--format=csv"), QStringLiteral("granite")});
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.readAllStandardOutput().toStdString(),
              "address,status,total,granite\r\n" + start + ",ok,0,0\r\n" + server.url("/a.htm") +
                  ",ok,1,1\r\n" + server.url("/b.htm") + ",ok,1,1\r\n");

    // Opened in a new window: the grid and the controls come from the file,
    // and every scan of it is a search without a single request.
    window.reset();
    TForm1& form = open();
    const std::size_t requests = server.requestCount();
    chosenPath = saved;
    form.OpenCrawl1->trigger();
    EXPECT_EQ(dialogStart, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    EXPECT_EQ(form.ComboBox1->currentText().toStdString(), start);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("quarry"));
    EXPECT_EQ(cell(2, 1), QStringLiteral("2"));
    EXPECT_EQ(cell(3, 1), QStringLiteral("0"));
    ASSERT_FALSE(statuses->empty());
    const QRegularExpression searching(
        QStringLiteral("^ Searching saved crawl of ") +
        QRegularExpression::escape(QString::fromStdString(start)) +
        QStringLiteral(R"( \(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\)\.\.\.$)"));
    EXPECT_EQ(std::count_if(statuses->begin(), statuses->end(),
                            [&](const String& status) {
                                return searching.match(QString::fromStdString(status)).hasMatch();
                            }),
              1);
    EXPECT_EQ(form.StatusPanel0->text(), QStringLiteral(" 3 pages analyzed. Ready."));

    form.Edit1->setText(QStringLiteral("granite"));
    form.WholeWords1->trigger();
    form.PassOverBtn1->click();
    EXPECT_FALSE(form.Run().Running());
    EXPECT_EQ(cell(2, 1), QStringLiteral("1"));
    EXPECT_EQ(cell(3, 1), QStringLiteral("0")) << "granites is no whole word";
    form.PassOverBtn2->click();
    EXPECT_TRUE(readFile(QStringLiteral("results.htm")).contains("granite [whole words]"));

    // The crawl opened is the one Save Crawl As writes, and a copy opens alike.
    chosenPath = elsewhere.filePath(QStringLiteral("again.nqcrawl"));
    form.SaveCrawlAs1->trigger();
    form.OpenCrawl1->trigger();
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("quarry"));
    EXPECT_EQ(cell(2, 1), QStringLiteral("2"));
    EXPECT_EQ(server.requestCount(), requests);
    EXPECT_TRUE(messages.messages().empty());

    // Another address is crawled, and recorded in place of the file.
    form.ComboBox1->setEditText(QString::fromStdString(server.url("/b.htm")));
    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }, std::chrono::seconds(30)));
    EXPECT_GT(server.requestCount(), requests);
    chosenPath = elsewhere.filePath(QStringLiteral("b.nqcrawl"));
    form.SaveCrawlAs1->trigger();
    chosenPath = elsewhere.filePath(QStringLiteral("b.nqcrawl"));
    form.OpenCrawl1->trigger();
    EXPECT_EQ(form.ComboBox1->currentText().toStdString(), server.url("/b.htm"));

    // A scan for nothing lists the site as ever, and leaves no crawl to save.
    form.ComboBox1->setEditText(QString::fromStdString(start));
    form.Edit1->clear();
    form.PassOverBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.Run().Running(); }, std::chrono::seconds(30)));
    EXPECT_FALSE(form.SaveCrawlAs1->isEnabled());
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(MainWindow, ACrawlFileItCannotUseIsNamedAndChangesNothing)
{
    // Every named error of the crawl file takes this one way to the user.
    const QString garbage = QDir::current().filePath(QStringLiteral("notes.nqcrawl"));
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a crawl, just notes\n");
    file.close();
    TForm1& form = open();
    chosenPath = garbage;
    form.OpenCrawl1->trigger();
    ASSERT_EQ(messages.messages().size(), 1U);
    EXPECT_EQ(messages.texts()[0], garbage.toStdString() + ": not a Netquarry crawl file");
    EXPECT_EQ(messages.messages()[0].kind, TMsgKind::Error);
    EXPECT_EQ(readFile(garbage), QByteArray("not a crawl, just notes\n"));
    EXPECT_EQ(form.ComboBox1->currentText(), QStringLiteral("http://www.example.com/"));
    EXPECT_FALSE(form.SaveCrawlAs1->isEnabled());
}
