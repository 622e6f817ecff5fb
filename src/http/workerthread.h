// TWorkerThread: the worker base of the transfers, with its completion hand-off.

#pragma once

#include "nqtypes.h"

#include <QObject>

#include <atomic>

// A worker in the manner the transfers need: created idle, given its inputs
// and completion handler, then resumed. Its work runs on the layer's one
// transfer thread, not on a thread of its own; its completion handler runs
// on the UI thread, where the owner reads the results without locks; then
// the worker frees itself.
class TWorkerThread : public QObject
{
public:
    TWorkerThread();
    ~TWorkerThread() override;
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Starts the work; on the UI thread.
    void Resume();

    // The stop request: set from any thread, read by the work between steps.
    // Sequentially consistent: an owner that asks and then closes handles,
    // and work that stores a handle and then looks, never both miss.
    void Terminate() { m_terminated.store(true); }
    bool Terminated() const { return m_terminated.load(); }

    // Set and cleared on the UI thread only; read there when the work is
    // over. Sender: the worker.
    TEvent<> OnTerminate;

    // Workers not yet freed, for shutdown and for tests that must not leave
    // one behind.
    static int LiveWorkers();
    // For the end of a program: handles events (the workers' completions and
    // their freeing) until every worker is gone or the time is up.
    static bool WaitForAll(int milliseconds);

protected:
    // Starts the work without waiting for it; the work ends with Complete,
    // from any thread.
    virtual void Execute() = 0;
    // Queues the completion for the UI thread: fn first (it may fill the
    // results), then OnTerminate; then the worker frees itself.
    void Complete(std::function<void()> fn = {});

private:
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_completed{false};
};
