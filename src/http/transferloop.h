// The layer's one transfer thread with its libcurl multi handle.

#pragma once

#include "curlhandles.h"

#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace inet {

class Transfer;

// The one thread that runs every transfer of the process on one multi
// handle, so that connections are kept alive and reused across the callers'
// threads (libcurl does not support sharing a connection cache between
// threads). Only this thread touches the multi and the easy handles; other
// threads queue work and wake it.
class TransferLoop
{
public:
    // Starts the thread on first use; it stops before libcurl's global
    // cleanup, or at exit.
    static TransferLoop& instance();

    ~TransferLoop();
    TransferLoop(const TransferLoop&) = delete;
    TransferLoop& operator=(const TransferLoop&) = delete;

    // False when the transfer cannot be started; the failure is recorded.
    bool start(const std::shared_ptr<Transfer>& transfer);
    void cancel(const std::shared_ptr<Transfer>& transfer);
    void resume(const std::shared_ptr<Transfer>& transfer);

    // Fails every running transfer and joins the thread. A later start
    // begins anew.
    void shutdown();

private:
    enum class Op
    {
        Add,
        Cancel,
        Resume,
    };
    struct Command
    {
        Op op;
        std::shared_ptr<Transfer> transfer;
    };
    struct Active;

    TransferLoop() = default;
    void post(Op op, const std::shared_ptr<Transfer>& transfer);
    void run();
    void apply(const Command& command);
    void add(const std::shared_ptr<Transfer>& transfer);
    void remove(Transfer* transfer);
    void collectFinished();
    // Fails, as timed out, each transfer whose headers are overdue.
    void expireLateHeaders();
    // A finished redirect that its order limits to one host: true when it
    // was sent on to its next hop there, or ended; false when the redirect
    // leads elsewhere and is the reply.
    bool followChecked(Active& active);

    std::mutex m_mutex;
    std::vector<Command> m_queue;
    bool m_running = false;
    bool m_stopping = false;
    CurlMulti m_multi;
    std::thread m_thread;

    // Touched only by the transfer thread.
    std::unordered_map<Transfer*, std::unique_ptr<Active>> m_active;
};

} // namespace inet
