// CrawlWriter: keeps a crawl in its file from a thread of its own.

#pragma once

#include "crawlfile.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Writes a crawl file on a worker thread, so that compressing bodies and
// syncing the file never hold up the thread that schedules transfers. Calls
// return at once; writes are committed in batches, at the latest a quarter
// second after they came. The first failed write ends the writing and is
// reported once by Failed; the file keeps what was committed before.
class CrawlWriter : public QObject
{
    Q_OBJECT

public:
    explicit CrawlWriter(std::unique_ptr<CrawlFile> file, QObject* owner = nullptr);
    // Commits what is pending and waits for the thread.
    ~CrawlWriter() override;

    void PutSettings(const CrawlSettings& settings);
    void AddFound(std::vector<FoundLink> found);
    void PutPage(PageRecord page);
    void SetValue(const String& name, const String& value);
    void ClearFound();
    void MarkGone(const String& address);
    // Reads a stored page with its body, after every write posted before;
    // waits for the writer's thread. Nothing once writing has failed or
    // the writer is closed.
    std::optional<PageRecord> Page(const String& address);
    // Nothing is written after it: the writer commits what is pending and
    // closes the file on its own thread while the caller goes on.
    void Close();
    // Closes and waits for the thread; the first error, if any.
    StoreError Finish();

signals:
    void Failed(const StoreError& error);

private slots:
    void reportFailure();

private:
    using Work = std::function<bool(CrawlFile&)>;

    // urgent: wake the writer now, for a caller that waits on it.
    void post(Work work, bool urgent = false);
    void run();
    void fail();

    // Touched only by the writer's thread until it is joined.
    std::unique_ptr<CrawlFile> m_file;
    int m_pending = 0;
    bool m_writeFailed = false;

    // A plain locked queue rather than Qt's event queue, so that thread
    // checkers see every hand-over.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Work> m_queue;
    std::vector<Work> m_spent; // written, to be freed by the posting thread
    bool m_stopping = false;
    bool m_urgent = false;
    bool m_idle = false; // the writer waits with nothing to commit
    StoreError m_error;  // the first failure, under m_mutex

    bool m_closing = false; // Close was called
    bool m_finished = false;
    StoreError m_result;
    std::thread m_thread;
};
