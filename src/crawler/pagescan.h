// A received page's link work, done on a thread of its own beside the crawl's scheduling.

#pragma once

#include "nqtypes.h"
#include "urlcomponents.h"

#include <QObject>

#include <any>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
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
    Integer OverCap = 0; // links found beyond the cap, not taken
};

// Prepares, marks and scans Body, resolving every link against BaseUrl (the
// absolute address the page came from): what the crawler files of a page.
// Safe on any thread; a set Cancelled ends the scan early.
// Links beyond MaxLinks are only counted: one page of a million links must
// not cost a million decomposed addresses. Scratch, when given, holds the
// marked text; a thread scanning page after page keeps one.
TScannedPage ScanPageLinks(const String& Body, const String& BaseUrl,
                           const std::atomic<bool>* Cancelled = nullptr,
                           std::size_t MaxLinks = SIZE_MAX, String* Scratch = nullptr);

// A page's whole work on the scanning thread: its links, and whatever else
// the crawler's owner asked to have done with the body there.
struct TPageJob
{
    String Url;  // as fetched
    String Base; // where it came from, after redirects
    String Body;
    Integer Level = 1;
    std::size_t MaxLinks = SIZE_MAX; // links taken from the page; the rest are counted
    TScannedPage Scan;
    std::any Analysis;
    // Which crawl the page belongs to, for its owner to tell.
    std::shared_ptr<const void> Crawl;
};

// Threads that run page jobs, one per core up to two, and hand them back in
// the order given. A finished job waits in the scanner until the receiver
// takes it: the scanner announces it by a queued call of the receiver's
// named slot, which then calls TakeDone. Destroying the scanner waits for
// the jobs under way; the ones still queued are dropped.
class TPageScanner
{
public:
    using TAnalysis = std::function<std::any(const String& Body)>;

    // slot: the name of a slot or invokable method of receiver, without
    // arguments; receiver must outlive the scanner.
    TPageScanner(QObject* receiver, const char* slot);
    ~TPageScanner();
    TPageScanner(const TPageScanner&) = delete;
    TPageScanner& operator=(const TPageScanner&) = delete;

    // Scans the job's page (and runs analysis on its body, when given) on
    // the scanner's thread; a set cancelled skips the work.
    void Post(std::shared_ptr<TPageJob> job, std::shared_ptr<const std::atomic<bool>> cancelled,
              TAnalysis analysis);
    // The jobs finished since the last call, in the order they were posted.
    std::vector<std::shared_ptr<TPageJob>> TakeDone();

private:
    struct Task
    {
        std::shared_ptr<TPageJob> job;
        std::shared_ptr<const std::atomic<bool>> cancelled;
        TAnalysis analysis;
        std::uint64_t number = 0; // in the order posted
    };
    void run();

    QObject* const m_receiver;
    const char* const m_slot;
    std::mutex m_mutex; // guards the six below
    std::condition_variable m_wake;
    std::deque<Task> m_todo;
    // Finished ahead of an earlier job still under way, by number.
    std::map<std::uint64_t, std::shared_ptr<TPageJob>> m_early;
    std::vector<std::shared_ptr<TPageJob>> m_done;
    std::uint64_t m_posted = 0;
    std::uint64_t m_nextDone = 0; // the number of the next job to hand back
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
