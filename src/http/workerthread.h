#pragma once

#include "nqtypes.h"
#include "wininet.h"

#include <QThread>

#include <atomic>
#include <initializer_list>

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
    void Terminate() { m_terminated.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return m_terminated.load(std::memory_order_relaxed); }

    // Set and cleared on the UI thread only; read there when the run is over.
    // Sender: the worker.
    TEvent<> OnTerminate;

    // Workers not yet freed, for shutdown and for tests that must not leave
    // one behind.
    static int LiveWorkers();

protected:
    virtual void Execute() = 0;

    // Runs fn on the UI thread while this worker waits.
    void Synchronize(std::function<void()> fn);

    // Takes each handle out of its field and closes it in one step, so the
    // run's own exit and an abort from the UI thread never close one twice.
    static void CloseEach(std::initializer_list<std::atomic<HINTERNET>*> handles);

private:
    void run() final;

    std::atomic<bool> m_terminated{false};
};
