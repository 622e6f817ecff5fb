// TSearchRun: one scan-and-search run, from the scan to "Ready."

#include "searchrun.h"

#include "internetaccess.h"
#include "ioerror.h"
#include "messagebox.h"
#include "passwordmask.h"
#include "runaccount.h"
#include "scopeexit.h"
#include "siteaccess.h"
#include "sitemap.h"
#include "stringhelpers.h"
#include "textdecode.h"
#include "uithread.h"
#include "workerthread.h"

#include <QDateTime>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace {

constexpr Integer kTableSize = 1001;
// The total of a listed page the crawl has no count of.
constexpr Integer kNoCount = -1;

bool startsWithHttps(const String& text)
{
    return StartsWithNoCase(text, "https://");
}

// The scheme an address opens with ("ftp" of "ftp://host/"), empty when it
// names none: then "http://" is put in front.
String schemeOf(const String& address)
{
    const auto sep = address.find("://");
    if (sep == String::npos || sep == 0 || !std::isalpha(static_cast<unsigned char>(address[0])))
        return String();
    const bool plain =
        std::all_of(address.begin(), address.begin() + static_cast<long>(sep), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    return plain ? address.substr(0, sep) : String();
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

// The host of an absolute address, lower case; empty when it has none.
String hostOf(const String& address)
{
    TCrackUrl parts;
    return parts.Crack(address) ? AsciiLower(parts.HostName.Text()) : String();
}

const String kEmpty;

} // namespace

TSearchRun::TSearchRun(IRunView& view, TMemo& textBuffer, QObject* owner)
    : QObject(owner), m_view(view), m_memo(textBuffer)
{
    m_data.PageTable.resize(kTableSize);
}

TSearchRun::~TSearchRun() = default;

String TSearchRun::DefaultAgent()
{
    return "Netquarry/" NQ_VERSION " (+https://netquarry.example.org/)";
}

String TSearchRun::agent() const
{
    return m_settings.agent.empty() ? DefaultAgent() : m_settings.agent;
}

void TSearchRun::Start(const SearchSettings& settings)
{
    guarded([&] {
        m_settings = settings;
        // Trusted for every transfer from here on, the crawl's and the search's.
        if (!m_settings.caFile.empty() &&
            !InternetSetOptionA(NullHandle, INTERNET_OPTION_CA_FILE, m_settings.caFile.c_str(),
                                static_cast<std::uint32_t>(m_settings.caFile.size())))
            throw std::runtime_error("cannot use the CA file " + m_settings.caFile);
        ScanAction();
    });
}

void TSearchRun::Cancel()
{
    guarded([this] { CancelAction(); });
}

TReportResult TSearchRun::WriteReport()
{
    try {
        playSound(3);
        TReportWriter::CountHitPages(m_data);
        TReportWriter::WriteReport(m_data, m_view);
        return {true, String()};
    } catch (const std::exception& e) {
        return {false, e.what()};
    } catch (...) {
        return {false, "Unknown error"};
    }
}

TReportResult TSearchRun::SaveReport(const QString& folder)
{
    try {
        TReportWriter::CountHitPages(m_data);
        TReportWriter::WriteReportFiles(m_data, m_view, ToUtf8(folder));
        TReportWriter::WriteLogo(folder);
        return {true, String()};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

std::span<const TPageEntry> TSearchRun::Rows() const
{
    const auto pages = std::min(m_data.PageList.size(), m_data.PageTable.size());
    return {m_data.PageTable.data(), pages};
}

void TSearchRun::StopTransfers()
{
    if (TRuziZidu* crawler = m_crawler.data())
        crawler->Stop();
    for (THTTPGet* fetcher : m_fetchers)
        fetcher->Cancel();
    dropRobotsFetch();
}

void TSearchRun::dropRobotsFetch()
{
    // Destroying the fetch ends its transfer; a cancel alone would leave it
    // running until its time limit on a server that never answers.
    for (THTTPGet** fetch : {&m_robotsFetch, &m_sitemapFetch}) {
        if (*fetch) {
            (*fetch)->Cancel();
            (*fetch)->deleteLater();
            *fetch = nullptr;
        }
    }
}

void TSearchRun::playSound(Integer index)
{
    // A missing or broken sound is no reason to stop what it accompanies.
    try {
        m_view.PlaySound(index);
    } catch (...) {
    }
}

void TSearchRun::SaveTo(CrawlWriter* writer)
{
    m_recorder = writer ? std::make_unique<TCrawlRecorder>(*writer) : nullptr;
}

void TSearchRun::SaveTo(CrawlWriter* writer, TCrawlRecorder::Kind kind, TCrawlRecorder::Held held)
{
    m_recorder =
        writer ? std::make_unique<TCrawlRecorder>(*writer, kind, std::move(held)) : nullptr;
}

TCrawlRecorder* TSearchRun::recorderFor(TObject* sender) const
{
    return sender == m_crawler && !m_data.Cancelled && m_state == Crawling ? m_recorder.get()
                                                                           : nullptr;
}

bool TSearchRun::beginRun()
{
    // A keyword list that cannot be searched for starts nothing, nor does
    // a pattern of the scope that does not compile.
    if (!ParseKeywords()) {
        ShowMessageBox(m_counter.Error(), TMsgKind::Error);
        return false;
    }
    auto scope = std::make_unique<TCrawlScope>(m_settings);
    if (!scope->Error().empty()) {
        ShowMessageBox(scope->Error(), TMsgKind::Error);
        return false;
    }
    m_scope = std::move(scope);
    m_firstLinkPending = true;
    m_data.Cancelled = false;
    ++m_generation;
    m_startFailed = false;
    m_outcome = TRunOutcome{};
    playSound(3);

    String& address = m_settings.address;
    const String scheme = AsciiLower(schemeOf(address));
    if (!scheme.empty() && scheme != "http" && scheme != "https") {
        refuseScheme(address);
        return false;
    }
    const bool https = startsWithHttps(address);
    if (!https && address.find("http://") == String::npos) {
        address = "http://" + address;
        m_view.SetAddressText(address);
    }
    // Credentials in the address go to the site by the site's access; the
    // address crawled, listed and shown carries none.
    address = WithoutUserInfo(address, &m_addressUser, &m_addressPassword);
    const std::size_t prefix = https ? 8 : 7;
    const String rest = address.size() > prefix ? address.substr(prefix) : String();
    const auto slash = rest.find('/');
    m_siteRoot = slash == String::npos ? address : address.substr(0, prefix + slash);
    m_siteRootKey = AsciiLower(m_siteRoot);
    m_startHost = hostOf(address);
    m_outcome.Address = address;

    const String key = AsciiLower(address);
    const auto history = m_view.History();
    if (std::none_of(history.begin(), history.end(),
                     [&key](const String& entry) { return AsciiLower(entry) == key; }))
        m_view.AppendHistory(address);

    ResetRun();
    ParseKeywords();
    m_fetchActive = true;
    m_state = Crawling;
    m_view.PhaseChanged(IRunView::Phase::Crawling);
    return true;
}

void TSearchRun::ScanAction()
{
    if (!beginRun())
        return;
    grantSiteAccess();
    if (m_recorder)
        m_recorder->Started(m_settings, m_settings.address);
    m_view.StatusChanged(" Analyzing site...");
    TRuziZidu* crawler = m_crawler.data();
    // A crawler still winding down from the last run would refuse to start.
    if (!m_crawlerLive || !crawler || crawler->Working()) {
        if (crawler) {
            crawler->Stop();
            if (!crawler->Working())
                crawler->deleteLater();
            // else it frees itself once it has wound down
        }
        crawler = new TRuziZidu(this);
        crawler->ReuseCache = true;
        m_crawler = crawler;
        m_crawlerLive = true;
    }
    // Each host's robots.txt comes before its first page, and its pace holds
    // for the search's downloads too.
    m_policy = std::make_shared<THostPolicy>(PolicyClock);
    m_policy->ObeyRobots = m_settings.obeyRobots;
    m_policy->AgentToken = RobotsProductToken(agent());
    m_policy->Wait = m_settings.waitSeconds;
    m_policy->RandomWait = m_settings.randomWait;
    m_policy->TimeOut = static_cast<double>(m_settings.timeoutSeconds);
    // The crawler reads robots.txt itself; only the sitemaps it names must be
    // known before the crawl. An address the crawler refuses is refused at once.
    const bool valid = TCrackUrl().Crack(m_settings.address);
    if (m_settings.followSitemaps && valid && m_settings.obeyRobots)
        fetchRobots();
    else if (m_settings.followSitemaps && valid)
        fetchSitemaps();
    else
        startCrawl();
}

void TSearchRun::grantSiteAccess()
{
    static std::uint64_t runs = 0;
    auto access = std::make_shared<inet::SiteAccess>(inet::SiteAccess::For(m_settings.address));
    access->run = ++runs;
    const bool inAddress = !m_addressUser.empty() || !m_addressPassword.empty();
    access->userName = inAddress ? m_addressUser : m_settings.user;
    access->password = inAddress ? m_addressPassword : m_settings.password;
    access->netrc = m_settings.useNetrc;
    access->headers = m_settings.headers;
    if (!m_settings.cookieFile.empty()) {
        QFile file(DecodeWebText(m_settings.cookieFile));
        if (!file.open(QIODevice::ReadOnly)) {
            ShowMessageBox("cannot read the cookie file " + m_settings.cookieFile + ": " +
                               ToUtf8(file.errorString()),
                           TMsgKind::Warning);
        } else {
            const QByteArray text = file.readAll();
            inet::CookieLines lines = inet::ParseCookieFile(
                std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
            access->cookies = std::move(lines.cookies);
            if (!lines.skipped.empty()) {
                String numbers;
                for (const int line : lines.skipped)
                    numbers += (numbers.empty() ? "" : ", ") + std::to_string(line);
                ShowMessageBox("cookie file " + m_settings.cookieFile + ": line" +
                                   (lines.skipped.size() > 1 ? "s " : " ") + numbers +
                                   " skipped: not a cookie",
                               TMsgKind::Warning);
            }
        }
    }
    m_access = access;
    inet::SetSiteAccess(std::move(access));
}

void TSearchRun::fetchRobots()
{
    // The last run's fetch may be the one whose event led here.
    dropRobotsFetch();
    m_robotsFetch = new THTTPGet(this);
    m_robotsFetch->UseCache = true;
    m_robotsFetch->TimeOut = m_settings.timeoutSeconds;
    m_robotsFetch->ReadTimeOut = m_settings.readTimeoutSeconds;
    m_robotsFetch->Agent = agent();
    m_robotsFetch->URL = m_siteRoot + "/robots.txt";
    THTTPGet* fetch = m_robotsFetch;
    const std::uint64_t generation = m_generation;
    // 4xx: no rules; 5xx or no answer: nothing of the site may be fetched.
    const auto done = [this, fetch, generation](bool received, const String& body) {
        if (generation != m_generation || m_data.Cancelled || m_state != Crawling)
            return;
        const Integer status = received ? fetch->StatusCode()
                                        : (fetch->Error().kind == TransferError::Kind::HttpStatus
                                               ? fetch->Error().status
                                               : 0);
        if (status == 0) {
            // The start host cannot be reached: the start fails as it would.
            m_startFailure = m_outcome;
            m_startFailure.kind = TRunOutcome::Unreachable;
            m_startFailure.Failure = fetch->Error();
            FailStart();
            return;
        }
        // The crawler takes the rules as read and does not ask again.
        m_policy->RobotsRead(m_siteRoot, status, received ? body : kEmpty);
        if (status < 500)
            fetchSitemaps();
        else
            startCrawl();
    };
    fetch->OnDoneString = [done](TObject*, const String& body) {
        guarded([&] { done(true, body); });
    };
    fetch->OnError = [done](TObject*) { guarded([&] { done(false, kEmpty); }); };
    fetch->DownloadFile();
}

namespace {

// Sitemap files read at most, and how deep indexes may nest: a hostile site
// must not keep the run reading sitemaps.
constexpr std::size_t kMaxSitemapFiles = 100;
constexpr int kMaxSitemapNesting = 3;
// Pages taken from all sitemaps together.
constexpr std::size_t kMaxSitemapPages = 50000;

} // namespace

void TSearchRun::fetchSitemaps()
{
    m_sitemapQueue.clear();
    m_sitemapsSeen.clear();
    m_sitemapPages.clear();
    // Only the site's own sitemaps are read; robots.txt may name any host.
    for (const String& named : m_policy->Sitemaps(m_siteRoot)) {
        if (hostOf(named) == m_startHost && m_sitemapsSeen.insert(named).second)
            m_sitemapQueue.emplace_back(named, 1);
    }
    if (m_sitemapQueue.empty())
        m_sitemapQueue.emplace_back(m_siteRoot + "/sitemap.xml", 1);
    nextSitemap();
}

void TSearchRun::nextSitemap()
{
    if (m_sitemapFetch) {
        m_sitemapFetch->deleteLater();
        m_sitemapFetch = nullptr;
    }
    if (m_sitemapQueue.empty()) {
        startCrawl();
        return;
    }
    // Plain copies: clang refuses a structured binding in a lambda's capture.
    const String address = m_sitemapQueue.front().first;
    const int level = m_sitemapQueue.front().second;
    m_sitemapQueue.erase(m_sitemapQueue.begin());
    m_sitemapFetch = new THTTPGet(this);
    m_sitemapFetch->UseCache = true;
    m_sitemapFetch->TimeOut = m_settings.timeoutSeconds;
    m_sitemapFetch->Agent = agent();
    m_sitemapFetch->RedirectHost = m_startHost;
    m_sitemapFetch->URL = address;
    const std::uint64_t generation = m_generation;
    const auto done = [this, generation, level](const String& body) {
        if (generation != m_generation || m_data.Cancelled || m_state != Crawling)
            return;
        const TSitemap map = ParseSitemap(body);
        for (const String& page : map.Pages) {
            if (m_sitemapPages.size() < kMaxSitemapPages && hostOf(page) == m_startHost)
                m_sitemapPages.push_back(page);
        }
        for (const String& nested : map.Sitemaps) {
            if (level < kMaxSitemapNesting && m_sitemapsSeen.size() < kMaxSitemapFiles &&
                hostOf(nested) == m_startHost && m_sitemapsSeen.insert(nested).second)
                m_sitemapQueue.emplace_back(nested, level + 1);
        }
        nextSitemap();
    };
    // A sitemap that cannot be had is no reason to stop: the crawl goes on
    // without it.
    m_sitemapFetch->OnDoneString = [done](TObject*, const String& body) {
        guarded([&] { done(body); });
    };
    m_sitemapFetch->OnError = [done](TObject*) { guarded([&] { done(kEmpty); }); };
    m_sitemapFetch->DownloadFile();
}

void TSearchRun::startCrawl()
{
    TRuziZidu* crawler = m_crawler.data();
    if (!crawler) {
        // Made by the scan, owned by the run: gone only when the run is.
        m_outcome.kind = TRunOutcome::Refused;
        FinishRun();
        return;
    }
    crawler->TimeOut = m_settings.timeoutSeconds;
    crawler->ReadTimeOut = m_settings.readTimeoutSeconds;
    crawler->MaxPageLinks = m_settings.maxPageLinks;
    crawler->Agent = agent();
    crawler->Policy = m_policy;
    crawler->RedirectsStayOnSite = !m_settings.spanHosts;
    crawler->SetDepthSearchLevel(m_settings.depthIndex + 1);
    crawler->SetConcurrentDownloads(m_settings.parallel);
    // A saved crawl continued or refreshed: its kept pages stand in for
    // fetches, or make them conditional; set before the start, which asks
    // for the start page at once.
    const TCrawlRecorder::Kind kind = m_recorder ? m_recorder->Mode() : TCrawlRecorder::Kind::New;
    crawler->ReuseSaved = kind == TCrawlRecorder::Kind::Resume;
    crawler->SavedPage = nullptr;
    crawler->RequestConditions = nullptr;
    if (kind != TCrawlRecorder::Kind::New) {
        crawler->SavedPage = [this](const String& url, TSavedReply& reply) {
            return m_recorder && m_recorder->SavedPage(url, reply);
        };
    }
    if (kind == TCrawlRecorder::Kind::Update) {
        crawler->RequestConditions = [this](const String& url) {
            return m_recorder ? m_recorder->Conditions(url) : String();
        };
    }
    if (!crawler->Start(m_settings.address)) {
        // The crawler has said why; nothing will follow, so the run ends.
        m_outcome.kind = TRunOutcome::Refused;
        FinishRun();
        return;
    }
    // The start page is a page of the site, whether or not a page links back to it.
    addPage(m_settings.address);
    m_scope->AdmitStart();
    m_crawlStarted = true;
    bindCrawler(crawler);
    // The sitemaps' pages, as if the start page linked to them.
    for (const String& page : std::exchange(m_sitemapPages, {}))
        crawler->AddStartLink(page);
}

void TSearchRun::bindCrawler(TRuziZidu* crawler)
{
    crawler->OnLinkFound = [this](TObject* sender, const String& url, const String& type,
                                  const String& from, const String& host, const String&,
                                  const String&, const String&, String&, char, Integer,
                                  bool& follow) {
        guarded([&] {
            if (TCrawlRecorder* recorder = recorderFor(sender))
                recorder->Found(url, type, host, from);
            CrawlerLinkFound(sender, url, type, host, follow);
        });
    };
    crawler->OnPageReceived = [this](TObject* sender, const String&, const String& url,
                                     const String& head, const String& body) {
        guarded([&] {
            if (TCrawlRecorder* recorder = recorderFor(sender))
                recorder->Received(url, static_cast<TRuziZidu*>(sender)->ReceivedFinalUrl(), head,
                                   body);
            CrawlerPageReceived(sender, url, body);
        });
    };
    // Counted on the crawler's scanning thread, beside the link scan; the
    // counter keeps no state, so a copy serves there.
    crawler->AnalysePage = nullptr;
    if (!m_counter.NothingToFind())
        crawler->AnalysePage = [counter = m_counter](const String& body) {
            return std::any(counter.Count(body));
        };
    crawler->OnPageAnalysed = [this](TObject* sender, const String& url, const std::any& analysis) {
        guarded([&] { CrawlerPageAnalysed(sender, url, analysis); });
    };
    crawler->OnUpdatedStats = [this](TObject* sender, Integer inQueue, Integer downloading,
                                     Integer toAnalyze, Integer done, Integer retries,
                                     Integer errors) {
        guarded([&] {
            CrawlerUpdatedStats(sender, inQueue, downloading, toAnalyze, done, retries, errors);
        });
    };
    crawler->OnTransferFailed = [this](TObject* sender, const String& url,
                                       const TransferError& error) {
        guarded([&] { CrawlerFailed(sender, url, error); });
    };
    crawler->OnStartMoved = [this](TObject* sender, const String& finalUrl) {
        guarded([&] {
            if (TCrawlRecorder* recorder = recorderFor(sender))
                recorder->StartMoved(finalUrl);
            CrawlerStartMoved(sender, finalUrl);
        });
    };
    crawler->OnRefused = [this](TObject* sender, const String& url, const String& rule) {
        if (sender == m_crawler && !m_data.Cancelled)
            m_keptOut.emplace(AsciiLower(url), rule);
    };
    crawler->OnLog = [this](TObject* sender, const String& warning) {
        if (sender == m_crawler && !m_data.Cancelled)
            guarded([&] { m_view.Warn(warning); });
    };
    crawler->OnWorking = [this](TObject* sender, bool working) {
        guarded([&] { CrawlerWorking(sender, working); });
    };
}

void TSearchRun::ResetRun()
{
    m_data.PageCount = 0;
    m_data.LinkCount = 0;
    m_data.HitPageCount = 0;
    m_data.CurrentPage = 0;
    m_view.ResultsCleared();
    m_memo.Clear();
    m_data.PageList.clear();
    m_data.LinkList.clear();
    m_data.KeywordList.clear();
    m_pageKeys.Clear();
    m_linkKeys.Clear();
    m_listedHits.clear();
    m_listedOther.clear();
    m_crawlCounts.clear();
    m_crawlTimeouts.clear();
    m_linksOverCap = 0;
    m_crawlStarted = false;
    m_ready.clear();
    m_startReceived = false;
    m_otherHostPages.clear();
    m_keptOut.clear();
    m_redirects.clear();
    m_paceNote.clear();
    m_policy.reset();
    // A run cancelled while it read sitemaps leaves none to the next.
    m_sitemapPages.clear();
    m_sitemapQueue.clear();
    m_data.PageTable.assign(kTableSize, TPageEntry{});
}

void TSearchRun::addPage(const String& address)
{
    if (m_pageKeys.Add(address, m_data.PageList))
        ++m_data.PageCount;
}

TRunAccount TSearchRun::Account() const
{
    const auto rows = std::min(m_data.PageList.size(), m_data.PageTable.size());
    // A view of the table, not a copy: it may hold a great many rows.
    TRunAccount account =
        TRunAccount::Of(std::span<const TPageEntry>(m_data.PageTable.data(), rows),
                        static_cast<Integer>(m_otherHostPages.size()));
    account.LinksOverCap = m_linksOverCap;
    if (m_scope)
        account.TrapPaths = m_scope->TrapPaths();
    return account;
}

TKeywordCounter TSearchRun::CounterFor(const SearchSettings& settings)
{
    std::vector<String> keywords = SplitKeywords(settings.keywords);
    keywords.insert(keywords.end(), settings.exactKeywords.begin(), settings.exactKeywords.end());
    TCountOptions options;
    options.matchCase = settings.caseSensitive;
    options.wholeWords = settings.wholeWords;
    options.patterns = settings.patterns;
    options.visibleText = settings.visibleText;
    options.allKeywords = settings.allKeywords;
    options.snippets = settings.snippets;
    return TKeywordCounter(std::move(keywords), options);
}

bool TSearchRun::ParseKeywords()
{
    m_counter = CounterFor(m_settings);
    m_data.KeywordList = m_counter.Keywords();
    String given;
    for (const String& keyword : m_settings.exactKeywords) {
        const bool quote = keyword.empty() || keyword.find(' ') != String::npos;
        given += (m_settings.keywords.empty() && given.empty() ? "" : " ") +
                 (quote ? "\"" + keyword + "\"" : keyword);
    }
    m_data.KeywordNote = given + OptionsNote(m_counter.Options());
    m_keywordLine = m_settings.keywords + m_data.KeywordNote;
    return m_counter.Error().empty();
}

void TSearchRun::takeCounts(TPageEntry& entry, TKeywordCounts counts) const
{
    if (counts.patternLimit) {
        entry.State = TPageState::PatternLimit;
        return;
    }
    entry.KeywordHits = std::move(counts.hits);
    entry.SetSnippets(std::move(counts.snippets));
    entry.Hits = counts.total;
    entry.State = TPageState::Searched;
}

void TSearchRun::CrawlerLinkFound(TObject* sender, const String& UrlFound, const String& TypeLink,
                                  const String& HostName, bool& FollowIfHtmlLink)
{
    if (sender != m_crawler || m_data.Cancelled)
        return;
    m_firstLinkPending = false;
    // Listed as shown: the password of a link that carries one is hidden.
    const String shown = MaskPasswords(UrlFound);
    const String key = AsciiLower(shown);
    // Compared in place: this runs once per link, and a page may hold many.
    const bool startHost =
        HostName.size() == m_startHost.size() && StartsWithNoCase(HostName, m_startHost);
    if (!m_settings.spanHosts && !startHost) {
        FollowIfHtmlLink = false;
        if (TypeLink == "htm")
            m_otherHostPages.insert(key);
    }
    // Scheme and host are case-blind on the web. Only web addresses are
    // fetched again; a scheme named like a page type stays a link.
    const bool web = key.rfind("http://", 0) == 0 || key.rfind("https://", 0) == 0;
    const bool page = TypeLink == "htm" && web;
    const bool onSite = page && key.find(m_siteRootKey) != String::npos;
    // robots.txt is the crawler's: it refuses what a host's rules keep out.
    if (page && FollowIfHtmlLink && !m_pageKeys.Contains(key, m_data.PageList) && m_scope) {
        const String rule = m_scope->Admit(UrlFound);
        if (!rule.empty()) {
            FollowIfHtmlLink = false;
            m_keptOut.emplace(key, rule);
        }
    }
    if (onSite)
        addPage(shown);
    if (!m_pageKeys.Contains(key, m_data.PageList) && m_linkKeys.Add(shown, m_data.LinkList))
        ++m_data.LinkCount;
    m_view.PageFound(shown);
}

void TSearchRun::CrawlerStartMoved(TObject* sender, const String& FinalUrl)
{
    if (sender != m_crawler || m_data.Cancelled)
        return;
    // The site is where the start address led: its pages are filed as pages.
    const auto sep = FinalUrl.find("://");
    if (sep == String::npos)
        return;
    const auto slash = FinalUrl.find_first_of("/?#", sep + 3);
    m_siteRoot = FinalUrl.substr(0, slash);
    m_siteRootKey = AsciiLower(m_siteRoot);
    m_startHost = hostOf(FinalUrl);
    // The site's access moves with it.
    if (m_access && !m_saved) {
        auto moved = std::make_shared<inet::SiteAccess>(*m_access);
        inet::OriginOf(FinalUrl, &moved->host, &moved->port);
        m_access = moved;
        inet::SetSiteAccess(std::move(moved));
    }
    // The start page's row shows where it came from; a page that links to
    // the final address is that same row.
    if (m_data.PageList.empty() || m_pageKeys.Contains(FinalUrl, m_data.PageList))
        return;
    const auto counts = m_crawlCounts.find(m_data.PageList.front());
    if (counts != m_crawlCounts.end()) {
        m_crawlCounts[FinalUrl] = counts->second;
        m_crawlCounts.erase(m_data.PageList.front());
    }
    m_data.PageList.front() = FinalUrl;
    m_pageKeys.Rebuild(m_data.PageList);
}

void TSearchRun::CrawlerPageReceived(TObject* sender, const String& Url, const String& /*Body*/)
{
    if (sender != m_crawler || m_data.Cancelled || m_state != Crawling)
        return;
    if (Url == m_outcome.Address)
        m_startReceived = true;
}

void TSearchRun::CrawlerPageAnalysed(TObject* sender, const String& Url, const std::any& Analysis)
{
    if (sender != m_crawler || m_data.Cancelled || m_state != Crawling)
        return;
    const auto* counts = std::any_cast<TKeywordCounts>(&Analysis);
    if (!counts)
        return;
    // The start page's row may have moved to where its redirect led meanwhile.
    const bool start = Url == m_outcome.Address && !m_data.PageList.empty();
    keepCrawlCounts(start ? m_data.PageList.front() : Url, *counts);
}

void TSearchRun::keepCrawlCounts(const String& address, const TKeywordCounts& counts)
{
    // A listed page's counts need no copy of its address: tens of thousands
    // of them are megabytes.
    const std::size_t at = m_pageKeys.Find(address, m_data.PageList);
    if (at == TCaseBlindIndex::kNone || m_data.PageList[at] != address) {
        m_crawlCounts[address] = counts;
        return;
    }
    const std::size_t stride = m_data.KeywordList.size() + 1;
    if (m_listedHits.size() < (at + 1) * stride)
        m_listedHits.resize((at + 1) * stride, kNoCount);
    const auto row = m_listedHits.begin() + static_cast<std::ptrdiff_t>(at * stride);
    if (counts.patternLimit || !counts.snippets.empty() || counts.hits.size() + 1 != stride) {
        *row = kNoCount;
        m_listedOther[at] = counts;
    } else {
        *row = counts.total;
        std::copy(counts.hits.begin(), counts.hits.end(), row + 1);
        if (!m_listedOther.empty())
            m_listedOther.erase(at);
    }
    if (!m_crawlCounts.empty())
        m_crawlCounts.erase(address);
}

std::optional<TKeywordCounts> TSearchRun::crawlCountsOf(std::size_t position,
                                                        const String& address) const
{
    if (position < m_data.PageList.size() && m_data.PageList[position] == address) {
        const std::size_t stride = m_data.KeywordList.size() + 1;
        if ((position + 1) * stride <= m_listedHits.size() &&
            m_listedHits[position * stride] != kNoCount) {
            const auto row = m_listedHits.begin() + static_cast<std::ptrdiff_t>(position * stride);
            TKeywordCounts counts;
            counts.total = *row;
            counts.hits.assign(row + 1, row + static_cast<std::ptrdiff_t>(stride));
            return counts;
        }
        if (const auto other = m_listedOther.find(position); other != m_listedOther.end())
            return other->second;
    }
    const auto known = m_crawlCounts.find(address);
    return known == m_crawlCounts.end() ? std::nullopt : std::optional(known->second);
}

void TSearchRun::CrawlerUpdatedStats(TObject* sender, Integer InQueue, Integer Downloading,
                                     Integer ToAnalyze, Integer Done, Integer Retries,
                                     Integer Errors)
{
    if (sender != m_crawler)
        return;
    const String note = m_policy ? m_policy->PaceNote() : String();
    m_view.CrawlProgress({InQueue, Downloading, ToAnalyze, Done, Retries, Errors, note});
    // The window has no progress line: its status says why the crawl is slow.
    if (note != m_paceNote && m_state == Crawling && !m_data.Cancelled) {
        m_paceNote = note;
        m_view.StatusChanged(" Analyzing site... (" + note + ")");
    }
    // A failed transfer about to be queued again shows zeros here too; only
    // a settled crawler has nothing more to report.
    if (Downloading == 0 && ToAnalyze == 0 && InQueue == 0 &&
        (!m_firstLinkPending || m_startReceived) && !m_data.Cancelled && m_state == Crawling &&
        static_cast<TRuziZidu*>(sender)->Settled())
        CrawlFinished();
}

void TSearchRun::CrawlerFailed(TObject* sender, const String& Url, const TransferError& Error)
{
    if (sender != m_crawler || m_data.Cancelled)
        return;
    if (Error.kind == TransferError::Kind::Timeout)
        m_crawlTimeouts[Url] = Error;
    // A redirect off the site ends the page: listed with its target, never
    // fetched again by the search.
    if (Error.kind == TransferError::Kind::Redirect && Error.status >= 300) {
        const String key = AsciiLower(Url);
        m_keptOut[key] = "redirect";
        m_redirects[key] = Error.detail;
        if (TCrawlRecorder* recorder = recorderFor(sender))
            recorder->Failed(Url, Error);
    }
    if (m_startFailed || Url != m_outcome.Address)
        return;
    // Only the last word counts: a retry may still succeed.
    m_startFailure = m_outcome;
    m_startFailure.Failure = Error;
    m_startFailure.kind = Error.kind == TransferError::Kind::HttpStatus ? TRunOutcome::ErrorStatus
                                                                        : TRunOutcome::Unreachable;
    m_startFailed = true;
}

void TSearchRun::CrawlerWorking(TObject* sender, bool working)
{
    if (working)
        return;
    if (sender != m_crawler || !m_crawlerLive) {
        // A stopped crawler that has wound down is of no more use.
        sender->deleteLater();
        return;
    }
    // The crawl ended without the statistics saying so: it found no link.
    if (m_state == Crawling && !m_data.Cancelled) {
        if (!m_firstLinkPending || m_startReceived)
            CrawlFinished();
        else if (m_startFailed)
            FailStart();
        else
            FinishRun();
    }
}

void TSearchRun::setPageNames()
{
    if (m_data.PageTable.size() < m_data.PageList.size() + 1)
        m_data.PageTable.resize(m_data.PageList.size() + 1);
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        TPageEntry& entry = m_data.PageTable[static_cast<std::size_t>(i)];
        entry.Name = m_data.PageList[static_cast<std::size_t>(i)];
        entry.SetAddress(entry.Name);
    }
}

const String& TSearchRun::pageName(Integer index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_data.PageTable.size())
        return kEmpty;
    return m_data.PageTable[static_cast<std::size_t>(index)].Name;
}

void TSearchRun::takeCrawlFigures()
{
    if (const TRuziZidu* crawler = m_crawler.data(); crawler && m_crawlStarted)
        m_linksOverCap = crawler->LinksOverCap();
}

void TSearchRun::CrawlFinished()
{
    takeCrawlFigures();
    // Gone before the page table is built, so that the two never add up.
    if (TRuziZidu* crawler = m_crawler.data(); crawler && m_crawlStarted)
        crawler->ForgetAddresses();
    m_view.PhaseChanged(IRunView::Phase::Searching);
    m_data.PageCount = static_cast<Integer>(m_data.PageList.size());
    m_data.LinkCount = static_cast<Integer>(m_data.LinkList.size());
    m_view.StatusChanged(" Searching for: " + m_keywordLine);
    setPageNames();
    // With nothing to search for, or nothing to search in, the run is over;
    // a crawl being saved fetches its pages all the same.
    const bool nothingToFind = m_data.KeywordList.empty() ||
                               (m_data.KeywordList.size() == 1 && m_data.KeywordList[0].empty());
    if ((nothingToFind && !m_recorder) || pageName(0).empty()) {
        FinishRun();
        return;
    }
    m_state = Fetching;
    // The crawl is over; its crawler has nothing more to say to this run.
    m_ready.assign(static_cast<std::size_t>(m_data.PageCount), false);
    applyCrawlCounts();
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        if (m_data.PageTable[static_cast<std::size_t>(i)].State != TPageState::NotSearched)
            m_ready[static_cast<std::size_t>(i)] = true;
    }
    if (m_saved) {
        readSavedPages();
        fillReadyRows();
        return;
    }
    if (m_recorder && m_recorder->Mode() == TCrawlRecorder::Kind::Resume)
        reuseKeptPages();
    m_toDownload.clear();
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        if (!m_ready[static_cast<std::size_t>(i)])
            m_toDownload.push_back(i);
    }
    m_tries.assign(static_cast<std::size_t>(m_data.PageCount), 1);
    makeFetchers();
    dispatchDownloads();
    fillReadyRows();
}

void TSearchRun::applyCrawlCounts()
{
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        TPageEntry& entry = m_data.PageTable[static_cast<std::size_t>(i)];
        if (entry.State == TPageState::NotSearched) {
            const auto rule = m_keptOut.find(AsciiLower(entry.Address()));
            if (rule != m_keptOut.end()) {
                entry.State = TPageState::Skipped;
                entry.SetRule(rule->second);
                if (const auto to = m_redirects.find(rule->first); to != m_redirects.end())
                    entry.SetLocation(to->second);
                continue;
            }
        }
        if (entry.State != TPageState::NotSearched)
            continue;
        std::optional<TKeywordCounts> known =
            crawlCountsOf(static_cast<std::size_t>(i), entry.Address());
        // A page the crawl listed and did not fetch is held to its host's rules too.
        if (!known && m_policy) {
            const auto verdict = m_policy->Check(entry.Address());
            if (verdict == THostPolicy::Verdict::Robots ||
                verdict == THostPolicy::Verdict::RobotsUnavailable) {
                entry.State = TPageState::Skipped;
                entry.SetRule(verdict == THostPolicy::Verdict::Robots ? "robots"
                                                                      : "robots-unavailable");
                continue;
            }
        }
        if (known) {
            takeCounts(entry, std::move(*known));
            entry.NotModified = m_recorder && m_recorder->NotModified(entry.Address());
        } else if (const auto late = m_crawlTimeouts.find(entry.Address());
                   late != m_crawlTimeouts.end()) {
            entry.State = TPageState::Failed;
            entry.SetFailure(late->second);
            if (m_recorder && !m_saved && !m_data.Cancelled)
                m_recorder->Failed(entry.Address(), entry.Failure());
        }
    }
    m_listedHits = {};
    m_listedOther.clear();
    m_crawlCounts.clear();
    m_crawlTimeouts.clear();
}

String TSearchRun::notSearchedNote() const
{
    if (m_data.KeywordList.empty() || m_settings.keywords.empty())
        return String();
    Integer notSearched = 0;
    for (Integer i = 0; i < m_data.CurrentPage; ++i) {
        if (m_data.PageTable[static_cast<std::size_t>(i)].State != TPageState::Searched)
            ++notSearched;
    }
    return notSearched == 0 ? String() : ", " + std::to_string(notSearched) + " not searched";
}

void TSearchRun::makeFetchers()
{
    // Destroying a component detaches its worker, which ends at once.
    for (THTTPGet* fetcher : m_fetchers)
        delete fetcher;
    m_fetchers.clear();
    for (int i = 0; i < kSearchTransfers; ++i) {
        auto* fetcher = new THTTPGet(this);
        fetcher->UseCache = true;
        fetcher->TimeOut = m_settings.timeoutSeconds;
        fetcher->ReadTimeOut = m_settings.readTimeoutSeconds;
        fetcher->Agent = agent();
        // A page's redirect stays on the site, as the crawl's do.
        if (!m_settings.spanHosts)
            fetcher->RedirectHost = m_startHost;
        m_fetchers.push_back(fetcher);
    }
    m_fetcherPage.assign(m_fetchers.size(), -1);
}

void TSearchRun::dispatchDownloads()
{
    for (std::size_t k = 0; k < m_fetchers.size(); ++k) {
        if (m_fetcherPage[k] >= 0)
            continue;
        if (m_toDownload.empty())
            return;
        const Integer page = m_toDownload.front();
        // The pages searched here are all of the site's one host: while it
        // is paced or backing off, every one of them waits.
        if (m_policy && m_policy->Check(pageName(page)) == THostPolicy::Verdict::Later) {
            armPaceTimer();
            return;
        }
        m_toDownload.pop_front();
        THTTPGet* fetcher = m_fetchers[k];
        const std::uint64_t generation = m_generation;
        fetcher->FileName.clear(); // the body stays in memory
        fetcher->URL = pageName(page);
        fetcher->ExtraHeaders = m_recorder ? m_recorder->Conditions(fetcher->URL) : String();
        fetcher->OnDoneString = [this, fetcher, generation, page](TObject*, const String& body) {
            guarded([&] { downloadDone(fetcher, generation, page, true, body); });
        };
        fetcher->OnError = [this, fetcher, generation, page](TObject*) {
            guarded([&] { downloadDone(fetcher, generation, page, false, kEmpty); });
        };
        m_fetcherPage[k] = page;
        if (m_policy)
            m_policy->Started(fetcher->URL);
        fetcher->DownloadFile();
    }
}

void TSearchRun::armPaceTimer()
{
    const auto ready = m_policy->NextReady();
    if (!ready)
        return; // a transfer to the host is still running; its end dispatches again
    const double wait = std::ceil((*ready - m_policy->Now()) * 1000);
    const std::uint64_t current = m_generation;
    QTimer::singleShot(
        static_cast<int>(std::clamp(wait, 0.0, 3600.0 * 1000)), this, [this, current] {
            guarded([&] {
                if (current == m_generation && m_state == Fetching && !m_data.Cancelled)
                    dispatchDownloads();
            });
        });
}

bool TSearchRun::backOff(THTTPGet* fetcher, Integer page)
{
    const Integer status =
        fetcher->Error().kind == TransferError::Kind::HttpStatus ? fetcher->Error().status : 0;
    if (!m_policy || (status != 429 && status != 503))
        return false;
    auto& tries = m_tries[static_cast<std::size_t>(page)];
    const auto wait =
        m_policy->BackOff(fetcher->URL, THostPolicy::RetryAfterOf(fetcher->Head()), tries);
    if (!wait || tries >= kSearchTries)
        return false;
    ++tries;
    m_toDownload.push_front(page);
    return true;
}

void TSearchRun::downloadDone(THTTPGet* fetcher, std::uint64_t generation, Integer page, bool ok,
                              const String& body)
{
    if (generation != m_generation || m_data.Cancelled || m_state != Fetching)
        return;
    const auto slot = std::find(m_fetchers.begin(), m_fetchers.end(), fetcher);
    if (slot != m_fetchers.end())
        m_fetcherPage[static_cast<std::size_t>(slot - m_fetchers.begin())] = -1;
    if (m_policy) {
        m_policy->Finished(fetcher->URL);
        if (!ok && backOff(fetcher, page)) {
            dispatchLater();
            return;
        }
    }
    TPageEntry& entry = m_data.PageTable[static_cast<std::size_t>(page)];
    // Unchanged since the kept copy: that copy is searched.
    TSavedReply kept;
    const bool notModified = ok && fetcher->StatusCode() == 304;
    TransferError failure = fetcher->Error();
    if (notModified && !(m_recorder && m_recorder->SavedPage(entry.Address(), kept))) {
        ok = false;
        failure = {TransferError::Kind::HttpStatus, 304, "Not modified, and no copy is kept"};
    }
    const String& text = notModified ? kept.Body : body;
    if (ok && !fetcher->RedirectTarget().empty()) {
        entry.State = TPageState::Skipped;
        entry.SetRule("redirect");
        entry.SetLocation(fetcher->RedirectTarget());
        if (m_recorder)
            m_recorder->Failed(entry.Address(), {TransferError::Kind::Redirect,
                                                 fetcher->StatusCode(), entry.Location()});
        ok = false;
    } else if (ok && m_recorder) {
        m_recorder->Received(entry.Address(), fetcher->EffectiveUrl(), fetcher->Head(), text);
    }
    if (ok) {
        try {
            takeCounts(entry, m_counter.Count(text));
            entry.NotModified = notModified;
        } catch (...) {
            // Shown, and the page counts as one that could not be fetched.
            HandleCurrentException();
            ok = false;
        }
    }
    if (!ok && entry.State != TPageState::Skipped) {
        entry.State = TPageState::Failed;
        entry.SetFailure(failure);
        if (m_recorder)
            m_recorder->Failed(entry.Address(), entry.Failure());
    }
    m_ready[static_cast<std::size_t>(page)] = true;
    fillReadyRows();
    dispatchLater();
}

void TSearchRun::dispatchLater()
{
    // The component takes a new download only once this event has returned.
    const std::uint64_t current = m_generation;
    QTimer::singleShot(0, this, [this, current] {
        guarded([&] {
            if (current == m_generation && m_state == Fetching && !m_data.Cancelled)
                dispatchDownloads();
        });
    });
}

void TSearchRun::reuseKeptPages()
{
    // Page by page: memory holds one body at a time.
    TSavedReply kept;
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        if (m_ready[static_cast<std::size_t>(i)] || !m_recorder->SavedPage(pageName(i), kept))
            continue;
        takeCounts(m_data.PageTable[static_cast<std::size_t>(i)], m_counter.Count(kept.Body));
        m_ready[static_cast<std::size_t>(i)] = true;
    }
}

void TSearchRun::fillReadyRows()
{
    while (m_state == Fetching && m_data.CurrentPage < m_data.PageCount &&
           m_ready[static_cast<std::size_t>(m_data.CurrentPage)]) {
        TPageEntry& entry = m_data.PageTable[static_cast<std::size_t>(m_data.CurrentPage)];
        ++m_data.CurrentPage;
        if (entry.State == TPageState::Searched) {
            m_statusPrefix = " " + std::to_string(m_data.CurrentPage) + " pages analyzed.";
            m_view.StatusChanged(m_statusPrefix + " Working...");
        } else if (entry.State == TPageState::Failed) {
            entry.Rename("Invalid URL");
            entry.Hits = 0;
        }
        m_view.RowFilled(m_data.CurrentPage, entry);
    }
    if (m_state == Fetching && m_data.CurrentPage >= m_data.PageCount)
        finishSearch();
}

void TSearchRun::finishSearch()
{
    m_state = Idle;
    m_outcome.kind = TRunOutcome::Completed;
    playSound(2);
    Integer searched = 0;
    for (Integer i = 0; i < m_data.CurrentPage; ++i) {
        if (m_data.PageTable[static_cast<std::size_t>(i)].State == TPageState::Searched)
            ++searched;
    }
    const String note = notSearchedNote();
    if (note.empty())
        m_view.StatusChanged(m_statusPrefix + " Ready.");
    else
        m_view.StatusChanged(" " + std::to_string(searched) + " pages analyzed" + note +
                             ". Ready.");
    m_view.PhaseChanged(IRunView::Phase::Idle);
    announceEnd();
}

void TSearchRun::CancelAction()
{
    m_data.Cancelled = true;
    ++m_generation;
    playSound(4);
    if (m_crawlerLive) {
        if (m_crawler)
            m_crawler->Stop();
        m_crawlerLive = false;
    }
    dropRobotsFetch();
    if (m_fetchActive) {
        for (THTTPGet* fetcher : m_fetchers)
            fetcher->Cancel();
        m_fetchActive = false;
    }
    m_view.StatusChanged(" Search cancelled.");
    m_outcome.kind = TRunOutcome::Cancelled;
    FinishRun();
}

void TSearchRun::refuseScheme(const String& address)
{
    // Refused before anything is looked up; the results of the last run stay.
    const String what = "scheme \"" + schemeOf(address) + "\" in " + address;
    m_state = Idle;
    m_outcome.kind = TRunOutcome::Refused;
    m_outcome.Address = address;
    m_view.StatusChanged(" Unsupported " + what + ". Ready.");
    ShowMessageBox("unsupported " + what, TMsgKind::Error);
    m_view.PhaseChanged(IRunView::Phase::Idle);
    announceEnd();
}

void TSearchRun::FailStart()
{
    m_state = Idle;
    m_outcome = m_startFailure;
    playSound(4);
    if (m_outcome.kind == TRunOutcome::ErrorStatus)
        m_view.StatusChanged(" " + m_outcome.Address + " answered " +
                             std::to_string(m_outcome.Failure.status) + ". Ready.");
    else
        m_view.StatusChanged(" Cannot reach " + m_outcome.Address + ": " +
                             FailureReason(m_outcome.Failure) + ". Ready.");
    m_view.PhaseChanged(IRunView::Phase::Idle);
    announceEnd();
}

void TSearchRun::FinishRun()
{
    takeCrawlFigures();
    m_state = Idle;
    setPageNames();
    // A page counted while the crawl ran keeps its count.
    applyCrawlCounts();
    const auto pages = static_cast<Integer>(m_data.PageList.size());
    for (Integer i = 0; i < pages; ++i) {
        m_view.RowFilled(i + 1, m_data.PageTable[static_cast<std::size_t>(i)]);
        m_view.StatusChanged(" " + std::to_string(i + 1) + " of " +
                             std::to_string(m_data.PageCount) + " pages analyzed. Working...");
    }
    m_data.CurrentPage = pages;
    playSound(2);
    const String found = " " + std::to_string(m_data.CurrentPage) + " pages found" +
                         (m_data.Cancelled ? notSearchedNote() : String());
    if (m_data.Cancelled)
        m_view.StatusChanged(found + ". Request aborted by user. Ready.");
    else
        m_view.StatusChanged(found + ". Ready.");
    m_view.PhaseChanged(IRunView::Phase::Idle);
    announceEnd();
}

void TSearchRun::announceEnd()
{
    recordOutcome();
    m_view.RunFinished(m_outcome);
    emit Finished();
}

bool WaitForStoppedTransfers(int milliseconds)
{
    return TWorkerThread::WaitForAll(milliseconds);
}

void TSearchRun::recordOutcome()
{
    if (m_recorder && !m_saved)
        m_recorder->Finished(std::to_string(m_outcome.kind) + "\t" +
                                 std::to_string(static_cast<int>(m_outcome.Failure.kind)) + "\t" +
                                 std::to_string(m_outcome.Failure.status) + "\t" +
                                 m_outcome.Failure.detail,
                             m_outcome.kind == TRunOutcome::Completed && !m_data.Cancelled);
}

void TSearchRun::SearchSaved(const SearchSettings& settings, CrawlFile& saved)
{
    guarded([&] {
        const CrawlSettings crawl = saved.Settings();
        m_settings = settings;
        m_settings.address = crawl.Address;
        m_settings.depthIndex = crawl.Depth - 1;
        m_settings.spanHosts = crawl.SpanHosts;
        m_saved = &saved;
        const ScopeExit done([this] { m_saved = nullptr; });
        if (!beginRun())
            return;
        m_fetchActive = false;
        m_view.StatusChanged(
            " Searching saved crawl of " + m_settings.address + " (" +
            ToUtf8(QDateTime::fromSecsSinceEpoch(crawl.SavedAt).toString(Qt::ISODate)) + ")...");
        replaySaved(saved);
    });
}

void TSearchRun::replaySaved(CrawlFile& saved)
{
    // The crawl's events as it reported them, to the same handlers.
    addPage(m_settings.address);
    m_scope->AdmitStart();
    TRuziZidu* const crawler = m_crawler.data();
    saved.ForEachFound([&](const FoundLink& found) {
        bool follow = true;
        if (found.kind == FoundLink::StartMoved)
            CrawlerStartMoved(crawler, found.Address);
        else
            CrawlerLinkFound(crawler, found.Address, found.Type, found.Host, follow);
    });
    // A crawl whose start failed fails the same way.
    const String outcome = saved.Value("outcome").value_or(String());
    std::vector<String> fields;
    for (std::size_t from = 0, tab = 0; tab != String::npos; from = tab + 1) {
        tab = outcome.find('\t', from);
        fields.push_back(outcome.substr(from, tab == String::npos ? tab : tab - from));
    }
    const int kind = fields.size() == 4 ? std::atoi(fields[0].c_str()) : -1;
    if (kind == TRunOutcome::Unreachable || kind == TRunOutcome::ErrorStatus) {
        m_startFailure = m_outcome;
        m_startFailure.kind = static_cast<TRunOutcome::Kind>(kind);
        m_startFailure.Failure.kind =
            static_cast<TransferError::Kind>(std::atoi(fields[1].c_str()));
        m_startFailure.Failure.status = std::atoi(fields[2].c_str());
        m_startFailure.Failure.detail = fields[3];
        FailStart();
    } else if (m_firstLinkPending) {
        FinishRun();
    } else {
        CrawlFinished();
    }
}

void TSearchRun::readSavedPages()
{
    // Page by page: memory holds one body at a time.
    for (Integer i = 0; i < m_data.PageCount; ++i) {
        if (m_ready[static_cast<std::size_t>(i)])
            continue;
        TPageEntry& entry = m_data.PageTable[static_cast<std::size_t>(i)];
        const auto page = m_saved->Page(entry.Name);
        if (page && page->HasBody && !page->Failure.failed()) {
            takeCounts(entry, m_counter.Count(page->Body));
        } else if (page && page->Failure.kind == TransferError::Kind::Redirect &&
                   page->Status >= 300) {
            // A redirect off the site, kept with its target.
            entry.State = TPageState::Skipped;
            entry.SetRule("redirect");
            entry.SetLocation(page->Failure.detail);
        } else {
            entry.State = TPageState::Failed;
            // A page the saved crawl never came to was stopped before it.
            entry.SetFailure(page ? page->Failure
                                  : TransferError{TransferError::Kind::Cancelled, 0, String()});
        }
        m_ready[static_cast<std::size_t>(i)] = true;
    }
}
