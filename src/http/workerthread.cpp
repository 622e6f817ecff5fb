// TWorkerThread: the worker base of the transfers, with its completion hand-off.

#include "workerthread.h"

#include "uithread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <memory>

namespace {
std::atomic<int> g_liveWorkers{0};
}

TWorkerThread::TWorkerThread()
{
    ++g_liveWorkers;
    PrepareUiThreadCalls();
}

TWorkerThread::~TWorkerThread()
{
    --g_liveWorkers;
}

int TWorkerThread::LiveWorkers()
{
    return g_liveWorkers.load();
}

bool TWorkerThread::WaitForAll(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (LiveWorkers() == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
}

void TWorkerThread::Resume()
{
    try {
        Execute();
    } catch (...) {
        // Execute reports its own failures; the worker must still end.
        Complete();
    }
}

void TWorkerThread::Complete(std::function<void()> fn)
{
    // Once: a failure raised while the work was being handed on must not
    // end the worker twice.
    if (m_completed.exchange(true))
        return;
    PostToUiThread([this, fn = std::move(fn)] {
        // Freed however the handlers end, and at once: nothing refers to it
        // after them, and a deferred delete would cost the UI thread another
        // turn of its loop, two when posted from a nested one.
        const std::unique_ptr<TWorkerThread> owned(this);
        if (fn)
            fn();
        Fire(OnTerminate, this);
    });
}
