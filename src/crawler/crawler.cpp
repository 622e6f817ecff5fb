// The site crawler (TRuziZidu): queue, levels, concurrent fetches and its events.

#include "crawler.h"

#include <algorithm>

#include "ioerror.h"
#include "lasterror.h"
#include "linkscan.h"
#include "messagebox.h"
#include "scopeexit.h"
#include "tickcount.h"
#include "uithread.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>

namespace {

constexpr int kTickInterval = 350; // ms
// The scan offers the UI a turn at least this often, in ms.
constexpr std::uint32_t kScanSlice = 4;

// Deadlines are tick counts that wrap every 49.7 days; compare the distance.
bool tickPassed(std::uint32_t now, std::uint32_t deadline)
{
    return static_cast<std::int32_t>(now - deadline) > 0;
}

// Only the web's own schemes are fetched; links of any other are listed.
bool fetchable(const String& scheme)
{
    const String lower = AsciiLower(scheme);
    return lower == "http" || lower == "https";
}

// The kind of a controller's transfer that reads a host's robots.txt.
constexpr char kKindRobots = 'R';

// The site's root, where its robots.txt is: "scheme://host:port".
String robotsAddress(const String& url)
{
    return THostPolicy::HostKey(url) + "/robots.txt";
}

} // namespace

TRuziZidu::TRuziZidu(QObject* Owner) : QObject(Owner)
{
    m_timer.setInterval(kTickInterval);
    connect(&m_timer, &QTimer::timeout, this, &TRuziZidu::onTimer);
    m_promptTimer.setSingleShot(true);
    m_promptTimer.setInterval(0);
    connect(&m_promptTimer, &QTimer::timeout, this, &TRuziZidu::onTimer);
    m_paceTimer.setSingleShot(true);
    connect(&m_paceTimer, &QTimer::timeout, this, &TRuziZidu::onTimer);
    SetWorking(false);
    m_knownHosts.SetCapacity(10000);
}

TRuziZidu::~TRuziZidu()
{
    m_timer.stop();
    m_promptTimer.stop();
    m_paceTimer.stop();
    // The scanning thread ends before anything it reports to goes.
    m_scanCancel->store(true);
    m_scanner.reset();
}

void TRuziZidu::SetDepthSearchLevel(Integer Value)
{
    if (Value > 0)
        m_depthSearchLevel = Value;
}

void TRuziZidu::SetConcurrentDownloads(Integer Value)
{
    if (Value > 0)
        m_concurrentDownloads = Value;
}

bool TRuziZidu::Start(const String& Address)
{
    bool failed = false;
    if (m_aborting) {
        ShowMessageBox("Waiting for processes to abort", TMsgKind::Warning);
        failed = true;
    } else if (m_working) {
        ShowMessageBox("I'm already working !", TMsgKind::Information);
        failed = true;
    }

    if (!failed) {
        for (TKsHttpGet* fetcher : m_fetchers)
            delete fetcher; // all idle between crawls
        m_fetchers.clear();
        for (Integer i = 0; i < m_concurrentDownloads; ++i) {
            auto* fetcher = new TKsHttpGet(this);
            // A finished transfer is consumed at once, not at the next tick.
            fetcher->OnDataComplete = [this](TObject*, const String&) { requestTick(); };
            fetcher->OnError = [this](TObject*, Cardinal, const String&) { requestTick(); };
            m_fetchers.push_back(fetcher);
        }
    }

    if (!failed) {
        closeResults();
        if (!FileOfResults.empty()) {
            m_results.reset(std::fopen(FileOfResults.c_str(), "wb"));
            if (!m_results) {
                ShowMessageBox("unable to create file " + FileOfResults, TMsgKind::Error);
                failed = true;
            } else {
                m_resultsFileOpen = true;
            }
        }
    }

    if (!failed && !Address.empty())
        StartingUrl = Address;

    if (StartingUrl.empty()) {
        ShowMessageBox("You must set the \"starting url\" property before starting",
                       TMsgKind::Information);
        failed = true;
    }

    if (!failed) {
        m_doneCount = 0;
        m_linksOverCap = 0;
        m_errorCount = 0;
        m_retryCount = 0;
        m_lastStats.fill(99999);
        Fire(OnUpdatedStats, this, 0, 0, 0, 0, 0, 0);
        m_knownUrls.Clear();
        m_knownHosts.Clear();
        m_queue.Clear();
        if (!m_startUrlParts.Crack(StartingUrl)) {
            closeResults();
            ShowMessageBox("Invalid Url : " + StartingUrl, TMsgKind::Error);
            failed = true;
        }
    }

    if (failed)
        return false;
    SetWorking(true);
    m_scanCancel = std::make_shared<std::atomic<bool>>(false);
    m_scanned.clear();
    m_pagesPending = 0;
    if (!m_scanner)
        m_scanner = std::make_unique<TPageScanner>(this, "pagesScanned");
    m_queue.Add(StartingUrl, 1, 1, kKindStart, 0);
    // A page that links back to the start must not fetch it a second time.
    markKnown(StartingUrl);
    markKnown(ResolveLink(m_startUrlParts, StartingUrl));
    // The tick is the heartbeat for deadlines and statistics; the first
    // request need not wait for it.
    m_timer.start();
    if (!DispatchIdle())
        return true;
    UpdateStats();
    return true;
}

void TRuziZidu::Stop()
{
    // An idle crawler has no tick to clear the request, which would refuse
    // every later start.
    if (m_working) {
        m_aborting = true;
        m_scanCancel->store(true);
    }
}

void TRuziZidu::AddStartLink(const String& Address)
{
    TCrackUrl parts;
    if (!m_working || m_aborting || !parts.Crack(Address))
        return;
    const String type = LinkType(Address);
    if (type == "unknown")
        return;
    TPageJob start;
    start.Url = StartingUrl;
    start.Level = 1;
    const TFoundLink link{Address,
                          type,
                          parts.Scheme.Text(),
                          parts.HostName.Text(),
                          parts.Port,
                          parts.Directory(),
                          parts.UrlPath.Text(),
                          parts.ExtraInfo.Text(),
                          0,
                          kMarkHref};
    fileLink(start, link, 0);
}

void TRuziZidu::SetWorking(bool Value)
{
    // A failing close must not keep the crawler working for ever.
    std::exception_ptr closeError;
    if (!Value) {
        try {
            closeResults();
        } catch (...) {
            closeError = std::current_exception();
        }
    }
    m_working = Value;
    Fire(OnWorking, this, Value);
    if (closeError)
        std::rethrow_exception(closeError);
}

void TRuziZidu::closeResults()
{
    if (!m_resultsFileOpen) {
        m_results.reset();
        return;
    }
    m_resultsFileOpen = false;
    std::FILE* file = m_results.release();
    if (std::fclose(file) != 0)
        throw EInOutError::FromErrno(errno);
}

void TRuziZidu::onTimer()
{
    try {
        TimerTick();
    } catch (...) {
        HandleCurrentException();
    }
}

void TRuziZidu::requestTick()
{
    if (!m_timer.isActive())
        return;
    if (m_tickBusy)
        m_tickRequested = true;
    else
        m_promptTimer.start();
}

bool TRuziZidu::offerTurn()
{
    return GetTickCount() - m_lastPump < kScanSlice || pumpMessages();
}

bool TRuziZidu::pumpMessages()
{
    const QPointer<TRuziZidu> alive(this);
    QCoreApplication::processEvents();
    if (!alive)
        return false;
    m_lastPump = GetTickCount();
    return true;
}

void TRuziZidu::TimerTick()
{
    if (m_tickBusy) {
        m_tickRequested = true;
        return;
    }
    m_tickBusy = true;
    // The event loop has just had its turn, which started this tick.
    m_lastPump = GetTickCount();
    std::exception_ptr firstError;
    // Runs one step of the tick; its error is kept for the end of the tick.
    const auto step = [&firstError](const auto& work) {
        try {
            work();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    };

    // A copy: a handler may not replace the controllers mid-tick, but the
    // walk must not depend on it.
    const std::vector<TKsHttpGet*> fetchers = m_fetchers;
    const QPointer<TRuziZidu> self(this);
    for (TKsHttpGet* fetcher : fetchers) {
        bool alive = true;
        step([&] { alive = processController(fetcher); });
        if (!alive || !self)
            return; // destroyed meanwhile: touch nothing
        // A controller just consumed, this one included, gets its next
        // address in the same pass, so that all of them stay busy.
        step([&] {
            if (m_working && !m_aborting)
                alive = DispatchIdle();
        });
        if (!alive || !self)
            return;
        step([this] { UpdateStats(); });
        if (!offerTurn())
            return;
    }
    bool alive = true;
    step([&] { alive = fileScannedPages(); });
    if (!alive || !self)
        return;
    step([&] {
        if (m_working && !m_aborting)
            alive = DispatchIdle();
    });
    if (!alive || !self)
        return;
    step([&] { alive = reportWarnings(); });
    if (!alive || !self)
        return;
    step([this] { UpdateStats(); });
    if (!offerTurn())
        return;

    step([this] {
        const bool busy = UpdateStats();
        if (!busy) {
            m_aborting = false;
            if (m_working) {
                m_timer.stop();
                m_promptTimer.stop();
                m_paceTimer.stop();
                SetWorking(false);
            }
        } else if (!m_working) {
            SetWorking(true);
        } else if (m_aborting) {
            for (TKsHttpGet* fetcher : m_fetchers) {
                if (fetcher->State() == GETHTTP_GETTING)
                    fetcher->KillGet();
            }
            m_queue.Clear();
        }
    });

    m_tickBusy = false;
    if (m_tickRequested) {
        m_tickRequested = false;
        if (m_timer.isActive())
            m_promptTimer.start();
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

bool TRuziZidu::processController(TKsHttpGet* Fetcher)
{
    const QPointer<TRuziZidu> alive(this);
    const QPointer<TKsHttpGet> fetcher(Fetcher);
    switch (Fetcher->State()) {
    case GETHTTP_WAITING:
        if (!DispatchNext(Fetcher))
            return false;
        break;
    case GETHTTP_GETTING:
        if (Fetcher->LinkKind == kKindRobots) {
            // A robots.txt that never comes is a host that cannot be had.
            if (m_aborting || tickPassed(GetTickCount(), Fetcher->ConnectTimeOut))
                Fetcher->KillGet();
        } else if (tickPassed(GetTickCount(), Fetcher->ConnectTimeOut)) {
            ++m_errorCount;
            const ScopeExit kill([&fetcher] {
                TKsHttpGet* f = fetcher.data();
                if (f && f->Busy)
                    f->KillGet();
            });
            const String url = Fetcher->CrackUrl.Url();
            const TransferError late{TransferError::Kind::Timeout, 0,
                                     "No reply within " + std::to_string(Fetcher->TimeOut) + " s"};
            Fire(OnTransferFailed, this, url, late);
            if (!alive)
                return false;
            // The deadline is the crawler's own: no layer number, no text.
            Fire(OnError, this, "timeout : " + url, Cardinal{0}, String());
        } else if (m_aborting) {
            Fetcher->KillGet();
        }
        break;
    case GETHTTP_OK: {
        const ScopeExit consume([&fetcher] {
            if (TKsHttpGet* f = fetcher.data())
                f->SetWaiting();
        });
        if (Fetcher->Request != GETHTTP_BODY)
            break;
        const String url = Fetcher->CrackUrl.Url();
        if (Policy && Fetcher->LinkKind == kKindRobots) {
            Policy->RobotsRead(url, Fetcher->StatusCode(), Fetcher->Body());
            break;
        }
        // A kept copy that stood in for the fetch made no request.
        if (Policy && !Fetcher->Kept)
            Policy->Finished(url);
        // Unchanged since the kept copy the request's conditions came from.
        TSavedReply saved;
        if (Fetcher->StatusCode() == 304 && SavedPage && SavedPage(url, saved)) {
            if (!alive)
                return false;
            Fetcher->Answer(200, std::move(saved.Head), std::move(saved.Body),
                            saved.FinalUrl.empty() ? url : std::move(saved.FinalUrl));
        }
        if (Fetcher->StatusCode() == 200) {
            // A page handed to the scanner is done once its results are in.
            bool handedOver = false;
            const ScopeExit countDone([this, &alive, &handedOver] {
                if (alive && !handedOver)
                    ++m_doneCount;
            });
            m_receivedFinal = Fetcher->EffectiveUrl().empty() ? url : Fetcher->EffectiveUrl();
            Fire(OnPageReceived, this, Fetcher->CrackUrl.HostName.Text(), url, Fetcher->Head(),
                 Fetcher->Body());
            if (!alive)
                return false;
            if (!m_aborting) {
                const String& final = Fetcher->EffectiveUrl();
                const bool moved = !final.empty() && final != url && m_baseParts.Crack(final);
                // Where the start led is the start page too, whatever its host.
                if (moved && Fetcher->LinkKind == kKindStart) {
                    markKnown(final);
                    markKnown(ResolveLink(m_baseParts, final));
                }
                if (moved && Fetcher->LinkKind == kKindStart && startMoved()) {
                    Fire(OnStartMoved, this, final);
                    if (!alive)
                        return false;
                }
                // Its links are relative to where it came from.
                scanPage(*Fetcher, moved ? final : url);
                handedOver = true;
            }
        } else if (!backOff(Fetcher)) {
            ++m_errorCount;
            // A redirect off the site was not followed: the page ends here.
            const String& target = Fetcher->RedirectTarget();
            const TransferError status{target.empty() ? TransferError::Kind::HttpStatus
                                                      : TransferError::Kind::Redirect,
                                       Fetcher->StatusCode(), target};
            if (!reportFailure(url, status))
                return false;
        }
        break;
    }
    case GETHTTP_ERROR: {
        const ScopeExit consume([&fetcher] {
            if (TKsHttpGet* f = fetcher.data())
                f->SetWaiting();
        });
        if (Policy && Fetcher->LinkKind == kKindRobots) {
            const TransferError& error = Fetcher->Error();
            Policy->RobotsRead(Fetcher->CrackUrl.Url(),
                               error.kind == TransferError::Kind::HttpStatus ? error.status : 0,
                               String(), error);
            break;
        }
        if (Policy)
            Policy->Finished(Fetcher->CrackUrl.Url());
        if (Fetcher->Tries < Retries) {
            m_queue.Add(Fetcher->CrackUrl.Url(), Fetcher->Level, Fetcher->Tries + 1,
                        Fetcher->LinkKind, Fetcher->CountArea);
            ++m_retryCount;
        } else {
            ++m_errorCount;
            const String url = Fetcher->CrackUrl.Url();
            if (!reportFailure(url, Fetcher->Error()))
                return false;
        }
        break;
    }
    case GETHTTP_CREATING:
    case GETHTTP_KILLING:
        break;
    }
    return alive;
}

Integer TRuziZidu::nextQueueIndex() const
{
    if (!LeavesFirst)
        return 0;
    Integer best = 0;
    for (Integer i = 1; i < m_queue.Count(); ++i) {
        if (m_queue.Item(i)->Level > m_queue.Item(best)->Level)
            best = i;
    }
    return best;
}

Integer TRuziZidu::pickEntry(std::vector<String>& hostsWaiting, THostPolicy::Verdict& verdict)
{
    verdict = THostPolicy::Verdict::Go;
    const Integer preferred = nextQueueIndex();
    if (!Policy)
        return preferred;
    // The preferred entry first; when its host must wait, the others in
    // queue order, so that one slow host holds up no other.
    for (Integer i = -1; i < m_queue.Count(); ++i) {
        const Integer index = i < 0 ? preferred : i;
        if (i == preferred)
            continue;
        const String& url = m_queue.Url(index);
        const String key = THostPolicy::HostKey(url);
        if (std::find(hostsWaiting.begin(), hostsWaiting.end(), key) != hostsWaiting.end())
            continue;
        verdict = Policy->Check(url);
        if (verdict != THostPolicy::Verdict::Later)
            return index;
        hostsWaiting.push_back(key);
    }
    return -1;
}

bool TRuziZidu::refuse(Integer index, THostPolicy::Verdict verdict)
{
    const String url = m_queue.Url(index);
    const bool start = m_queue.Item(index)->LinkKind == kKindStart;
    m_queue.Delete(index);
    if (verdict == THostPolicy::Verdict::Unreachable && start) {
        // The start page fails as it would have: its host cannot be reached.
        ++m_errorCount;
        return reportFailure(url, Policy->Failure(url));
    }
    const QPointer<TRuziZidu> alive(this);
    Fire(OnRefused, this, url,
         verdict == THostPolicy::Verdict::Robots ? String("robots") : String("robots-unavailable"));
    return static_cast<bool>(alive);
}

bool TRuziZidu::DispatchNext(TKsHttpGet* Fetcher)
{
    // Deepest first: a page being scanned may still queue deeper links.
    if (LeavesFirst && m_pagesPending > 0)
        return true;
    // While the scanner lags, more bodies would only wait for it in memory.
    if (m_pagesPending >= 2 * m_concurrentDownloads)
        return true;
    std::vector<String> hostsWaiting;
    // An entry that does not decompose is dropped unseen; the next one is
    // taken instead, so a bad link costs no tick.
    while (m_queue.Count() > 0) {
        THostPolicy::Verdict verdict = THostPolicy::Verdict::Go;
        const Integer index = pickEntry(hostsWaiting, verdict);
        if (index < 0) {
            armPaceTimer();
            return true;
        }
        Fetcher->TimeOut = TimeOut;
        Fetcher->ReadTimeOut = ReadTimeOut;
        Fetcher->Agent = Agent;
        Fetcher->Referer = Referer;
        Fetcher->ReuseCache = ReuseCache;
        Fetcher->ExtraHeaders = String(); // only a page the file keeps is asked for on condition
        switch (verdict) {
        case THostPolicy::Verdict::Go:
        case THostPolicy::Verdict::Later:
            break;
        case THostPolicy::Verdict::FetchRobots: {
            // The entry stays queued until its host's rules are known.
            const String& url = m_queue.Url(index);
            Policy->RobotsFetching(url);
            Fetcher->LinkKind = kKindRobots;
            Fetcher->Tries = 1;
            Fetcher->RedirectHost = String();
            if (Fetcher->CrackUrl.Crack(robotsAddress(url)))
                Fetcher->StartGet(GETHTTP_BODY);
            if (Fetcher->State() != GETHTTP_WAITING)
                return true;
            Policy->RobotsRead(url, 0, String(),
                               {TransferError::Kind::Connect, 0, "invalid address"});
            continue;
        }
        case THostPolicy::Verdict::Robots:
        case THostPolicy::Verdict::RobotsUnavailable:
        case THostPolicy::Verdict::Unreachable:
            if (!refuse(index, verdict))
                return false;
            continue;
        }
        const TObjectUrlInQueue& entry = *m_queue.Item(index);
        Fetcher->RedirectHost = RedirectsStayOnSite && entry.LinkKind != kKindStart
                                    ? AsciiLower(m_startUrlParts.HostName.Text())
                                    : String();
        const String url = m_queue.Url(index);
        const bool valid = Fetcher->CrackUrl.Crack(url);
        if (valid && Fetcher->CrackUrl.UserName.empty() && !UserName.empty()) {
            Fetcher->CrackUrl.UserName.Assign(UserName);
            Fetcher->CrackUrl.Password.Assign(Password);
        }
        Fetcher->Level = entry.Level;
        Fetcher->Tries = entry.Tries;
        Fetcher->CountArea = entry.CountArea;
        Fetcher->LinkKind = entry.LinkKind;
        Fetcher->SiteStart = entry.LinkKind == kKindStart && entry.Level == 1;
        m_queue.Delete(index);
        if (m_aborting) {
            m_queue.Clear();
            return true;
        }
        if (valid && (ReuseSaved || RequestConditions)) {
            const String address = Fetcher->CrackUrl.Url();
            TSavedReply saved;
            if (ReuseSaved && SavedPage && SavedPage(address, saved)) {
                // Taken up at the next tick as if it had just arrived.
                Fetcher->Answer(200, std::move(saved.Head), std::move(saved.Body),
                                saved.FinalUrl.empty() ? address : std::move(saved.FinalUrl));
                requestTick();
                return true;
            }
            Fetcher->ExtraHeaders = RequestConditions ? RequestConditions(address) : String();
        }
        Fetcher->StartGet(GETHTTP_BODY); // refuses, silently, an invalid address
        if (Fetcher->State() != GETHTTP_WAITING) {
            if (Policy)
                Policy->Started(Fetcher->CrackUrl.Url());
            return true;
        }
    }
    return true;
}

bool TRuziZidu::DispatchIdle()
{
    const QPointer<TRuziZidu> alive(this);
    for (TKsHttpGet* fetcher : m_fetchers) {
        if (fetcher->State() == GETHTTP_WAITING && (!DispatchNext(fetcher) || !alive))
            return false;
    }
    return true;
}

void TRuziZidu::armPaceTimer()
{
    const auto ready = Policy ? Policy->NextReady() : std::nullopt;
    if (!ready)
        return;
    const double wait = std::ceil((*ready - Policy->Now()) * 1000);
    const int ms = static_cast<int>(std::clamp(wait, 0.0, 3600.0 * 1000));
    if (!m_paceTimer.isActive() || m_paceTimer.remainingTime() > ms)
        m_paceTimer.start(ms);
}

bool TRuziZidu::backOff(TKsHttpGet* Fetcher)
{
    const Integer status = Fetcher->StatusCode();
    if (!Policy || m_aborting || (status != 429 && status != 503))
        return false;
    const String url = Fetcher->CrackUrl.Url();
    const auto wait = Policy->BackOff(url, THostPolicy::RetryAfterOf(Fetcher->Head()),
                                      static_cast<int>(Fetcher->Tries));
    if (!wait || Fetcher->Tries >= Retries)
        return false;
    m_queue.Add(url, Fetcher->Level, Fetcher->Tries + 1, Fetcher->LinkKind, Fetcher->CountArea);
    ++m_retryCount;
    return true;
}

bool TRuziZidu::reportWarnings()
{
    if (!Policy)
        return true;
    const QPointer<TRuziZidu> alive(this);
    for (const String& warning : Policy->TakeWarnings()) {
        Fire(OnLog, this, warning);
        if (!alive)
            return false;
    }
    return true;
}

bool TRuziZidu::UpdateStats()
{
    Integer downloading = 0;
    Integer toAnalyze = 0;
    bool settling = false;
    for (const TKsHttpGet* fetcher : m_fetchers) {
        const TKsHttpGetState state = fetcher->State();
        if (state == GETHTTP_GETTING)
            ++downloading;
        else if (state == GETHTTP_OK)
            ++toAnalyze;
        if (state > GETHTTP_WAITING)
            settling = true;
    }
    // Pages at the scanner are still to be analysed.
    toAnalyze += m_pagesPending;
    settling = settling || m_pagesPending > 0;
    const Integer inQueue = m_queue.Count();
    const std::array<Integer, 6> now = {inQueue,     toAnalyze,    downloading,
                                        m_doneCount, m_errorCount, m_retryCount};
    if (OnUpdatedStats && now != m_lastStats) {
        OnUpdatedStats(this, inQueue, downloading, toAnalyze, m_doneCount, m_retryCount,
                       m_errorCount);
        m_lastStats = now;
    }
    if (inQueue == 0 && downloading == 0)
        return settling;
    return true;
}

bool TRuziZidu::Settled() const
{
    if (m_queue.Count() > 0 || m_pagesPending > 0)
        return false;
    for (const TKsHttpGet* fetcher : m_fetchers) {
        if (fetcher->State() != GETHTTP_WAITING)
            return false;
    }
    return true;
}

bool TRuziZidu::reportFailure(const String& url, const TransferError& error)
{
    const QPointer<TRuziZidu> alive(this);
    Fire(OnTransferFailed, this, url, error);
    if (!alive)
        return false;
    // A reply's status stands where the layer's number would.
    const Cardinal code = error.kind == TransferError::Kind::HttpStatus
                              ? static_cast<Cardinal>(error.status)
                              : inet::ErrorNumber(error);
    Fire(OnError, this, url, code, error.detail);
    return static_cast<bool>(alive);
}

bool TRuziZidu::startMoved()
{
    const bool moved =
        AsciiLower(m_baseParts.Scheme.Text()) != AsciiLower(m_startUrlParts.Scheme.Text()) ||
        AsciiLower(m_baseParts.HostName.Text()) != AsciiLower(m_startUrlParts.HostName.Text()) ||
        m_baseParts.Port != m_startUrlParts.Port;
    if (moved)
        m_startUrlParts.Crack(m_baseParts.Url());
    return moved;
}

void TRuziZidu::scanPage(TKsHttpGet& Page, const String& Base)
{
    auto job = std::make_shared<TPageJob>();
    job->Url = Page.CrackUrl.Url();
    job->Base = Base;
    // The controller needs the body no more: moved, not copied.
    job->Body = Page.TakeBody();
    job->Level = Page.Level;
    job->MaxLinks = static_cast<std::size_t>(std::max<Integer>(MaxPageLinks, 0));
    ++m_pagesPending;
    job->Crawl = m_scanCancel;
    m_scanner->Post(std::move(job), m_scanCancel, AnalysePage);
}

void TRuziZidu::pagesScanned()
{
    if (!m_scanner)
        return;
    for (std::shared_ptr<TPageJob>& page : m_scanner->TakeDone()) {
        // A page of a crawl before this one is no longer counted.
        if (page->Crawl == m_scanCancel)
            m_scanned.push_back(std::move(page));
    }
    requestTick();
}

bool TRuziZidu::fileScannedPages()
{
    const QPointer<TRuziZidu> alive(this);
    while (!m_scanned.empty()) {
        const std::shared_ptr<TPageJob> page = std::move(m_scanned.front());
        m_scanned.pop_front();
        --m_pagesPending;
        // No links are filed while winding down.
        if (m_aborting) {
            ++m_doneCount;
            continue;
        }
        {
            const ScopeExit countDone([this, &alive] {
                if (alive)
                    ++m_doneCount;
            });
            if (page->Analysis.has_value())
                Fire(OnPageAnalysed, this, page->Url, page->Analysis);
        }
        if (!alive)
            return false;
        const Integer anchorBase = m_anchorCount;
        m_anchorCount += page->Scan.Anchors;
        m_linksOverCap += page->Scan.OverCap;
        for (const TFoundLink& link : page->Scan.Links) {
            if (m_aborting)
                break;
            fileLink(*page, link, link.Anchor > 0 ? anchorBase + link.Anchor : 0);
            if (!alive)
                return false;
            // The UI gets a turn now and then on a page of many links.
            if (!offerTurn())
                return false;
        }
    }
    return true;
}

void TRuziZidu::fileLink(const TPageJob& Page, const TFoundLink& Link, Integer CountArea)
{
    const String& address = Link.Address;
    const String& host = Link.HostName;
    if (StayOnSite && AsciiLower(host) != AsciiLower(m_startUrlParts.HostName.Text()))
        return;

    // Inserting where the search stopped keeps the host list in sorted order
    // at logarithmic cost, instead of sorting again after every addition.
    Integer index = 0;
    if (!m_knownHosts.Find(host, index)) {
        m_knownHosts.Insert(index, host);
        if (SeekRobotsTxt && fetchable(Link.Scheme)) {
            const bool defaultPort = (Link.Scheme == "http" && Link.Port == 80) ||
                                     (Link.Scheme == "https" && Link.Port == 443);
            const String robots = Link.Scheme + "://" + host +
                                  (defaultPort ? String() : ":" + std::to_string(Link.Port)) +
                                  "/robots.txt";
            m_queue.Add(robots, Page.Level + 1, 1, Link.Kind, CountArea);
        }
    }
    if (!m_knownUrls.Insert(address))
        return;

    String writeToFile = "x";
    const char hrefOrSrc = Link.Kind == kMarkHref ? 'H' : Link.Kind == kMarkSrc ? 'S' : ' ';
    bool follow = true;
    Fire(OnLinkFound, this, address, Link.Type, Page.Url, host, Link.Directory, Link.UrlPath,
         Link.ExtraInfo, writeToFile, hrefOrSrc, CountArea, follow);

    if (m_resultsFileOpen) {
        if (writeToFile == "x")
            writeResultLine("\"" + Link.Type + "\";\"" + address + "\";\"" + host + "\"");
        else if (!writeToFile.empty())
            writeResultLine(writeToFile);
    }
    if (follow && fetchable(Link.Scheme) && Link.Type == "htm" && Page.Level < m_depthSearchLevel &&
        !m_aborting)
        m_queue.Add(address, Page.Level + 1, 1, Link.Kind, CountArea);
}

void TRuziZidu::ForgetAddresses()
{
    m_knownUrls.Clear();
}

void TRuziZidu::markKnown(const String& Address)
{
    if (!Address.empty())
        m_knownUrls.Insert(Address);
}

void TRuziZidu::writeResultLine(const String& line)
{
    const String text = line + "\r\n";
    if (std::fwrite(text.data(), 1, text.size(), m_results.get()) != text.size() ||
        std::fflush(m_results.get()) != 0)
        throw EInOutError::FromErrno(errno);
}
