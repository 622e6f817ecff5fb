// TWorkerThread: the worker thread base of the transfers, with its completion hand-off.

#pragma once

#include "nqtypes.h"

#include <QThread>

#include <atomic>
#include <functional>

// A worker thread in the manner the transfers need: created without running,
// given its inputs and completion handler, then resumed. After Execute its
// completion handler runs on the UI thread while the worker waits, so the
// owner reads the results without locks; then the worker frees itself.
class TWorkerThread : public QThread
{
public:
    TWorkerThread();
    ~TWorkerThread() override;
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    void Resume() { start(); }

    // The stop request: set from any thread, read by the run between steps.
    // Sequentially consistent: an owner that asks and then closes handles,
    // and a run that stores a handle and then looks, never both miss.
    void Terminate() { m_terminated.store(true); }
    bool Terminated() const { return m_terminated.load(); }

    // Set and cleared on the UI thread only; read there when the run is over.
    // Sender: the worker.
    TEvent<> OnTerminate;

    // Workers not yet freed, for shutdown and for tests that must not leave
    // one behind.
    static int LiveWorkers();
    // For the end of a program: handles events (the workers' last calls and
    // their freeing) until every worker is gone or the time is up.
    static bool WaitForAll(int milliseconds);

protected:
    virtual void Execute() = 0;

    // Runs fn on the UI thread while this worker waits.
    void Synchronize(std::function<void()> fn);

private:
    void run() final;

    std::atomic<bool> m_terminated{false};
};
