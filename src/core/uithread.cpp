// Hand-off of work from a worker thread to the UI thread.

#include "uithread.h"

#include "messagebox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace {

// One call waiting for the UI thread; its end, run or not, releases the
// waiting worker.
class Call
{
public:
    explicit Call(std::function<void()> fn) : m_fn(std::move(fn)) {}

    void run();
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
    std::function<void()> m_fn;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_done = false;
};

// Owned by the posted call: its end, run or discarded, releases the waiter.
class ReleaseOnDestroy
{
public:
    explicit ReleaseOnDestroy(std::shared_ptr<Call> call) : m_call(std::move(call)) {}
    ReleaseOnDestroy(const ReleaseOnDestroy&) = delete;
    ReleaseOnDestroy& operator=(const ReleaseOnDestroy&) = delete;
    ~ReleaseOnDestroy() { m_call->release(); }

private:
    std::shared_ptr<Call> m_call;
};

void runGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        HandleCurrentException();
    }
}

void Call::run()
{
    runGuarded(m_fn);
    release();
}

// Calls from workers travel in a queue behind a standard mutex, and the UI
// thread is woken by a call that Qt makes by name and carries no data of
// ours: Qt's event queue orders its events with locks that ThreadSanitizer
// cannot see, so nothing of ours may depend on that order.
class UiDispatcher final : public QObject
{
    Q_OBJECT

public:
    explicit UiDispatcher(QObject* parent) : QObject(parent) {}
    ~UiDispatcher() override;

    Q_INVOKABLE void drain();
};

std::mutex g_mutex;
// Taken with g_mutex to set or clear the dispatcher; alone, to wake it.
std::mutex g_wakeMutex;
UiDispatcher* g_dispatcher = nullptr;      // guarded by g_mutex and g_wakeMutex
std::deque<std::shared_ptr<Call>> g_calls; // guarded by g_mutex

UiDispatcher::~UiDispatcher()
{
    std::deque<std::shared_ptr<Call>> unrun;
    {
        const std::scoped_lock lock(g_mutex, g_wakeMutex);
        g_dispatcher = nullptr;
        unrun.swap(g_calls);
    }
    // The application is going away: the waiting workers go on unserved.
    for (const auto& call : unrun)
        call->release();
}

// Queues a drain, outside the queue's lock, which the UI thread wants as
// soon as it wakes.
void wakeDispatcher()
{
    const std::lock_guard lock(g_wakeMutex);
    if (g_dispatcher)
        QMetaObject::invokeMethod(g_dispatcher, "drain", Qt::QueuedConnection);
}

void UiDispatcher::drain()
{
    for (;;) {
        std::shared_ptr<Call> call;
        {
            const std::lock_guard lock(g_mutex);
            if (g_calls.empty())
                return;
            call = std::move(g_calls.front());
            g_calls.pop_front();
        }
        call->run();
    }
}

// Queues fn for the dispatcher; false when there is none.
bool post(const std::shared_ptr<Call>& call)
{
    {
        const std::lock_guard lock(g_mutex);
        if (!g_dispatcher)
            return false;
        g_calls.push_back(call);
    }
    // A drain per call, though one may take several: a call that waits in a
    // loop of its own for a later one needs a drain queued for that one.
    wakeDispatcher();
    return true;
}

} // namespace

void PrepareUiThreadCalls()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !IsUiThread())
        return;
    const std::scoped_lock lock(g_mutex, g_wakeMutex);
    if (!g_dispatcher)
        g_dispatcher = new UiDispatcher(app); // destroyed with the application
}

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
    auto call = std::make_shared<Call>(std::move(fn));
    if (!post(call)) {
        // No dispatcher was prepared: Qt's queue carries the call itself.
        auto guard = std::make_shared<ReleaseOnDestroy>(call);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [guard, call] { call->run(); }, Qt::QueuedConnection);
        guard.reset();
    }
    call->wait();
}

void PostToUiThread(std::function<void()> fn)
{
    // After the application has gone there is no UI thread to run it on.
    if (!QCoreApplication::instance())
        return;
    auto call = std::make_shared<Call>(std::move(fn));
    if (!post(call))
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [call] { call->run(); }, Qt::QueuedConnection);
}

#include "uithread.moc"
