// A received page's link work, done on a thread of its own beside the crawl's scheduling.

#pragma once

#include "nqtypes.h"
#include "urlcomponents.h"

#include <QObject>
#include <QThread>

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// One link of a page, resolved, typed and decomposed.
struct TFoundLink
{
    String Address;
    String Type;
    String Scheme;
    String HostName;
    INTERNET_PORT Port = 0;
    String Directory;
    String UrlPath;
    String ExtraInfo;
    Integer Anchor = 0; // the page's own anchor number, 1 up; 0 outside anchors
    char Kind = ' ';
};

struct TScannedPage
{
    std::vector<TFoundLink> Links; // in the page's order, typed, none "unknown"
    Integer Anchors = 0;
};

// Prepares, marks and scans Body, resolving every link against BaseUrl (the
// absolute address the page came from): what the crawler files of a page.
// Safe on any thread; a set Cancelled ends the scan early.
TScannedPage ScanPageLinks(const String& Body, const String& BaseUrl,
                           const std::atomic<bool>* Cancelled = nullptr);

// A page's whole work on the scanning thread: its links, and whatever else
// the crawler's owner asked to have done with the body there.
struct TPageJob
{
    String Url;  // as fetched
    String Base; // where it came from, after redirects
    String Body;
    Integer Level = 1;
    TScannedPage Scan;
    std::any Analysis;
};

// One thread that runs page jobs in the order given and hands each back, by
// a queued call, to the thread of the receiver. Destroying it waits for the
// job under way; the ones still queued are dropped.
class TPageScanner
{
public:
    using TDone = std::function<void(std::shared_ptr<TPageJob>)>;
    using TAnalysis = std::function<std::any(const String& Body)>;

    TPageScanner();
    ~TPageScanner();
    TPageScanner(const TPageScanner&) = delete;
    TPageScanner& operator=(const TPageScanner&) = delete;

    // Scans the job's page (and runs analysis on its body, when given) on the
    // scanner's thread, then calls done on receiver's thread. receiver must
    // outlive this scanner or the call is dropped with it.
    void Post(std::shared_ptr<TPageJob> job, std::shared_ptr<const std::atomic<bool>> cancelled,
              TAnalysis analysis, QObject* receiver, TDone done);

private:
    QThread m_thread;
    std::unique_ptr<QObject> m_context; // lives on m_thread
};
