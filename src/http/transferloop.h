// The layer's one transfer thread with its libcurl multi handle.

#pragma once

#include "curlhandles.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace inet {

class Transfer;
struct SiteAccess;

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
    // One request of a transfer: the first, or one more after a redirect.
    struct Hop
    {
        std::string url;
        std::string verb;
        long redirects = 0;
        std::chrono::steady_clock::time_point deadline; // of the whole transfer
        bool access = false;                            // the site's access goes with this request
    };

    TransferLoop() = default;
    void post(Op op, const std::shared_ptr<Transfer>& transfer);
    // Ends the thread's wait for sockets.
    void wake();
    void run();
    void apply(const Command& command);
    void add(const std::shared_ptr<Transfer>& transfer);
    void addHop(const std::shared_ptr<Transfer>& transfer, std::shared_ptr<const SiteAccess> access,
                Hop hop);
    // After a redirect: the next request, or the failure when there were too many.
    void follow(const std::shared_ptr<Transfer>& transfer, CURL* easy);
    // The cookie store holds the user's cookies for the access's host, and
    // forgets the sites' cookies of an earlier run.
    void syncCookies(const std::shared_ptr<const SiteAccess>& access);
    // The netrc file the access's transfers read, looked for once per access;
    // empty when it has none or there is no such file.
    const std::string& netrcOf(const std::shared_ptr<const SiteAccess>& access);
    void remove(Transfer* transfer);
    void collectFinished();
    // Fails, as timed out, each transfer whose headers are overdue.
    void expireLateHeaders();

    std::mutex m_mutex;
    std::vector<Command> m_queue;
    bool m_running = false;
    bool m_stopping = false;
    // The thread found nothing queued and waits for its sockets: the next
    // command wakes it. Unset, the thread looks at the queue before it waits.
    bool m_idle = false;
    // Held to wake the multi, and with m_mutex to make or free it.
    std::mutex m_wakeMutex;
    CurlMulti m_multi;
    // The cookies of every transfer, the sites' and the user's.
    CurlShare m_share;
    std::thread m_thread;

    // Touched only by the transfer thread.
    std::unordered_map<Transfer*, std::unique_ptr<Active>> m_active;
    // Handles of finished transfers, reset, for the next ones.
    std::vector<CurlEasy> m_spareEasy;
    std::shared_ptr<const SiteAccess> m_cookiesOf; // whose cookies the store holds
    std::shared_ptr<const SiteAccess> m_netrcOf;   // whose netrc file m_netrcFile is
    std::string m_netrcFile;
};

} // namespace inet
