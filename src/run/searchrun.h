#pragma once

#include "httpget.h"
#include "nqtypes.h"
#include "reportwriter.h"
#include "runview.h"
#include "ruzizidu.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <unordered_set>

// A scan-and-search run: from the scan button to "Ready." Crawls the site,
// collects its pages and other links, downloads every page again into
// "cache.txt", counts the keyword hits and lists them; the report is written
// from what the run leaves behind. Reaches the window only through its view.
class TSearchRun : public QObject
{
    Q_OBJECT

public:
    enum TRunState
    {
        Idle,
        Crawling,
        Fetching,
    };

    explicit TSearchRun(IRunView& view, QObject* owner = nullptr);

    // Entry points from the window; none lets an exception through.
    void PassOverBtn1Click(); // scan
    void PassOverBtn3Click(); // cancel
    void PassOverBtn2Click(); // report

    TRunState State() const { return m_state; }

    // The pause between one page's hits and the next page's download.
    void SetNextPageDelay(int milliseconds) { m_timer1.setInterval(milliseconds); }
    bool Running() const { return m_state != Idle; }

    // What the run leaves behind, and its state.
    TRunData Data;
    String SiteRoot;
    String StatusPrefix;
    bool CrawlerLive = false;
    bool FetchActive = false;
    bool FirstLinkPending = false;
    TRuziZidu* Crawler() const { return m_crawler.data(); }
    THTTPGet* Fetcher() const { return m_fetcher; }

    static constexpr const char* CacheFile = "cache.txt";

private:
    void ScanAction();
    void CancelAction();
    void ResetRun();
    void ParseKeywords();
    void CrawlerLinkFound(TObject* sender, const String& UrlFound, const String& TypeLink);
    void CrawlerUpdatedStats(TObject* sender, Integer InQueue, Integer Downloading,
                             Integer ToAnalyze, Integer Done, Integer Retries, Integer Errors);
    void CrawlerWorking(TObject* sender, bool working);
    void CrawlFinished();
    void FetcherDoneFile();
    void FetcherError();
    void Timer1Timer();
    Integer FindNextKeyword(const QString& Keyword);
    void FinishRun();

    void startDownload(const String& url);
    bool currentDownload() const;
    // True for an event of the download the run waits for, in a live run.
    bool acceptDownloadEvent();
    void staleDownloadDone();
    void countHits();
    void playSound(Integer index);
    void setButtons(bool scan, bool cancel, bool report);
    void setPageNames();
    const String& pageName(Integer index) const;

    IRunView& m_view;
    TRunState m_state = Idle;
    QPointer<TRuziZidu> m_crawler;
    THTTPGet* m_fetcher;
    QTimer m_timer1;
    // Lower-case copies of the lists, for their case-blind membership test.
    std::unordered_set<String> m_pageKeys;
    std::unordered_set<String> m_linkKeys;
    // The download the run is waiting for; another one's events are stale.
    const QObject* m_currentWorker = nullptr;
    bool m_downloadDeferred = false;
    String m_deferredUrl;
};
