#include "eventpump.h"

#include "workerthread.h"

#include <QCoreApplication>
#include <QEvent>

namespace nqtest {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // deleteLater is carried out only for this event type.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool WaitForWorkers(std::chrono::milliseconds timeout)
{
    return PumpUntil([] { return TWorkerThread::LiveWorkers() == 0; }, timeout);
}

} // namespace nqtest
