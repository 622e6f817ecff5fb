// CrawlWriter: keeps a crawl in its file from a thread of its own.

#include "crawlwriter.h"

#include <QPointer>
#include <QTimer>

namespace {

// A commit per this many writes keeps transactions short without a sync
// per page.
constexpr int kBatch = 256;
constexpr int kCommitDelayMs = 250;

} // namespace

// Lives on the writer's thread; owns the file from there.
class CrawlWriterWorker : public QObject
{
public:
    CrawlWriterWorker(std::unique_ptr<CrawlFile> file, CrawlWriter* owner)
        : m_file(std::move(file)), m_owner(owner)
    {
        m_commitTimer.setSingleShot(true);
        m_commitTimer.setInterval(kCommitDelayMs);
        QObject::connect(&m_commitTimer, &QTimer::timeout, this, [this] { Commit(); });
    }

    template <typename F> void Write(F&& work)
    {
        if (m_failed)
            return;
        if (m_pending == 0) {
            if (!m_file->Begin())
                return report();
            m_commitTimer.start();
        }
        if (!work(*m_file))
            return report();
        if (++m_pending >= kBatch)
            Commit();
    }

    void Commit()
    {
        m_commitTimer.stop();
        if (m_failed || m_pending == 0)
            return;
        m_pending = 0;
        if (!m_file->Commit())
            report();
    }

    // Runs on the writer's thread once its loop has ended.
    void Close() { m_file.reset(); }

    StoreError Result() const { return m_failed ? m_error : StoreError{}; }

private:
    void report()
    {
        m_failed = true;
        m_error = m_file->Error();
        const StoreError error = m_error;
        QMetaObject::invokeMethod(
            m_owner.data(),
            [owner = m_owner, error] {
                if (owner)
                    emit owner->Failed(error);
            },
            Qt::QueuedConnection);
    }

    std::unique_ptr<CrawlFile> m_file;
    QPointer<CrawlWriter> m_owner;
    QTimer m_commitTimer{this}; // a child, so that it moves with the worker
    int m_pending = 0;
    bool m_failed = false;
    StoreError m_error;
};

CrawlWriter::CrawlWriter(std::unique_ptr<CrawlFile> file, QObject* owner)
    : QObject(owner), m_worker(std::make_unique<CrawlWriterWorker>(std::move(file), this))
{
    qRegisterMetaType<StoreError>();
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("crawl writer"));
    m_thread.start();
}

CrawlWriter::~CrawlWriter()
{
    Finish();
}

template <typename F> void CrawlWriter::post(F&& work)
{
    if (m_finished)
        return;
    QMetaObject::invokeMethod(
        m_worker.get(),
        [worker = m_worker.get(), work = std::forward<F>(work)]() mutable { worker->Write(work); },
        Qt::QueuedConnection);
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
    post([page = std::move(page)](CrawlFile& file) { return file.PutPage(page); });
}

void CrawlWriter::SetValue(const String& name, const String& value)
{
    post([name, value](CrawlFile& file) { return file.SetValue(name, value); });
}

StoreError CrawlWriter::Finish()
{
    if (m_finished)
        return m_result;
    m_finished = true;
    // Queued after every write: the last commit, then the file closed on
    // the thread that used it, then the loop's end.
    QMetaObject::invokeMethod(
        m_worker.get(),
        [worker = m_worker.get(), thread = &m_thread] {
            worker->Commit();
            worker->Close();
            thread->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
    m_result = m_worker->Result();
    return m_result;
}
