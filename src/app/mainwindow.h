// The main window (TForm1): the inputs, the result grid and the buttons, as a view of the run.

#pragma once

#include "crawlfile.h"
#include "runview.h"
#include "searchrun.h"

#include <QMainWindow>

#include <memory>

class CrawlWriter;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTableWidget;
class QTemporaryDir;
class QTimer;
class TAppDlg;
class TForm2;
class TPassOverBtn;
class TProgress;
class TURLLabel;
class TVelPlayer;

// The main window: the address, keywords and depth, the five command
// buttons, the result grid, the status bar and the menu. The run of a
// search lives in TSearchRun; the window is its view.
class TForm1 : public QMainWindow, public IRunView
{
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The text window and the pop-up are made after the main window.
    void AttachWindows(TForm2* form2, TProgress* progress);

    // Milliseconds the window waits after the closing sound.
    int CloseDelayMs = 2000;

    const TSearchRun& Run() const { return *m_run; }

    // Controls, by their layout names.
    QFrame* Panel3 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TPassOverBtn* PassOverBtn1 = nullptr;
    TPassOverBtn* PassOverBtn5 = nullptr;
    TPassOverBtn* PassOverBtn3 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QFrame* Panel2 = nullptr;
    TPassOverBtn* PassOverBtn2 = nullptr;
    TPassOverBtn* PassOverBtn4 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Image1 = nullptr;
    QProgressBar* PBar1 = nullptr;
    QProgressBar* PBar2 = nullptr;
    QProgressBar* PBar3 = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    TURLLabel* URLLabel1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    TVelPlayer* MP = nullptr;
    QTimer* Timer2 = nullptr;
    TAppDlg* AppDlg1 = nullptr;
    QAction* AboutNetquarry1 = nullptr;
    QAction* Exit1 = nullptr;
    // The Search menu's check items, read when a scan starts.
    QAction* WholeWords1 = nullptr;
    QAction* VisibleText1 = nullptr;
    QAction* RegularExpressions1 = nullptr;
    QAction* AllKeywords1 = nullptr;

    // Beyond the design: the File and Help menus, the keys, the grid's menu.
    QMenu* FileMenu = nullptr;
    QAction* OpenCrawl1 = nullptr;
    QAction* SaveCrawlAs1 = nullptr;
    QAction* SaveReportAs1 = nullptr;
    QAction* ExportCsv1 = nullptr;
    QMenu* HelpMenu = nullptr;
    QAction* UserGuide1 = nullptr;
    QAction* Shortcuts1 = nullptr;
    QAction* CancelKey = nullptr; // Esc
    QAction* QuitKey = nullptr;   // Ctrl+Q
    QAction* OpenPage1 = nullptr;
    QAction* CopyAddress1 = nullptr;
    QAction* CopyRow1 = nullptr;
    QAction* SortByPageOrder1 = nullptr;

    // Handlers.
    void FormCreate();
    void PassOverBtn1Click();
    void PassOverBtn3Click();
    void PassOverBtn2Click();
    void PassOverBtn5Click();
    void PassOverBtn4Click();
    void Timer2Timer();
    void AboutNetquarry1Click();
    void Exit1Click();
    // A saved crawl: opened, it fills the grid, and Scan searches it again
    // while the address box holds its address; any other address is crawled.
    void OpenCrawlClick();
    // The last run's crawl into a file of the user's choice.
    void SaveCrawlAsClick();
    void SaveReportAsClick();
    void ExportCsvClick();
    void UserGuideClick();
    void ShortcutsClick();

    // The grid: sorted by a column (hits descending, addresses ascending), or
    // in page order with -1; a second click on the same column restores it.
    void SortGrid(int column);
    int SortColumn() const { return m_sortColumn; }
    void OpenPage();
    void CopyAddress();
    // The selected rows as "address TAB hits" lines.
    void CopyRows();

    // What the controls ask of a run.
    SearchSettings Settings() const;

    // The run's view of the controls.
    String AddressText() const override;
    String KeywordText() const override;
    String DepthText() const override;
    void SetAddressText(const String& text) override;
    std::vector<String> History() const override;
    void AppendHistory(const String& address) override;
    void PhaseChanged(Phase phase) override;
    void StatusChanged(const String& text) override;
    void ResultsCleared() override;
    void PageFound(const String& address) override;
    void CrawlProgress(const CrawlFigures& figures) override;
    void RowFilled(Integer row, const TPageEntry& entry) override;
    void PlaySound(Integer index) override;
    void OpenResultsPage() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct GridRow
    {
        QString name; // as shown: the address, or "Invalid URL"
        Integer hits = 0;
        QString address;
        bool counted = false; // has a count to show; a page not searched has none
        QString tip;          // a page not searched: its address and status
    };

    void buildControls();
    void buildFileMenu();
    void buildHelpMenu();
    void buildGridActions();
    void showRow(int gridRow, const GridRow& row);
    void showAllRows();
    std::vector<int> selectedRows() const;
    bool openInBrowser(const QString& path, const QString& what);
    void FormClose();
    void PlaySoundGuarded(Integer index);

    void setButtons(bool scan, bool cancel, bool report);
    void recordNextRun();
    void runFinished();
    void searchOpenedCrawl();

    // The buffer each page's text is searched in.
    TMemo m_textBuffer;
    TSearchRun* m_run = nullptr;
    TForm2* m_form2 = nullptr;
    TProgress* m_progress = nullptr;
    std::vector<GridRow> m_rows; // in page order
    std::vector<int> m_order;    // grid row -> index in m_rows, while sorted
    int m_sortColumn = -1;
    bool m_resortPending = false;

    // Every scan is recorded in a file of this folder, for Save Crawl As.
    std::unique_ptr<QTemporaryDir> m_recordFolder;
    // The last run's crawl: the file opened, or the record of the last scan.
    std::unique_ptr<CrawlFile> m_crawl;
    QString m_openedAddress;                  // the opened crawl's address; empty: Scan crawls
    std::unique_ptr<CrawlWriter> m_recording; // during a scan
    StoreError m_recordError;                 // why the last scan's record cannot be saved
    bool m_paintStatus = false; // shown at once: a saved crawl is searched without a pause
};
