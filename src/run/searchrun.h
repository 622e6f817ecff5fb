// TSearchRun: one scan-and-search run, from the scan to "Ready."

#pragma once

#include "caseblindindex.h"
#include "crawler.h"
#include "crawlrecorder.h"
#include "crawlscope.h"
#include "keywordcount.h"
#include "nqtypes.h"
#include "pagefetch.h"
#include "reportwriter.h"
#include "robots.h"
#include "runaccount.h"
#include "runview.h"
#include "searchsettings.h"
#include "textbuffer.h"

#include <QObject>

namespace inet {
struct SiteAccess;
}

#include <QPointer>
#include <QString>
#include <any>

#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// What became of a report.
struct TReportResult
{
    bool Written = false;
    String
        Failure; // when not written: why, as the user is told ("cannot write DIR/results.htm: ...")
};

// A scan-and-search run: from the scan to "Ready." Crawls the site, collects
// its pages and other links, counts the keyword hits of every page the crawl
// receives, downloads the pages it did not receive, and lists them all; the
// report is written from what the run leaves behind. Reaches the window only
// through its view.
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

    // textBuffer: where each page's text is searched; it holds the last one.
    TSearchRun(IRunView& view, TMemo& textBuffer, QObject* owner = nullptr);
    ~TSearchRun() override;

    // Start and Cancel let no exception through: an error is shown and the
    // action ends. Start runs with settings; the address it crawls, with "http://" added
    // when it had no scheme, goes back to the view's address box.
    void Start(const SearchSettings& settings);
    void Cancel();
    // Writes the report into the working folder; a file that cannot be
    // written ends it and comes back as the result, not as a message.
    [[nodiscard]] TReportResult WriteReport();
    // The same report and its logo into folder, opening nothing.
    [[nodiscard]] TReportResult SaveReport(const QString& folder);
    // Stops the crawl and every download without ending the run, for a
    // window that is closing.
    void StopTransfers();
    // From the next Start on, what the run fetches is kept in writer's
    // file; null keeps nothing. The writer outlives the runs it keeps.
    void SaveTo(CrawlWriter* writer);
    // The same, into a file that holds a crawl already: a resume fetches
    // none of the pages it holds, an update asks for each only if it
    // changed. held: what the file holds, read before the writer took it.
    void SaveTo(CrawlWriter* writer, TCrawlRecorder::Kind kind, TCrawlRecorder::Held held);
    // Searches a saved crawl instead of the web, with settings' keywords and
    // search options: the rows, statuses and report a live search of the
    // same pages gives, and no transfer. Over when it returns.
    void SearchSaved(const SearchSettings& settings, CrawlFile& saved);

    TRunState State() const { return m_state; }
    bool Running() const { return m_state != Idle; }
    const TRunOutcome& Outcome() const { return m_outcome; }
    // The result rows in page order: one per page found.
    std::span<const TPageEntry> Rows() const;

    // The keyword list of settings (the keyword text's, then those given
    // exactly) and how it is searched for. Its Error() tells why a run with
    // these settings would start nothing.
    static TKeywordCounter CounterFor(const SearchSettings& settings);

    // The settings of the current or last run.
    const SearchSettings& Settings() const { return m_settings; }
    // What the run tells servers it is when the settings name nothing else:
    // the product, so that site owners can address it in robots.txt.
    static String DefaultAgent();
    // Pages searched and not, with the reasons, for the summary.
    TRunAccount Account() const;
    // The hosts' clock, for tests that move time; empty: the steady clock.
    THostPolicy::TClock PolicyClock;
    // Transfers at a time in the search phase, as in the crawl.
    static constexpr int kSearchTransfers = 5;
    // Downloads of one page in the search phase when its host asks to wait.
    static constexpr int kSearchTries = 3;

    // What the run leaves behind: the lists, the page table, the counts.
    const TRunData& Data() const { return m_data; }
    // Scheme and host of the site, where the start address led; its pages
    // are listed as pages, the rest as links.
    const String& SiteRoot() const { return m_siteRoot; }
    // The crawler of the current or last run, for a look at its state.
    const TRuziZidu* Crawler() const { return m_crawler.data(); }

signals:
    // The run is over, however it ended (Outcome() says how); the view has
    // had its RunFinished.
    void Finished();

private:
    void ScanAction();
    // False: the run could not start, and has said why.
    bool beginRun();
    void replaySaved(CrawlFile& saved);
    void readSavedPages();
    // A resumed crawl searches the pages its file holds from there.
    void reuseKeptPages();
    TCrawlRecorder* recorderFor(TObject* sender) const;
    void recordOutcome();
    void CancelAction();
    void ResetRun();
    bool ParseKeywords();
    void CrawlerLinkFound(TObject* sender, const String& UrlFound, const String& TypeLink,
                          const String& HostName, bool& FollowIfHtmlLink);
    void CrawlerStartMoved(TObject* sender, const String& FinalUrl);
    void CrawlerPageReceived(TObject* sender, const String& Url, const String& Body);
    void CrawlerPageAnalysed(TObject* sender, const String& Url, const std::any& Analysis);
    void CrawlerUpdatedStats(TObject* sender, Integer InQueue, Integer Downloading,
                             Integer ToAnalyze, Integer Done, Integer Retries, Integer Errors);
    void CrawlerFailed(TObject* sender, const String& Url, const TransferError& Error);
    void CrawlerWorking(TObject* sender, bool working);
    void CrawlFinished();
    // What the crawl left out of pages with too many links, for the account.
    void takeCrawlFigures();
    void FinishRun();
    void FailStart();
    void refuseScheme(const String& address);

    // The start host's credentials, headers and cookies, for every transfer.
    void grantSiteAccess();
    void bindCrawler(TRuziZidu* crawler);
    void fetchRobots();
    // After robots.txt: the site's sitemaps, one at a time, then the crawl.
    void fetchSitemaps();
    void nextSitemap();
    void dropRobotsFetch();
    void startCrawl();
    void addPage(const String& address);
    // The agent text the settings name, or the product's own.
    String agent() const;
    // Pages the crawl received become searched rows, with their counts;
    // those it gave up on after a timeout become failed ones.
    void applyCrawlCounts();
    // ", 2 not searched" when rows so far were not searched; "" otherwise.
    String notSearchedNote() const;
    void makeFetchers();
    void dispatchDownloads();
    void dispatchLater();
    // Wakes the search's downloads when the paced host may be asked again.
    void armPaceTimer();
    // A 429 or 503: true when the page was put back to wait for its host.
    bool backOff(THTTPGet* fetcher, Integer page);
    void downloadDone(THTTPGet* fetcher, std::uint64_t generation, Integer page, bool ok,
                      const String& body);
    void fillReadyRows();
    void takeCounts(TPageEntry& entry, TKeywordCounts counts) const;
    void keepCrawlCounts(const String& address, const TKeywordCounts& counts);
    std::optional<TKeywordCounts> crawlCountsOf(std::size_t position, const String& address) const;
    void setPageNames();
    const String& pageName(Integer index) const;
    void playSound(Integer index);
    // Every page of the search has its row: "Ready." after the last count.
    void finishSearch();
    void announceEnd();

    IRunView& m_view;
    TMemo& m_memo;
    TRunState m_state = Idle;
    TRunOutcome m_outcome;
    SearchSettings m_settings;
    TRunData m_data;
    String m_siteRoot;
    String m_siteRootKey;       // m_siteRoot in lower case, for the per-link test
    String m_statusPrefix;      // " N pages analyzed.", before "Working..." and "Ready."
    bool m_crawlerLive = false; // m_crawler belongs to this run, not one winding down
    bool m_fetchActive = false;
    bool m_firstLinkPending = false; // the crawl has reported no link yet
    std::unique_ptr<TCrawlRecorder> m_recorder;
    CrawlFile* m_saved = nullptr; // the crawl being searched again, during SearchSaved
    QPointer<TRuziZidu> m_crawler;
    // The search phase's downloads, made anew for each run so that a stalled
    // download of an earlier run never holds up this one.
    std::vector<THTTPGet*> m_fetchers;
    std::vector<Integer> m_fetcherPage; // the page each fetcher is busy with, -1 idle
    // Bumped by every start and cancel: completions of another generation are stale.
    std::uint64_t m_generation = 0;
    std::deque<Integer> m_toDownload; // pages still to download, in order
    std::vector<int> m_tries;         // per page: downloads asked so far
    std::vector<bool> m_ready;        // per table entry: its result is in
    // Counts the crawl made, by the place of their page in the page list:
    // a row of the total and the hits per keyword, the total -1 while the
    // page has none; flat, as a big site has tens of thousands of them.
    // Those with snippets or without a count are kept whole beside them,
    // and those of an address not listed as it is, by the address.
    std::vector<Integer> m_listedHits;
    std::unordered_map<std::size_t, TKeywordCounts> m_listedOther;
    std::unordered_map<String, TKeywordCounts> m_crawlCounts;
    // Pages whose last crawl try timed out, by address: fetching them again
    // would only wait as long once more.
    std::unordered_map<String, TransferError> m_crawlTimeouts;
    Integer m_linksOverCap = 0;  // the crawl's, once it is over
    bool m_crawlStarted = false; // this run's crawl, not an earlier one's, has figures
    TKeywordCounter m_counter;   // the keyword list and how it is searched for
    String m_keywordLine;        // the keywords as the status shows them
    String m_startHost;          // lower case; where the crawl stays unless spanHosts
    bool m_startFailed = false;
    bool m_startReceived = false;
    // What each host allows and its pace, for the crawl and the search.
    std::shared_ptr<THostPolicy> m_policy;
    String m_paceNote; // the last one shown
    // Lower-case addresses a rule kept out, with the rule's word ("robots",
    // "excluded", "not searched"): listed, never fetched.
    std::unordered_map<String, String> m_keptOut;
    // Lower-case addresses whose redirect led off the site, with its target.
    std::unordered_map<String, String> m_redirects;
    // What the user's options let the crawl fetch; made anew by every run.
    std::unique_ptr<TCrawlScope> m_scope;
    // --follow-sitemaps: sitemaps still to read (address, nesting level),
    // those asked for already, and the pages they listed.
    std::vector<std::pair<String, int>> m_sitemapQueue;
    std::unordered_set<String> m_sitemapsSeen;
    std::vector<String> m_sitemapPages;
    THTTPGet* m_robotsFetch = nullptr;  // owned as a child; only for the sitemaps it names
    THTTPGet* m_sitemapFetch = nullptr; // owned as a child
    // Pages on other hosts that the crawl listed and did not fetch.
    std::unordered_set<String> m_otherHostPages;
    TRunOutcome m_startFailure;
    // The credentials the start address carried, and what the site is let in by.
    String m_addressUser;
    String m_addressPassword;
    std::shared_ptr<const inet::SiteAccess> m_access;
    // The lists' case-blind membership test.
    TCaseBlindIndex m_pageKeys;
    TCaseBlindIndex m_linkKeys;
};

// For the end of a program, after its runs are gone: lets the transfers they
// stopped end and free themselves, waiting at most milliseconds. False when
// some were still busy.
bool WaitForStoppedTransfers(int milliseconds);
