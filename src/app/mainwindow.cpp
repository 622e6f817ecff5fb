// The main window (TForm1): the inputs, the result grid and the buttons, as a view of the run.

#include "mainwindow.h"

#include "aboutbox.h"
#include "artwork.h"
#include "colors.h"
#include "crawlwriter.h"
#include "filedialogs.h"
#include "hoverbutton.h"
#include "ioerror.h"
#include "linklabel.h"
#include "messagebox.h"
#include "passwordmask.h"
#include "progresspopup.h"
#include "resultrows.h"
#include "runaccount.h"
#include "shell.h"
#include "soundplayer.h"
#include "stagedfile.h"
#include "textdecode.h"
#include "textwindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

QFrame* loweredPanel(QWidget* parent, int x, int y, int w, int h)
{
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(x, y, w, h);
    return panel;
}

QLabel* label(QWidget* parent, const char* text, int x, int y)
{
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

TPassOverBtn* hoverButton(QWidget* parent, const char* caption, const QPixmap& glyph,
                          Cardinal colorIn, int x, int y, int w, int h)
{
    auto* button = new TPassOverBtn(parent);
    button->setText(QString::fromLatin1(caption));
    button->setIcon(QIcon(glyph));
    button->setGeometry(x, y, w, h);
    button->SetFontColorIn(colorIn);
    button->SetFontColorOut(clBlack);
    return button;
}

QProgressBar* verticalBar(QWidget* parent, int x, int maximum)
{
    auto* bar = new QProgressBar(parent);
    bar->setOrientation(Qt::Vertical);
    bar->setRange(0, maximum);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setGeometry(x, 85, 9, 146);
    return bar;
}

// The window's outer size as designed, and its grid's size at that size.
constexpr QSize kDesignSize(519, 589);
constexpr int kGridWidth = 495;
constexpr int kGridHeight = 276;
constexpr int kAddressColumnWidth = 423;
// The heading and a few rows stay in sight however small the window gets.
constexpr int kMinGridHeight = 80;

const QString kCrawlSuffix = QStringLiteral(".nqcrawl");
const QString kCrawlFilter = QStringLiteral("Netquarry crawls (*.nqcrawl);;All files (*)");

QString documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

const std::pair<const char*, const char*> kResources[] = {
    {":/RCDATA_0", "qlogo.gif"}, {":/RCDATA_1", "1.wav"}, {":/RCDATA_2", "2.wav"},
    {":/RCDATA_3", "3.wav"},     {":/RCDATA_4", "4.wav"},
};

} // namespace

// The embedded files live in this static library; make sure they link.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    initResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Netquarry"));
    setWindowIcon(artwork::ApplicationIcon());
    buildControls();
    buildHelpMenu(); // the last menu, after any that buildControls makes
    buildGridActions();
    FormCreate();
}

TForm1::~TForm1()
{
    // The run, a child, outlives the members: it must not record into a
    // writer that is gone.
    m_run->SaveTo(nullptr);
}

void TForm1::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);
    // The design's font is a narrow Windows face; these take its place.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Nimbus Sans"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"),
                                QStringLiteral("DejaVu Sans")});
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    resize(kDesignSize);
    setMinimumSize(kDesignSize.width(), kDesignSize.height() - kGridHeight + kMinGridHeight);

    Panel3 = loweredPanel(client, 8, 0, 494, 73);
    Label1 = label(Panel3, "Adress:", 4, 16);
    ComboBox1 = new QComboBox(Panel3);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(42, 7, 445, 22);
    ComboBox1->setEditText(QStringLiteral("http://www.example.com/"));
    // The editable combo box keeps the focus itself and hands keys to its
    // line edit directly, past any filter there: Enter is seen on the combo.
    ComboBox1->installEventFilter(this);
    // Completion from the history drops down; it never adds to what is typed.
    ComboBox1->completer()->setCompletionMode(QCompleter::PopupCompletion);
    PassOverBtn1 =
        hoverButton(Panel3, "Scan/Search site", artwork::ScanGlyph(), clYellow, 42, 33, 135, 32);
    PassOverBtn5 = hoverButton(Panel3, "Paste adress and scan", artwork::PasteGlyph(), clYellow,
                               186, 33, 155, 32);
    PassOverBtn3 =
        hoverButton(Panel3, "Cancel ", artwork::CancelGlyph(), clYellow, 350, 33, 136, 32);

    Panel1 = loweredPanel(client, 8, 80, 400, 107);
    Label2 = label(Panel1, "Search for:", 45, 9);
    Label3 = label(Panel1, "(Use space as delimiter for multiple  keywords)", 117, 9);
    Edit1 = new QLineEdit(Panel1);
    Edit1->setGeometry(44, 22, 289, 21);
    Edit1->installEventFilter(this);
    Label5 = label(Panel1, "Search depth:", 163, 26);
    Label5->stackUnder(Edit1); // the design keeps it under the keyword box
    Label4 = label(Panel1, "Depth:", 235, 56);
    CheckBox1 = new QCheckBox(QStringLiteral("Casesensitive search"), Panel1);
    CheckBox1->setGeometry(43, 71, 126, 18);
    ComboBox2 = new QComboBox(Panel1);
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->addItems({QStringLiteral("Lowest"), QStringLiteral("Low"), QStringLiteral("Normal"),
                         QStringLiteral("High"), QStringLiteral("Highest")});
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(QStringLiteral("Normal"));
    ComboBox2->setGeometry(234, 69, 101, 22);

    Panel2 = loweredPanel(client, 8, 192, 400, 45);
    PassOverBtn2 = hoverButton(Panel2, "Show result as Webpage", artwork::ReportGlyph(), clYellow,
                               10, 7, 180, 32);
    PassOverBtn4 = hoverButton(Panel2, "Exit", artwork::ExitGlyph(), clRed, 212, 7, 177, 32);

    Bevel1 = new QFrame(client);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(413, 80, 89, 156);
    Image1 = new QLabel(client);
    Image1->setGeometry(418, 83, 81, 78);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(artwork::SitePicture());
    PBar3 = verticalBar(client, 417, 2);
    PBar2 = verticalBar(client, 447, 5);
    PBar1 = verticalBar(client, 477, 10);

    StringGrid1 = new QTableWidget(254, 2, client);
    StringGrid1->setGeometry(7, 240, 495, kGridHeight);
    client->installEventFilter(this); // the grid follows the window's height
    StringGrid1->verticalHeader()->hide();
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->setColumnWidth(0, kAddressColumnWidth);
    StringGrid1->setColumnWidth(1, 50);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StringGrid1->installEventFilter(this); // Enter opens, Ctrl+C copies rows
    connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, [this] { OpenPage(); });
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::SortGrid);
    StringGrid1->setStyleSheet(QStringLiteral(
        "QTableWidget { background: #008080; color: #FFFF00; gridline-color: #006060; "
        "selection-background-color: #0080FF; selection-color: #FFFFFF; }"));

    StatusPanel0 = new QLabel(this);
    StatusPanel1 = new QLabel(this);
    StatusPanel0->setMinimumWidth(300);
    statusBar()->addWidget(StatusPanel0, 1);
    statusBar()->addPermanentWidget(StatusPanel1);

    URLLabel1 = new TURLLabel(client);
    URLLabel1->setText(QStringLiteral("results.htm"));
    URLLabel1->move(104, 384);
    URLLabel1->hide();
    Edit2 = new QLineEdit(QStringLiteral("Edit2"), client);
    Edit2->setGeometry(56, 376, 305, 21);
    Edit2->hide();
    MP = new TVelPlayer(client);
    MP->move(48, 320);
    MP->SetMediaFiles({"", "1.wav", "2.wav", "3.wav", "4.wav"});
    MP->SetMediaFileIndex(0);
    MP->hide();

    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer2->start();

    AppDlg1 = new TAppDlg(this);
    AppDlg1->Version = "1.4";
    AppDlg1->Info = "2000-12-01";
    // Short enough to stay clear of the logo beside it.
    AppDlg1->Copyright = "(c) 2026 Netquarry";

    buildFileMenu();
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Menu"));
    AboutNetquarry1 = menu->addAction(QStringLiteral("About Netquarry"));
    Exit1 = menu->addAction(QStringLiteral("Exit"));
    connect(AboutNetquarry1, &QAction::triggered, this, &TForm1::AboutNetquarry1Click);
    connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);

    // How the keywords are searched for, applied at the next scan.
    QMenu* search = menuBar()->addMenu(QStringLiteral("&Search"));
    const auto checkItem = [search](const char* text) {
        QAction* item = search->addAction(QString::fromLatin1(text));
        item->setCheckable(true);
        return item;
    };
    WholeWords1 = checkItem("Whole words");
    VisibleText1 = checkItem("Visible text only");
    RegularExpressions1 = checkItem("Regular expressions");
    AllKeywords1 = checkItem("All keywords must occur");

    // Keys of the whole window that no menu shows: the Menu keeps its items.
    CancelKey = new QAction(this);
    CancelKey->setShortcut(Qt::Key_Escape);
    addAction(CancelKey);
    connect(CancelKey, &QAction::triggered, this, [this] {
        if (m_run->Running())
            PassOverBtn3Click();
    });
    QuitKey = new QAction(this);
    QuitKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(QuitKey);
    connect(QuitKey, &QAction::triggered, this, &TForm1::Exit1Click);

    m_run = new TSearchRun(*this, m_textBuffer, this);
    connect(m_run, &TSearchRun::Finished, this, &TForm1::runFinished);
    connect(PassOverBtn1, &QPushButton::clicked, this, &TForm1::PassOverBtn1Click);
    connect(PassOverBtn5, &QPushButton::clicked, this, &TForm1::PassOverBtn5Click);
    connect(PassOverBtn3, &QPushButton::clicked, this, &TForm1::PassOverBtn3Click);
    connect(PassOverBtn2, &QPushButton::clicked, this, &TForm1::PassOverBtn2Click);
    connect(PassOverBtn4, &QPushButton::clicked, this, &TForm1::PassOverBtn4Click);
}

void TForm1::buildFileMenu()
{
    FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    OpenCrawl1 = FileMenu->addAction(QStringLiteral("Open Crawl..."));
    OpenCrawl1->setShortcut(QKeySequence::Open);
    SaveCrawlAs1 = FileMenu->addAction(QStringLiteral("Save Crawl As..."));
    SaveCrawlAs1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveCrawlAs1->setEnabled(false); // until a run has finished
    connect(OpenCrawl1, &QAction::triggered, this, &TForm1::OpenCrawlClick);
    connect(SaveCrawlAs1, &QAction::triggered, this, &TForm1::SaveCrawlAsClick);
    FileMenu->addSeparator();
    SaveReportAs1 = FileMenu->addAction(QStringLiteral("Save Report As..."));
    SaveReportAs1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    ExportCsv1 = FileMenu->addAction(QStringLiteral("Export Results as CSV..."));
    ExportCsv1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(SaveReportAs1, &QAction::triggered, this, &TForm1::SaveReportAsClick);
    connect(ExportCsv1, &QAction::triggered, this, &TForm1::ExportCsvClick);
}

void TForm1::buildHelpMenu()
{
    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    UserGuide1 = HelpMenu->addAction(QStringLiteral("User Guide"));
    UserGuide1->setShortcut(QKeySequence(Qt::Key_F1));
    Shortcuts1 = HelpMenu->addAction(QStringLiteral("Keyboard Shortcuts"));
    connect(UserGuide1, &QAction::triggered, this, &TForm1::UserGuideClick);
    connect(Shortcuts1, &QAction::triggered, this, &TForm1::ShortcutsClick);
}

void TForm1::buildGridActions()
{
    OpenPage1 = new QAction(QStringLiteral("Open Page"), StringGrid1);
    CopyAddress1 = new QAction(QStringLiteral("Copy Address"), StringGrid1);
    CopyRow1 = new QAction(QStringLiteral("Copy Row"), StringGrid1);
    CopyRow1->setShortcut(QKeySequence::Copy);
    CopyRow1->setShortcutContext(Qt::WidgetShortcut);
    SortByPageOrder1 = new QAction(QStringLiteral("Sort by Page Order"), StringGrid1);
    auto* separator = new QAction(StringGrid1);
    separator->setSeparator(true);
    StringGrid1->addActions({OpenPage1, CopyAddress1, CopyRow1, separator, SortByPageOrder1});
    StringGrid1->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(OpenPage1, &QAction::triggered, this, &TForm1::OpenPage);
    connect(CopyAddress1, &QAction::triggered, this, &TForm1::CopyAddress);
    connect(CopyRow1, &QAction::triggered, this, &TForm1::CopyRows);
    connect(SortByPageOrder1, &QAction::triggered, this, [this] {
        m_sortColumn = -1;
        showAllRows();
    });
}

void TForm1::AttachWindows(TForm2* form2, TProgress* progress)
{
    m_form2 = form2;
    m_progress = progress;
}

void TForm1::FormCreate()
{
    QStringList failed;
    QString reason;
    for (const auto& [resource, fileName] : kResources) {
        QFile source(QString::fromLatin1(resource));
        bool written = source.open(QIODevice::ReadOnly);
        // Staged and renamed into place: a link planted under one of these
        // names is replaced, not written through.
        try {
            if (written) {
                const QByteArray bytes = source.readAll();
                StagedFile staged(fileName);
                staged.Write(
                    std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
                staged.Commit();
            }
        } catch (const EInOutError& e) {
            written = false;
            if (reason.isEmpty())
                reason = QString::fromLocal8Bit(std::strerror(e.ErrorCode));
        }
        if (!written) {
            failed << QString::fromLatin1(fileName);
            if (reason.isEmpty())
                reason = source.errorString();
        }
    }
    // One message for all of them, and the rest of start-up goes on: the
    // window works without them.
    if (!failed.isEmpty())
        ShowMessageBox(ToUtf8((failed.size() == 1 ? QStringLiteral("Cannot create file ")
                                                  : QStringLiteral("Cannot create files ")) +
                              failed.join(QStringLiteral(", ")) + QStringLiteral(" in ") +
                              QDir::toNativeSeparators(QDir::currentPath()) + QStringLiteral(": ") +
                              reason),
                       TMsgKind::Error);
    StringGrid1->setHorizontalHeaderLabels(
        {QStringLiteral("  Pagename"), QStringLiteral("  Hits")});
    StringGrid1->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Timer2Timer();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // The grid takes what the window gains, its address column all of the
    // width; everything else stays where the design put it.
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        const int height = kGridHeight + this->height() - kDesignSize.height();
        const int wider = std::max(width() - kDesignSize.width(), 0);
        StringGrid1->resize(kGridWidth + wider, std::max(height, kMinGridHeight));
        StringGrid1->setColumnWidth(0, kAddressColumnWidth + wider);
        return false;
    }
    if (watched == StringGrid1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            OpenPage();
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            CopyRows();
            return true;
        }
    }
    // ComboBox1KeyDown, and the same for the keyword box: Enter scans,
    // except while a run is going on.
    if ((watched == ComboBox1 || watched == Edit1) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (!m_run->Running())
                PassOverBtn1Click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::PassOverBtn5Click()
{
    Edit2->clear();
    Edit2->paste();
    ComboBox1->setEditText(Edit2->text());
    PassOverBtn1Click();
}

void TForm1::PassOverBtn1Click()
{
    if (m_crawl && !m_openedAddress.isEmpty() && ComboBox1->currentText() == m_openedAddress) {
        searchOpenedCrawl();
        return;
    }
    m_openedAddress.clear();
    // Keywords that cannot be searched for start nothing, and leave the
    // last run's crawl as it was. A scan for nothing lists the site as it
    // always did: recorded, it would fetch every page a second time.
    const TKeywordCounter counter = TSearchRun::CounterFor(Settings());
    if (counter.Error().empty() && counter.NothingToFind()) {
        m_crawl.reset();
        m_recordError = StoreError{};
    } else if (counter.Error().empty()) {
        recordNextRun();
    }
    m_run->Start(Settings());
    if (!m_run->Running() && m_recording)
        runFinished(); // it ended before it began
}

void TForm1::recordNextRun()
{
    m_crawl.reset();
    m_recordError = StoreError{};
    if (!m_recordFolder)
        m_recordFolder = std::make_unique<QTemporaryDir>();
    const QString path = m_recordFolder->filePath(QStringLiteral("last") + kCrawlSuffix);
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    StoreError error;
    std::unique_ptr<CrawlFile> file =
        CrawlFile::Open(ToUtf8(path), CrawlFile::Mode::Create, &error);
    if (!file) {
        m_recordError = error; // the scan goes on; saving it will say why it cannot
        return;
    }
    m_recording = std::make_unique<CrawlWriter>(std::move(file));
    m_run->SaveTo(m_recording.get());
}

void TForm1::runFinished()
{
    if (m_recording) {
        m_run->SaveTo(nullptr);
        const StoreError written = m_recording->Finish();
        m_recording.reset();
        const String path = ToUtf8(m_recordFolder->filePath(QStringLiteral("last") + kCrawlSuffix));
        StoreError error;
        m_crawl = written ? nullptr : CrawlFile::Open(path, CrawlFile::Mode::Read, &error);
        m_recordError = written ? written : error;
        // A run refused before its crawl began has nothing to save.
        if (m_crawl && m_crawl->Settings().Address.empty())
            m_crawl.reset();
    }
    SaveCrawlAs1->setEnabled(m_crawl || m_recordError);
}

void TForm1::searchOpenedCrawl()
{
    m_paintStatus = true;
    m_run->SearchSaved(Settings(), *m_crawl);
    m_paintStatus = false;
    if (m_crawl->Error()) {
        ShowMessageBox(m_crawl->Error().Message(), TMsgKind::Error);
        m_crawl.reset(); // a file that failed once is read no more
        m_openedAddress.clear();
        SaveCrawlAs1->setEnabled(false);
    }
}

void TForm1::OpenCrawlClick()
{
    const QString path = FileDialogs().ChooseOpenFile(this, QStringLiteral("Open Crawl"),
                                                      documentsFolder(), kCrawlFilter);
    if (path.isEmpty())
        return;
    StoreError error;
    std::unique_ptr<CrawlFile> file = CrawlFile::Open(ToUtf8(path), CrawlFile::Mode::Read, &error);
    const CrawlSettings saved = file ? file->Settings() : CrawlSettings{};
    if (file && file->Error())
        error = file->Error();
    if (error) {
        ShowMessageBox(error.Message(), TMsgKind::Error);
        return;
    }
    m_crawl = std::move(file);
    m_recordError = StoreError{};
    // The controls show the saved run, as the report will.
    m_openedAddress = DecodeWebText(saved.Address);
    ComboBox1->setEditText(m_openedAddress);
    Edit1->setText(DecodeWebText(saved.Keywords));
    CheckBox1->setChecked(saved.CaseSensitive);
    if (saved.Depth >= 1 && saved.Depth <= ComboBox2->count())
        ComboBox2->setCurrentIndex(saved.Depth - 1);
    searchOpenedCrawl();
}

void TForm1::SaveCrawlAsClick()
{
    if (m_recordError) {
        ShowMessageBox(m_recordError.Message(), TMsgKind::Error);
        return;
    }
    if (!m_crawl)
        return;
    const QString host = QUrl(DecodeWebText(m_crawl->Settings().Address)).host();
    QString path = FileDialogs().ChooseSaveFile(
        this, QStringLiteral("Save Crawl As"),
        documentsFolder() + QLatin1Char('/') + (host.isEmpty() ? QStringLiteral("crawl") : host) +
            kCrawlSuffix,
        kCrawlFilter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(kCrawlSuffix))
        path += kCrawlSuffix;
    const StoreError error = m_crawl->CopyTo(ToUtf8(path));
    if (error)
        ShowMessageBox(error.Message(), TMsgKind::Error);
    else
        StatusChanged(ToUtf8(QStringLiteral(" Crawl saved in ") + QDir::toNativeSeparators(path) +
                             QLatin1Char('.')));
}

void TForm1::PassOverBtn3Click()
{
    m_run->Cancel();
}

void TForm1::PassOverBtn2Click()
{
    const TReportResult report = m_run->WriteReport();
    if (!report.Written)
        ShowMessageBox(report.Failure, TMsgKind::Error);
}

void TForm1::PassOverBtn4Click()
{
    PlaySoundGuarded(3);
    close();
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::Timer2Timer()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    StatusPanel1->setText(QStringLiteral("   ") +
                          locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                          locale.toString(now.time(), QLocale::LongFormat));
}

void TForm1::AboutNetquarry1Click()
{
    AppDlg1->Execute();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TForm1::FormClose()
{
    PlaySoundGuarded(1);
    // The closing sound plays out; nothing else happens meanwhile.
    QThread::msleep(static_cast<unsigned long>(std::max(CloseDelayMs, 0)));
    m_run->StopTransfers();
}

void TForm1::PlaySoundGuarded(Integer index)
{
    try {
        PlaySound(index);
    } catch (...) {
        // A sound that cannot play is no reason to keep the window open.
    }
}

String TForm1::AddressText() const
{
    return ToUtf8(ComboBox1->currentText());
}

void TForm1::SetAddressText(const String& text)
{
    ComboBox1->setEditText(DecodeWebText(text));
}

String TForm1::KeywordText() const
{
    return ToUtf8(Edit1->text());
}

String TForm1::DepthText() const
{
    return ToUtf8(ComboBox2->currentText());
}

SearchSettings TForm1::Settings() const
{
    SearchSettings settings;
    settings.address = AddressText();
    settings.keywords = KeywordText();
    settings.depthIndex = ComboBox2->currentIndex();
    settings.caseSensitive = CheckBox1->isChecked();
    settings.wholeWords = WholeWords1->isChecked();
    settings.visibleText = VisibleText1->isChecked();
    settings.patterns = RegularExpressions1->isChecked();
    settings.allKeywords = AllKeywords1->isChecked();
    return settings;
}

std::vector<String> TForm1::History() const
{
    std::vector<String> items;
    for (int i = 0; i < ComboBox1->count(); ++i)
        items.push_back(ToUtf8(ComboBox1->itemText(i)));
    return items;
}

void TForm1::AppendHistory(const String& address)
{
    const QString text = ComboBox1->currentText();
    ComboBox1->addItem(DecodeWebText(address));
    ComboBox1->setEditText(text); // adding the first entry would select it
}

void TForm1::setButtons(bool scan, bool cancel, bool report)
{
    PassOverBtn1->setEnabled(scan);
    PassOverBtn5->setEnabled(scan);
    PassOverBtn3->setEnabled(cancel);
    PassOverBtn2->setEnabled(report);
    OpenCrawl1->setEnabled(scan);
    SaveCrawlAs1->setEnabled(report && (m_crawl || m_recordError));
    SaveReportAs1->setEnabled(report);
    ExportCsv1->setEnabled(report);
}

void TForm1::PhaseChanged(Phase phase)
{
    switch (phase) {
    case Phase::Crawling:
        setButtons(false, true, false);
        if (m_progress)
            m_progress->show();
        break;
    case Phase::Searching:
        PBar2->setValue(0);
        if (m_progress)
            m_progress->hide();
        break;
    case Phase::Idle:
        setButtons(true, false, true);
        if (m_progress)
            m_progress->hide();
        break;
    }
}

void TForm1::StatusChanged(const String& text)
{
    StatusPanel0->setText(DecodeWebText(text));
    if (std::exchange(m_paintStatus, false))
        StatusPanel0->repaint(); // the search holds the event loop until it is done
}

void TForm1::ResultsCleared()
{
    m_rows.clear();
    m_order.clear();
    m_sortColumn = -1;
    m_resortPending = false;
    StringGrid1->horizontalHeader()->setSortIndicatorShown(false);
    StringGrid1->clearContents();
    StringGrid1->setRowCount(254);
}

void TForm1::PageFound(const String&)
{
    if (m_progress)
        m_progress->FlipPictures();
}

void TForm1::CrawlProgress(const CrawlFigures& figures)
{
    PBar1->setValue(std::min(figures.InQueue, 10));
    PBar2->setValue(std::min(figures.Downloading, 5));
    PBar3->setValue(std::min(figures.ToAnalyze, 2));
}

void TForm1::RowFilled(Integer row, const TPageEntry& entry)
{
    if (row < 1)
        return;
    const auto index = static_cast<std::size_t>(row - 1);
    if (m_rows.size() <= index)
        m_rows.resize(index + 1);
    GridRow& shown = m_rows[index];
    shown.name = DecodeWebText(MaskPasswords(entry.Name));
    shown.hits = entry.Hits;
    shown.address = DecodeWebText(MaskPasswords(entry.Address()));
    // A page not searched has no count, which is not a count of 0.
    shown.counted = entry.State == TPageState::Searched || entry.State == TPageState::Failed;
    shown.tip =
        entry.State == TPageState::Searched
            ? QString()
            : DecodeWebText(MaskPasswords(entry.Address()) + " (" + PageStatus(entry) + ")");
    if (m_sortColumn >= 0) {
        // Rows come one after another: sort once they are all in.
        if (!std::exchange(m_resortPending, true))
            QTimer::singleShot(0, this, [this] {
                if (m_resortPending)
                    showAllRows();
            });
        return;
    }
    if (StringGrid1->rowCount() < row)
        StringGrid1->setRowCount(row);
    showRow(row - 1, shown);
    StringGrid1->setCurrentCell(row - 1, 0);
    StringGrid1->scrollToItem(StringGrid1->item(row - 1, 0));
}

void TForm1::showRow(int gridRow, const GridRow& row)
{
    auto* name = new QTableWidgetItem(row.name);
    name->setData(Qt::UserRole, static_cast<int>(&row - m_rows.data()));
    auto* hits = new QTableWidgetItem;
    if (row.counted)
        hits->setData(Qt::DisplayRole, row.hits);
    name->setToolTip(row.tip);
    hits->setToolTip(row.tip);
    StringGrid1->setItem(gridRow, 0, name);
    StringGrid1->setItem(gridRow, 1, hits);
}

void TForm1::showAllRows()
{
    m_resortPending = false;
    m_order.resize(m_rows.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    const auto rowAt = [this](int i) -> const GridRow& {
        return m_rows[static_cast<std::size_t>(i)];
    };
    if (m_sortColumn == 1)
        std::stable_sort(m_order.begin(), m_order.end(),
                         [&](int a, int b) { return rowAt(a).hits > rowAt(b).hits; });
    else if (m_sortColumn == 0)
        std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
            return rowAt(a).name.compare(rowAt(b).name, Qt::CaseInsensitive) < 0;
        });
    StringGrid1->clearContents();
    StringGrid1->setRowCount(std::max(254, static_cast<int>(m_rows.size())));
    for (std::size_t i = 0; i < m_order.size(); ++i)
        showRow(static_cast<int>(i), rowAt(m_order[i]));
    QHeaderView* header = StringGrid1->horizontalHeader();
    header->setSortIndicatorShown(m_sortColumn >= 0);
    if (m_sortColumn >= 0)
        header->setSortIndicator(m_sortColumn,
                                 m_sortColumn == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TForm1::SortGrid(int column)
{
    m_sortColumn = column == m_sortColumn ? -1 : column;
    showAllRows();
}

std::vector<int> TForm1::selectedRows() const
{
    std::vector<int> gridRows;
    for (const QModelIndex& index : StringGrid1->selectionModel()->selectedRows())
        gridRows.push_back(index.row());
    if (gridRows.empty() && StringGrid1->currentRow() >= 0)
        gridRows.push_back(StringGrid1->currentRow());
    std::sort(gridRows.begin(), gridRows.end());
    std::vector<int> rows;
    for (const int gridRow : gridRows) {
        if (const QTableWidgetItem* item = StringGrid1->item(gridRow, 0))
            rows.push_back(item->data(Qt::UserRole).toInt());
    }
    return rows;
}

void TForm1::OpenPage()
{
    const QTableWidgetItem* item = StringGrid1->item(StringGrid1->currentRow(), 0);
    if (!item)
        return;
    const GridRow& row = m_rows[static_cast<std::size_t>(item->data(Qt::UserRole).toInt())];
    openInBrowser(row.address, QStringLiteral("the page"));
}

void TForm1::CopyAddress()
{
    QStringList lines;
    for (const int row : selectedRows())
        lines << m_rows[static_cast<std::size_t>(row)].address;
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void TForm1::CopyRows()
{
    QString text;
    for (const int row : selectedRows()) {
        const GridRow& shown = m_rows[static_cast<std::size_t>(row)];
        text += shown.address + QLatin1Char('\t') + QString::number(shown.hits) + QLatin1Char('\n');
    }
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool TForm1::openInBrowser(const QString& path, const QString& what)
{
    if (Shell().Open(ToUtf8(path)))
        return true;
    StatusChanged(ToUtf8(QStringLiteral(" Could not start a browser for ") + what +
                         QStringLiteral(": ") + path));
    ShowMessageBox(ToUtf8(QStringLiteral("Could not start a browser for ") + what +
                          QStringLiteral(". Open ") + path + QStringLiteral(" by hand.")),
                   TMsgKind::Warning);
    return false;
}

void TForm1::SaveReportAsClick()
{
    const QString folder =
        FileDialogs().ChooseFolder(this, QStringLiteral("Save Report As"), QDir::currentPath());
    if (folder.isEmpty())
        return;
    const TReportResult report = m_run->SaveReport(folder);
    if (!report.Written)
        ShowMessageBox(report.Failure, TMsgKind::Error);
    else
        StatusChanged(ToUtf8(QStringLiteral(" Report saved in ") +
                             QDir::toNativeSeparators(folder) + QLatin1Char('.')));
}

void TForm1::ExportCsvClick()
{
    const QString path = FileDialogs().ChooseSaveFile(
        this, QStringLiteral("Export Results as CSV"),
        QDir::current().absoluteFilePath(QStringLiteral("results.csv")),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        CsvColumns columns;
        columns.snippets = m_run->Settings().snippets > 0;
        WriteResultsCsv(m_run->Rows(), m_run->Data().KeywordList, columns,
                        [&file](std::string_view text) {
                            file.write(text.data(), static_cast<qint64>(text.size()));
                        });
        if (file.commit()) {
            StatusChanged(ToUtf8(QStringLiteral(" Results exported to ") +
                                 QDir::toNativeSeparators(path) + QLatin1Char('.')));
            return;
        }
    }
    ShowMessageBox(ToUtf8(QStringLiteral("Cannot write ") + QDir::toNativeSeparators(path) +
                          QStringLiteral(": ") + file.errorString()),
                   TMsgKind::Error);
}

void TForm1::UserGuideClick()
{
    // The README's user part, as a page the browser shows.
    QFile readme(QStringLiteral(":/README.md"));
    QString text =
        readme.open(QIODevice::ReadOnly) ? QString::fromUtf8(readme.readAll()) : QString();
    text.truncate(text.indexOf(QStringLiteral("\n## Installing")));
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeIf([](const QString& line) { return line.startsWith(QStringLiteral("![")); });
    QTextDocument guide;
    guide.setMarkdown(lines.join(QLatin1Char('\n')));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QSaveFile page(folder + QStringLiteral("/user-guide.html"));
    if (!QDir().mkpath(folder) || !page.open(QIODevice::WriteOnly) ||
        page.write(guide.toHtml().toUtf8()) < 0 || !page.commit()) {
        ShowMessageBox(ToUtf8(QStringLiteral("Cannot create file ") + page.fileName() +
                              QStringLiteral(": ") + page.errorString()),
                       TMsgKind::Error);
        return;
    }
    openInBrowser(page.fileName(), QStringLiteral("the user guide"));
}

void TForm1::ShortcutsClick()
{
    ShowMessageBox("Keyboard shortcuts\n\n"
                   "Enter in the address or keyword box: Scan/Search site\n"
                   "Esc: Cancel a running scan\n"
                   "Ctrl+O: Open Crawl...\n"
                   "Ctrl+S: Save Crawl As...\n"
                   "Ctrl+Shift+S: Save Report As...\n"
                   "Ctrl+E: Export Results as CSV...\n"
                   "Enter or double-click in the grid: open the page in the browser\n"
                   "Ctrl+C in the grid: copy the selected rows (address, hits)\n"
                   "Click on a column heading: sort by it; click again for page order\n"
                   "F1: User Guide\n"
                   "Ctrl+Q: Exit",
                   TMsgKind::Information);
}

void TForm1::PlaySound(Integer index)
{
    MP->PlayMediaFile(index);
}

void TForm1::OpenResultsPage()
{
    if (!URLLabel1->Click()) {
        const QString path =
            QDir::toNativeSeparators(QDir::current().absoluteFilePath(URLLabel1->text()));
        StatusChanged(ToUtf8(QStringLiteral(" Could not start a browser for the report: ") + path));
        ShowMessageBox(ToUtf8(QStringLiteral("Could not start a browser for the report. Open ") +
                              path + QStringLiteral(" by hand.")),
                       TMsgKind::Warning);
    }
}
