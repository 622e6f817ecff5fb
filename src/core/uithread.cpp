#include "uithread.h"

#include "messagebox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

namespace {

class Rendezvous
{
public:
    // Qt's event queue orders the post before the call, but with a lock of
    // its own that ThreadSanitizer cannot see; this one it can, so the
    // worker's writes before the post are seen as ordered before the call.
    void posting() { const std::lock_guard lock(m_mutex); }
    void arrived() { const std::lock_guard lock(m_mutex); }

    void release()
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
        m_cond.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cond.wait(lock, [this] { return m_done; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_done = false;
};

// Owned by the posted call: its end, run or discarded, releases the waiter.
class ReleaseOnDestroy
{
public:
    explicit ReleaseOnDestroy(std::shared_ptr<Rendezvous> r) : m_rendezvous(std::move(r)) {}
    ReleaseOnDestroy(const ReleaseOnDestroy&) = delete;
    ReleaseOnDestroy& operator=(const ReleaseOnDestroy&) = delete;
    ~ReleaseOnDestroy() { m_rendezvous->release(); }

private:
    std::shared_ptr<Rendezvous> m_rendezvous;
};

void runGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        HandleCurrentException();
    }
}

} // namespace

bool IsUiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void RunOnUiThreadAndWait(std::function<void()> fn)
{
    if (IsUiThread()) {
        runGuarded(fn);
        return;
    }
    auto rendezvous = std::make_shared<Rendezvous>();
    auto guard = std::make_shared<ReleaseOnDestroy>(rendezvous);
    rendezvous->posting();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, rendezvous, fn = std::move(fn)] {
            rendezvous->arrived();
            runGuarded(fn);
        },
        Qt::QueuedConnection);
    guard.reset();
    rendezvous->wait();
}
