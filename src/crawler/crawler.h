// The site crawler (TRuziZidu): queue, levels, concurrent fetches and its events.

#pragma once

#include "crackurl.h"
#include "fetchcontroller.h"
#include "hostpolicy.h"
#include "nqtypes.h"
#include "pagescan.h"
#include "stringhelpers.h"
#include "stringlist.h"
#include "stringset.h"
#include "transfererror.h"
#include "urlqueue.h"

#include <QObject>
#include <QTimer>

#include <any>
#include <array>
#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

using TOnLinkFound =
    TEvent<const String& /*UrlFound*/, const String& /*TypeLink*/, const String& /*FromUrl*/,
           const String& /*HostName*/, const String& /*UrlPath*/, const String& /*UrlPathWithFile*/,
           const String& /*ExtraInfos*/, String& /*WriteToFile*/, char /*HrefOrSrc*/,
           Integer /*CountArea*/, bool& /*FollowIfHtmlLink*/>;
using TOnPageReceived = TEvent<const String& /*HostName*/, const String& /*Url*/,
                               const String& /*Head*/, const String& /*Body*/>;
using TOnUpdatedStats = TEvent<Integer /*InQueue*/, Integer /*Downloading*/, Integer /*ToAnalyze*/,
                               Integer /*Done*/, Integer /*Retries*/, Integer /*Errors*/>;
using TOnLog = TEvent<const String& /*LogMessage*/>;
using TOnWorking = TEvent<bool /*Working_*/>;
using TOnStartMoved = TEvent<const String& /*FinalUrl*/>;
using TScanOnError =
    TEvent<const String& /*Url*/, Cardinal /*ErrorCode*/, const String& /*ErrorMsg*/>;
using TOnPageAnalysed = TEvent<const String& /*Url*/, const std::any& /*Analysis*/>;
using TOnTransferFailed = TEvent<const String& /*Url*/, const TransferError& /*Error*/>;
using TOnRefused = TEvent<const String& /*Url*/, const String& /*Rule*/>;

// A page as an earlier crawl kept it: what stands in for fetching it again.
struct TSavedReply
{
    String FinalUrl; // where its redirects led; empty when nowhere else
    String Head;
    String Body;
};

// Crawls a web site from one start address on the UI thread: a scheduler
// tick hands queued addresses to a fixed set of fetch controllers, consumes
// their results, has the links of every page received with status 200
// extracted on a scanning thread, files them and reports what it finds
// through events.
class TRuziZidu : public QObject
{
    Q_OBJECT

public:
    explicit TRuziZidu(QObject* Owner = nullptr);
    ~TRuziZidu() override;

    // Published properties.
    Integer TimeOut = 300;
    Integer ReadTimeOut = 30; // seconds without a byte, or to a reply's whole headers
    String FileOfResults;
    bool LeavesFirst = false; // true: the deepest queued address goes first
    bool ReuseCache = false;
    String UserName; // for addresses that carry none
    String Password;
    String Agent = "KsRuziZidu";
    String Referer;
    bool SeekRobotsTxt = false;
    String StartingUrl;
    Integer HttpPort = 80; // stored only
    Integer Retries = 3;
    // Links taken from one page; those beyond are counted in LinksOverCap.
    Integer MaxPageLinks = 100'000;
    bool StayOnSite = false;
    // A page's redirect is followed only to the start host (where the start
    // page led); one elsewhere ends the page, unfollowed, as a failure of
    // kind Redirect naming its target. The start page's own redirects move
    // the site and are followed anywhere.
    bool RedirectsStayOnSite = false;
    Integer DepthSearchLevel() const { return m_depthSearchLevel; }
    void SetDepthSearchLevel(Integer Value);
    Integer ConcurrentDownloads() const { return m_concurrentDownloads; }
    void SetConcurrentDownloads(Integer Value);
    TOnLinkFound OnLinkFound;
    TOnPageReceived OnPageReceived;
    TOnUpdatedStats OnUpdatedStats;
    TOnLog OnLog;
    TOnWorking OnWorking;
    // The start page came from another scheme or host than asked for (a
    // redirect to https or to the canonical name): the crawl's own host is
    // now the final one.
    TOnStartMoved OnStartMoved;
    TScanOnError OnError;
    // Work on each received page's body beside the link scan, on the
    // scanning thread: it must touch nothing shared. Its result reaches
    // OnPageAnalysed, on the UI thread, before the page's links are filed.
    std::function<std::any(const String& Body)> AnalysePage;
    TOnPageAnalysed OnPageAnalysed;
    // Raised just before OnError with the failure itself and the plain
    // address, for owners that act on what went wrong rather than show it.
    TOnTransferFailed OnTransferFailed;
    // A saved crawl being continued or refreshed. SavedPage gives the kept
    // copy of an address, false when there is none; with ReuseSaved it
    // stands in for the fetch (a resumed crawl), else only for a 304 reply.
    // RequestConditions gives the header lines that make a fetch
    // conditional ("If-None-Match: ..."). Both run on the UI thread.
    std::function<bool(const String& Url, TSavedReply& Reply)> SavedPage;
    bool ReuseSaved = false;
    std::function<String(const String& Url)> RequestConditions;
    // During OnPageReceived: where the page's redirects led, the address
    // itself when nowhere else.
    const String& ReceivedFinalUrl() const { return m_receivedFinal; }
    // What each host allows and when it may be asked: robots.txt is read
    // before a host's first page, hosts are paced and back off after 429 and
    // 503. Null: every queued address goes out as soon as a controller is free.
    std::shared_ptr<THostPolicy> Policy;
    // A queued page the policy keeps out ("robots", "robots-unavailable"),
    // never fetched. Its warnings (a capped Crawl-delay) go to OnLog.
    TOnRefused OnRefused;

    bool Start(const String& Address = String());
    // Asks a running crawl to wind down; on an idle crawler it does nothing.
    void Stop();
    // Files Address as a link of the start page, reported and followed as
    // if the start page held it (a page the site's sitemap lists).
    void AddStartLink(const String& Address);

    bool Working() const { return m_working; }
    // Nothing queued and every controller idle: no result is still to come.
    bool Settled() const;
    bool Aborting() const { return m_aborting; }
    Integer AnchorCount() const { return m_anchorCount; }
    Integer DoneCount() const { return m_doneCount; }
    Integer ErrorCount() const { return m_errorCount; }
    Integer RetryCount() const { return m_retryCount; }
    // Links left out of the crawl's pages by MaxPageLinks.
    Integer LinksOverCap() const { return m_linksOverCap; }
    const TStringSet& KnownUrls() const { return m_knownUrls; }
    // Frees the addresses met, for a crawl that is over: tens of thousands
    // of them are megabytes, and the next crawl starts from none anyway.
    void ForgetAddresses();
    const TStringList& KnownHosts() const { return m_knownHosts; }
    const TUrlInQueue& Queue() const { return m_queue; }
    const std::vector<TKsHttpGet*>& Fetchers() const { return m_fetchers; }
    const TCrackUrl& StartUrlParts() const { return m_startUrlParts; }

    // One scheduler step. The first error a handler (or the results file)
    // raised during the tick is thrown again once the tick is over; the tick
    // itself always completes.
    void TimerTick();

private slots:
    // The scanner has finished pages: they wait to be filed at the next tick.
    void pagesScanned();

private:
    void SetWorking(bool Value);
    // After the start page's redirect: takes its final scheme, host and port
    // as the crawl's own; false when they did not change.
    bool startMoved();
    // Raises OnTransferFailed, then OnError with the layer's number and text.
    // False when a handler destroyed the crawler.
    [[nodiscard]] bool reportFailure(const String& url, const TransferError& error);
    // False when a handler destroyed the crawler.
    [[nodiscard]] bool DispatchNext(TKsHttpGet* Fetcher);
    [[nodiscard]] bool DispatchIdle();
    // The queue entry to fetch next and the policy's word on it; -1 when
    // every entry waits. hostsWaiting: hosts already found waiting.
    Integer pickEntry(std::vector<String>& hostsWaiting, THostPolicy::Verdict& verdict);
    // A queued page the policy keeps out; false when the crawler was destroyed.
    [[nodiscard]] bool refuse(Integer index, THostPolicy::Verdict verdict);
    // Wakes the scheduler when the first paced host may be asked again.
    void armPaceTimer();
    // A 429 or 503: true when the page was queued again to wait for its host.
    bool backOff(TKsHttpGet* Fetcher);
    [[nodiscard]] bool reportWarnings();
    // Hands a received page to the scanning thread.
    void scanPage(TKsHttpGet& Page, const String& Base);
    // Files the links of the pages scanned so far; false when the crawler
    // was destroyed meanwhile.
    [[nodiscard]] bool fileScannedPages();
    void fileLink(const TPageJob& Page, const TFoundLink& Link, Integer CountArea);
    // Files Address as already known: links to it are neither reported nor followed.
    void markKnown(const String& Address);
    bool UpdateStats();
    // False when the crawler was destroyed by something processed meanwhile.
    [[nodiscard]] bool processController(TKsHttpGet* Fetcher);
    [[nodiscard]] bool pumpMessages();
    // Lets the UI have a turn when it had none for a while: a turn per step
    // of a tick would be a poll of the event loop per controller and tick.
    // False when the crawler was destroyed meanwhile.
    [[nodiscard]] bool offerTurn();
    void requestTick();
    void onTimer();
    void writeResultLine(const String& line);
    void closeResults();
    Integer nextQueueIndex() const;

    QTimer m_timer;
    QTimer m_promptTimer; // a finished transfer asks for a tick without waiting 350 ms
    QTimer m_paceTimer;   // the earliest time a paced host may be asked again
    bool m_tickBusy = false;
    bool m_tickRequested = false;
    bool m_aborting = false;
    CFile m_results;
    bool m_resultsFileOpen = false;
    TUrlInQueue m_queue;
    Integer m_depthSearchLevel = 3;
    Integer m_concurrentDownloads = 5;
    Integer m_anchorCount = 0;
    bool m_working = false;
    // Every address seen: a hash set, as a link's filing is the main
    // thread's cost per link on a page of many links and order is not needed.
    TStringSet m_knownUrls;
    // Kept in ascending ordinal order, searched by bisection.
    TStringList m_knownHosts;
    TCrackUrl m_startUrlParts;
    // The final address of a page that a redirect moved.
    TCrackUrl m_baseParts;
    // Pages handed to the scanner and not filed yet, and those scanned.
    Integer m_pagesPending = 0;
    std::deque<std::shared_ptr<TPageJob>> m_scanned;
    // Set by Stop: the scans of this crawl are of no more use.
    std::shared_ptr<std::atomic<bool>> m_scanCancel = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<TPageScanner> m_scanner;
    std::vector<TKsHttpGet*> m_fetchers; // owned as children
    Integer m_doneCount = 0;
    Integer m_errorCount = 0;
    Integer m_retryCount = 0;
    Integer m_linksOverCap = 0;
    // InQueue, ToAnalyze, Downloading, Done, Errors, Retries as last reported.
    std::array<Integer, 6> m_lastStats{};
    std::uint32_t m_lastPump = 0;
    String m_receivedFinal;
};
