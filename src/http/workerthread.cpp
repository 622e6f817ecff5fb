// TWorkerThread: the worker thread base of the transfers, with its completion hand-off.

#include "workerthread.h"

#include "uithread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {
std::atomic<int> g_liveWorkers{0};
}

TWorkerThread::TWorkerThread()
{
    ++g_liveWorkers;
    PrepareUiThreadCalls();
    // Freed on the UI thread once the thread has really ended.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TWorkerThread::~TWorkerThread()
{
    // Freed after finished(): the thread is at its very end. Joining it
    // orders all it wrote before this destruction, visibly to sanitizers.
    wait();
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

void TWorkerThread::Synchronize(std::function<void()> fn)
{
    RunOnUiThreadAndWait(std::move(fn));
}

void TWorkerThread::run()
{
    try {
        Execute();
    } catch (...) {
        // Execute reports its own failures; nothing may escape the thread.
    }
    Synchronize([this] { Fire(OnTerminate, this); });
}
