#include "searchrun.h"

#include "stringhelpers.h"
#include "textdecode.h"
#include "uithread.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kMaxNameLength = 255;
constexpr Integer kTableSize = 1001;

bool startsWithHttps(const String& text)
{
    return StartsWithNoCase(text, "https://");
}

// Runs one entry point's work; an error is shown and the action ends there.
template <typename F> void guarded(F&& work)
{
    try {
        work();
    } catch (...) {
        HandleCurrentException();
    }
}

const String kEmpty;

} // namespace

TSearchRun::TSearchRun(IRunView& view, QObject* owner)
    : QObject(owner), m_view(view), m_fetcher(new THTTPGet(this))
{
    m_fetcher->UseCache = true;
    m_fetcher->OnDoneFile = [this](TObject*, const String&, Integer) {
        guarded([this] { FetcherDoneFile(); });
    };
    m_fetcher->OnError = [this](TObject*) { guarded([this] { FetcherError(); }); };
    m_timer1.setInterval(100);
    connect(&m_timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });
    Data.PageTable.resize(kTableSize);
}

void TSearchRun::PassOverBtn1Click()
{
    guarded([this] { ScanAction(); });
}

void TSearchRun::PassOverBtn3Click()
{
    guarded([this] { CancelAction(); });
}

void TSearchRun::PassOverBtn2Click()
{
    guarded([this] {
        playSound(3);
        TReportWriter::CountHitPages(Data);
        TReportWriter::WriteReport(Data, m_view);
    });
}

void TSearchRun::playSound(Integer index)
{
    // A missing or broken sound is no reason to stop what it accompanies.
    try {
        m_view.PlaySound(index);
    } catch (...) {
    }
}

void TSearchRun::setButtons(bool scan, bool cancel, bool report)
{
    m_view.SetButtonEnabled(IRunView::ScanButton, scan);
    m_view.SetButtonEnabled(IRunView::PasteButton, scan);
    m_view.SetButtonEnabled(IRunView::CancelButton, cancel);
    m_view.SetButtonEnabled(IRunView::ReportButton, report);
}

void TSearchRun::ScanAction()
{
    FirstLinkPending = true;
    Data.Cancelled = false;
    playSound(3);
    m_view.SetButtonEnabled(IRunView::ScanButton, false);
    m_view.SetButtonEnabled(IRunView::PasteButton, false);
    m_view.SetButtonEnabled(IRunView::CancelButton, true);

    String address = m_view.AddressText();
    const bool https = startsWithHttps(address);
    if (!https && address.find("http://") == String::npos) {
        address = "http://" + address;
        m_view.SetAddressText(address);
    }
    const std::size_t prefix = https ? 8 : 7;
    const String rest = address.size() > prefix ? address.substr(prefix) : String();
    const auto slash = rest.find('/');
    SiteRoot = slash == String::npos ? address : address.substr(0, prefix + slash);

    const String key = AsciiLower(address);
    const auto history = m_view.History();
    if (std::none_of(history.begin(), history.end(),
                     [&key](const String& entry) { return AsciiLower(entry) == key; }))
        m_view.AppendHistory(address);

    ResetRun();
    ParseKeywords();
    FetchActive = true;
    m_state = Crawling;

    TRuziZidu* crawler = m_crawler.data();
    if (!CrawlerLive || !crawler) {
        // A stopped crawler still winding down frees itself when it is done.
        if (crawler && !crawler->Working())
            crawler->deleteLater();
        crawler = new TRuziZidu(this);
        crawler->ReuseCache = true;
        m_crawler = crawler;
        CrawlerLive = true;
    }
    crawler->SetDepthSearchLevel(m_view.DepthIndex() + 1);
    if (!crawler->Start(address)) {
        // The crawler has said why; nothing will follow, so the run ends.
        FinishRun();
        return;
    }
    crawler->OnLinkFound = [this](TObject* sender, const String& url, const String& type,
                                  const String&, const String&, const String&, const String&,
                                  const String&, String&, char, Integer,
                                  bool&) { guarded([&] { CrawlerLinkFound(sender, url, type); }); };
    crawler->OnUpdatedStats = [this](TObject* sender, Integer inQueue, Integer downloading,
                                     Integer toAnalyze, Integer done, Integer retries,
                                     Integer errors) {
        guarded([&] {
            CrawlerUpdatedStats(sender, inQueue, downloading, toAnalyze, done, retries, errors);
        });
    };
    crawler->OnWorking = [this](TObject* sender, bool working) {
        guarded([&] { CrawlerWorking(sender, working); });
    };
    m_view.SetButtonEnabled(IRunView::ReportButton, false);
    m_view.SetStatus(" Analyzing site...");
    m_view.ShowProgress();
}

void TSearchRun::ResetRun()
{
    Data.PageCount = 0;
    Data.LinkCount = 0;
    Data.HitPageCount = 0;
    Data.CurrentPage = 0;
    m_view.ClearResultRows();
    m_view.TextBuffer().Clear();
    Data.PageList.clear();
    Data.LinkList.clear();
    Data.KeywordList.clear();
    m_pageKeys.clear();
    m_linkKeys.clear();
    Data.PageTable.assign(kTableSize, TPageEntry{});
}

void TSearchRun::ParseKeywords()
{
    String rest = m_view.KeywordText() + " ";
    std::size_t space = 0;
    while ((space = rest.find(' ')) != String::npos) {
        Data.KeywordList.push_back(rest.substr(0, space));
        rest.erase(0, space + 1);
    }
}

void TSearchRun::CrawlerLinkFound(TObject* sender, const String& UrlFound, const String& TypeLink)
{
    if (sender != m_crawler || Data.Cancelled)
        return;
    FirstLinkPending = false;
    const String key = AsciiLower(UrlFound);
    if (TypeLink == "htm" && UrlFound.find(SiteRoot) != String::npos &&
        m_pageKeys.insert(key).second) {
        Data.PageList.push_back(UrlFound);
        ++Data.PageCount;
    }
    if (!m_pageKeys.contains(key) && m_linkKeys.insert(key).second) {
        Data.LinkList.push_back(UrlFound);
        ++Data.LinkCount;
    }
    m_view.FlipPictures();
}

void TSearchRun::CrawlerUpdatedStats(TObject* sender, Integer InQueue, Integer Downloading,
                                     Integer ToAnalyze, Integer Done, Integer Retries,
                                     Integer Errors)
{
    if (sender != m_crawler)
        return;
    m_view.CrawlProgress(InQueue, Downloading, Done, Errors, Retries);
    m_view.SetBar(IRunView::QueueBar, std::min(InQueue, 10));
    m_view.SetBar(IRunView::DownloadBar, std::min(Downloading, 5));
    m_view.SetBar(IRunView::AnalyzeBar, std::min(ToAnalyze, 2));
    // A failed transfer about to be queued again shows zeros here too; only
    // a settled crawler has nothing more to report.
    if (Downloading == 0 && ToAnalyze == 0 && InQueue == 0 && !FirstLinkPending &&
        !Data.Cancelled && m_state == Crawling && static_cast<TRuziZidu*>(sender)->Settled())
        CrawlFinished();
}

void TSearchRun::CrawlerWorking(TObject* sender, bool working)
{
    if (working)
        return;
    if (sender != m_crawler || !CrawlerLive) {
        // A stopped crawler that has wound down is of no more use.
        sender->deleteLater();
        return;
    }
    // The crawl ended without the statistics saying so: it found no link.
    if (m_state == Crawling && !Data.Cancelled) {
        if (FirstLinkPending)
            FinishRun();
        else
            CrawlFinished();
    }
}

void TSearchRun::setPageNames()
{
    if (Data.PageTable.size() < Data.PageList.size() + 1)
        Data.PageTable.resize(Data.PageList.size() + 1);
    for (Integer i = 0; i < Data.PageCount; ++i)
        Data.PageTable[static_cast<std::size_t>(i)].Name =
            Data.PageList[static_cast<std::size_t>(i)].substr(0, kMaxNameLength);
}

const String& TSearchRun::pageName(Integer index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= Data.PageTable.size())
        return kEmpty;
    return Data.PageTable[static_cast<std::size_t>(index)].Name;
}

void TSearchRun::CrawlFinished()
{
    m_view.SetBar(IRunView::DownloadBar, 0);
    m_view.HideProgress();
    Data.PageCount = static_cast<Integer>(Data.PageList.size());
    Data.LinkCount = static_cast<Integer>(Data.LinkList.size());
    const String keywords = m_view.KeywordText();
    m_view.SetStatus(" Searching for: " + keywords);
    setPageNames();
    // With nothing to search for, or nothing to search in, the run is over.
    if (keywords.empty() || pageName(0).empty()) {
        FinishRun();
        return;
    }
    m_state = Fetching;
    startDownload(pageName(0));
}

void TSearchRun::startDownload(const String& url)
{
    m_fetcher->FileName = CacheFile;
    m_fetcher->URL = url;
    if (m_fetcher->Worker()) {
        // A cancelled download has not ended yet; go on when it has.
        m_downloadDeferred = true;
        m_deferredUrl = url;
        return;
    }
    m_downloadDeferred = false;
    m_fetcher->DownloadFile();
    m_currentWorker = m_fetcher->Worker();
}

bool TSearchRun::currentDownload() const
{
    return m_currentWorker && m_fetcher->Worker() == m_currentWorker;
}

void TSearchRun::staleDownloadDone()
{
    if (!m_downloadDeferred)
        return;
    // The component takes a new download only once this event has returned.
    QTimer::singleShot(0, this, [this] {
        guarded([this] {
            if (m_downloadDeferred && !Data.Cancelled && m_state == Fetching)
                startDownload(m_deferredUrl);
        });
    });
}

void TSearchRun::countHits()
{
    TMemo& memo = m_view.TextBuffer();
    memo.Clear();
    memo.LoadFromFile(CacheFile);
    TPageEntry& entry = Data.PageTable[static_cast<std::size_t>(Data.CurrentPage)];
    for (const String& keyword : Data.KeywordList) {
        const QString text =
            QString::fromUtf8(keyword.data(), static_cast<qsizetype>(keyword.size()));
        memo.SetSelLength(0);
        while (FindNextKeyword(text) >= 0)
            ++entry.Hits;
    }
}

bool TSearchRun::acceptDownloadEvent()
{
    if (!currentDownload()) {
        staleDownloadDone();
        return false;
    }
    m_currentWorker = nullptr;
    return !Data.Cancelled;
}

void TSearchRun::FetcherDoneFile()
{
    if (!acceptDownloadEvent())
        return;
    try {
        countHits();
    } catch (...) {
        // Shown, and the page counts as one that could not be fetched.
        HandleCurrentException();
        FetcherError();
        return;
    }
    ++Data.CurrentPage;
    StatusPrefix = " " + std::to_string(Data.CurrentPage) + " pages analyzed.";
    m_view.SetStatus(StatusPrefix + " Working...");
    m_timer1.start();
}

void TSearchRun::FetcherError()
{
    if (!acceptDownloadEvent())
        return;
    Data.PageTable[static_cast<std::size_t>(Data.CurrentPage)] = {"Invalid URL", 0};
    ++Data.CurrentPage;
    m_timer1.start();
}

Integer TSearchRun::FindNextKeyword(const QString& Keyword)
{
    TMemo& memo = m_view.TextBuffer();
    const qsizetype start = memo.SelLength() != 0 ? memo.SelStart() + memo.SelLength() : 0;
    const qsizetype q = memo.FindText(Keyword, start, memo.Length(), m_view.CaseSensitive());
    if (q < 0)
        return -1;
    memo.SetSelStart(q);
    memo.SetSelLength(Keyword.size());
    return static_cast<Integer>(q);
}

void TSearchRun::Timer1Timer()
{
    if (Data.Cancelled)
        return;
    m_timer1.stop();
    const TPageEntry& done = Data.PageTable[static_cast<std::size_t>(Data.CurrentPage - 1)];
    m_view.SetResultRow(Data.CurrentPage, done.Name, std::to_string(done.Hits));
    m_view.SetCurrentRow(Data.CurrentPage);
    const String& next = pageName(Data.CurrentPage);
    if (!next.empty()) {
        startDownload(next);
        return;
    }
    m_state = Idle;
    playSound(2);
    m_view.SetStatus(StatusPrefix + " Ready.");
    setButtons(true, false, true);
}

void TSearchRun::CancelAction()
{
    Data.Cancelled = true;
    m_timer1.stop();
    playSound(4);
    if (CrawlerLive) {
        if (m_crawler)
            m_crawler->Stop();
        CrawlerLive = false;
    }
    if (FetchActive) {
        m_fetcher->Cancel();
        FetchActive = false;
    }
    m_currentWorker = nullptr;
    m_downloadDeferred = false;
    setButtons(true, false, false);
    m_view.SetStatus(" Search cancelled.");
    FinishRun();
}

void TSearchRun::FinishRun()
{
    m_state = Idle;
    m_view.HideProgress();
    setPageNames();
    const auto pages = static_cast<Integer>(Data.PageList.size());
    for (Integer i = 0; i < pages; ++i) {
        const TPageEntry& entry = Data.PageTable[static_cast<std::size_t>(i)];
        m_view.SetResultRow(i + 1, entry.Name, std::to_string(entry.Hits));
        m_view.SetCurrentRow(i + 1);
        m_view.SetStatus(" " + std::to_string(i + 1) + " of " + std::to_string(Data.PageCount) +
                         " pages analyzed. Working...");
    }
    Data.CurrentPage = pages;
    playSound(2);
    if (Data.Cancelled)
        m_view.SetStatus(" " + std::to_string(Data.CurrentPage) +
                         " pages found. Request aborted by user. Ready.");
    else
        m_view.SetStatus(" " + std::to_string(Data.CurrentPage) + " pages found. Ready.");
    setButtons(true, false, true);
}
