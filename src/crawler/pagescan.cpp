// A received page's link work, done on a thread of its own beside the crawl's scheduling.

#include "pagescan.h"

#include "crackurl.h"
#include "linkscan.h"

namespace {
// The largest marked text the scanning thread keeps for the next page.
constexpr std::size_t kKeptTextBytes = std::size_t{256} << 10;
} // namespace

TScannedPage ScanPageLinks(const String& Body, const String& BaseUrl,
                           const std::atomic<bool>* Cancelled, std::size_t MaxLinks,
                           String* Scratch)
{
    TScannedPage page;
    TCrackUrl baseParts;
    if (!baseParts.Crack(BaseUrl))
        return page;
    const TLinkBase base(baseParts);
    String ownScratch;
    const std::string_view text = PrepareAndMark(Body, Scratch ? *Scratch : ownScratch);
    TCrackUrl parts; // reused for every link
    const String scheme = baseParts.Scheme.Text();
    const String host = baseParts.HostName.Text();
    String path;
    String extra;
    ScanHooks hooks;
    if (Cancelled)
        hooks.aborted = [Cancelled] { return Cancelled->load(std::memory_order_relaxed); };
    hooks.found = [&](const String& value, Integer anchor, char kind) {
        String address = base.Resolve(value);
        if (address.empty())
            return;
        String type = LinkType(address);
        if (type == "unknown")
            return; // nothing trustworthy to report or follow
        if (page.Links.size() >= MaxLinks) {
            ++page.OverCap;
            return;
        }
        // Most links of a page stay on its host: those need no parser.
        if (base.SplitOwn(address, path, extra)) {
            String directory = TCrackUrl::DirectoryOf(path);
            page.Links.push_back({std::move(address), std::move(type), scheme, host, baseParts.Port,
                                  std::move(directory), path, extra, anchor, kind});
            return;
        }
        if (!parts.Crack(address))
            return;
        page.Links.push_back({std::move(address), std::move(type), parts.Scheme.Text(),
                              parts.HostName.Text(), parts.Port, parts.Directory(),
                              parts.UrlPath.Text(), parts.ExtraInfo.Text(), anchor, kind});
    };
    ScanLinks(text, page.Anchors, hooks);
    return page;
}

TPageScanner::TPageScanner(QObject* receiver, const char* slot) : m_receiver(receiver), m_slot(slot)
{
    // A page's work is most of a crawl's; the scheduling and the transfers
    // take little beside it.
    const unsigned threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

TPageScanner::~TPageScanner()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_todo.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void TPageScanner::Post(std::shared_ptr<TPageJob> job,
                        std::shared_ptr<const std::atomic<bool>> cancelled, TAnalysis analysis)
{
    {
        const std::lock_guard lock(m_mutex);
        m_todo.push_back({std::move(job), std::move(cancelled), std::move(analysis), m_posted++});
    }
    m_wake.notify_one();
}

std::vector<std::shared_ptr<TPageJob>> TPageScanner::TakeDone()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_done, {});
}

void TPageScanner::run()
{
    String marked; // the marked text of one page after another
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_todo.empty(); });
            if (m_stopping)
                return;
            task = std::move(m_todo.front());
            m_todo.pop_front();
        }
        TPageJob& job = *task.job;
        if (!task.cancelled->load(std::memory_order_relaxed)) {
            job.Scan =
                ScanPageLinks(job.Body, job.Base, task.cancelled.get(), job.MaxLinks, &marked);
            if (task.analysis && !task.cancelled->load(std::memory_order_relaxed))
                job.Analysis = task.analysis(job.Body);
        }
        job.Body = String(); // the scan's copy is not needed any more
        // A rare huge page's text is not kept for the rest of the crawl.
        if (marked.size() > kKeptTextBytes)
            String().swap(marked);
        bool first = false;
        {
            const std::lock_guard lock(m_mutex);
            const bool noneWaiting = m_done.empty();
            m_early.emplace(task.number, std::move(task.job));
            // Handed back in order: this job, and those finished early behind it.
            for (auto next = m_early.begin(); next != m_early.end() && next->first == m_nextDone;
                 ++m_nextDone) {
                m_done.push_back(std::move(next->second));
                next = m_early.erase(next);
            }
            first = noneWaiting && !m_done.empty();
        }
        // One announcement for all the jobs the receiver has not taken yet.
        if (first)
            QMetaObject::invokeMethod(m_receiver, m_slot, Qt::QueuedConnection);
    }
}
