// CrawlWriter: keeps a crawl in its file from a thread of its own.

#include "crawlwriter.h"

#include <chrono>
#include <future>
#include <iterator>

namespace {

// A commit per this many writes keeps transactions short without a sync
// per page.
constexpr int kBatch = 256;
constexpr std::chrono::milliseconds kCommitDelay{250};
// The writer is woken for this many writes at once, not for each: every
// wake costs the posting thread a system call and both a task switch.
constexpr std::size_t kWakeAt = 32;

} // namespace

CrawlWriter::CrawlWriter(std::unique_ptr<CrawlFile> file, QObject* owner)
    : QObject(owner), m_file(std::move(file))
{
    qRegisterMetaType<StoreError>();
    m_thread = std::thread([this] { run(); });
}

CrawlWriter::~CrawlWriter()
{
    Finish();
}

void CrawlWriter::post(Work work, bool urgent)
{
    if (m_closing)
        return;
    std::vector<Work> spent;
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(work));
        m_urgent = m_urgent || urgent;
        wake = urgent || m_queue.size() >= kWakeAt || (m_idle && m_queue.size() == 1);
        spent.swap(m_spent);
    }
    if (wake)
        m_wake.notify_one();
    // Freed here, on the thread that made them, rather than on the writer's,
    // where each free would contend for this thread's heap.
    spent.clear();
}

void CrawlWriter::run()
{
    const auto commit = [this] {
        if (m_writeFailed || m_pending == 0)
            return;
        m_pending = 0;
        if (!m_file->Commit())
            fail();
    };
    const auto ready = [this] { return m_queue.size() >= kWakeAt || m_urgent || m_stopping; };
    auto batchDue = std::chrono::steady_clock::now();
    std::deque<Work> taken;
    std::vector<Work> done;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_pending == 0) {
            if (m_queue.empty()) {
                m_idle = true;
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
                m_idle = false;
                if (m_queue.empty())
                    break; // stopping, and everything before the stop is written
            }
            // The first write of a batch came: it is committed by then.
            batchDue = std::chrono::steady_clock::now() + kCommitDelay;
        }
        const bool due = !m_wake.wait_until(lock, batchDue, ready);
        const bool stopping = m_stopping;
        taken.swap(m_queue);
        m_urgent = false;
        lock.unlock();
        for (Work& work : taken) {
            if (!m_writeFailed) {
                if (m_pending == 0 && !m_file->Begin())
                    fail();
                if (!m_writeFailed && !work(*m_file))
                    fail();
                else if (!m_writeFailed && ++m_pending >= kBatch)
                    commit();
            }
            done.push_back(std::move(work));
        }
        taken.clear();
        if (due || stopping)
            commit();
        lock.lock();
        // Handed back at once: a backlog after a slow sync is freed while
        // the next one gathers.
        std::move(done.begin(), done.end(), std::back_inserter(m_spent));
        done.clear();
        if (stopping && m_queue.empty())
            break;
    }
    lock.unlock();
    commit();
    m_file.reset(); // closed on the thread that used it
}

void CrawlWriter::fail()
{
    m_writeFailed = true;
    {
        const std::lock_guard lock(m_mutex);
        m_error = m_file->Error();
    }
    // A named slot, queued: the error itself stays behind the mutex.
    QMetaObject::invokeMethod(this, "reportFailure", Qt::QueuedConnection);
}

void CrawlWriter::reportFailure()
{
    StoreError error;
    {
        const std::lock_guard lock(m_mutex);
        error = m_error;
    }
    emit Failed(error);
}

void CrawlWriter::PutSettings(const CrawlSettings& settings)
{
    post([settings](CrawlFile& file) { return file.PutSettings(settings); });
}

void CrawlWriter::AddFound(std::vector<FoundLink> found)
{
    post([found = std::move(found)](CrawlFile& file) { return file.AddFound(found); });
}

void CrawlWriter::PutPage(PageRecord page)
{
    // std::function needs a copyable callable; the page is shared, not copied.
    auto shared = std::make_shared<PageRecord>(std::move(page));
    post([shared](CrawlFile& file) { return file.PutPage(*shared); });
}

void CrawlWriter::SetValue(const String& name, const String& value)
{
    post([name, value](CrawlFile& file) { return file.SetValue(name, value); });
}

void CrawlWriter::ClearFound()
{
    post([](CrawlFile& file) { return file.ClearFound(); });
}

void CrawlWriter::MarkGone(const String& address)
{
    post([address](CrawlFile& file) { return file.MarkGone(address); });
}

std::optional<PageRecord> CrawlWriter::Page(const String& address)
{
    // A work item dropped unrun (after a failure or the finish) breaks the
    // promise, which ends the wait.
    auto answer = std::make_shared<std::promise<std::optional<PageRecord>>>();
    std::future<std::optional<PageRecord>> page = answer->get_future();
    // The work holds the only reference: dropping it breaks the promise.
    post(
        [answer = std::move(answer), address](CrawlFile& file) {
            std::optional<PageRecord> found = file.Page(address);
            answer->set_value(std::move(found));
            return !file.Error();
        },
        true);
    try {
        return page.get();
    } catch (const std::future_error&) {
        return std::nullopt;
    }
}

void CrawlWriter::Close()
{
    if (m_closing)
        return;
    m_closing = true;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
}

StoreError CrawlWriter::Finish()
{
    if (m_finished)
        return m_result;
    m_finished = true;
    Close();
    if (m_thread.joinable())
        m_thread.join();
    const std::lock_guard lock(m_mutex);
    m_result = m_writeFailed ? m_error : StoreError{};
    return m_result;
}
