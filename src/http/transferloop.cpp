// The layer's one transfer thread with its libcurl multi handle.

#include "transferloop.h"

#include "internetaccess.h"
#include "lasterror.h"
#include "stringhelpers.h"
#include "transfer.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>

namespace inet {

namespace {
constexpr long kIdleConnections = 32;
}

struct TransferLoop::Active
{
    std::shared_ptr<Transfer> transfer;
    // Declared before the easy handle, which uses it, so it goes after it.
    CurlSlist headers;
    CurlEasy easy;
    char errorText[CURL_ERROR_SIZE] = {};
    // Set while the final reply's headers are still to come: a server that
    // drips them a byte at a time never looks idle to libcurl.
    std::optional<std::chrono::steady_clock::time_point> headersDue;
    long hops = 0; // redirects the loop has followed itself
    // When the first request went out: the hops share the transfer's time.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

TransferLoop& TransferLoop::instance()
{
    static TransferLoop loop;
    static const bool registered = [] {
        AtCurlCleanup([] { instance().shutdown(); });
        return true;
    }();
    (void)registered;
    return loop;
}

TransferLoop::~TransferLoop()
{
    shutdown();
}

bool TransferLoop::start(const std::shared_ptr<Transfer>& transfer)
{
    const std::lock_guard lock(m_mutex);
    if (m_stopping)
        return Fail({TransferError::Kind::Cancelled, 0, "The transfers are shutting down"});
    if (!m_running) {
        m_multi.reset(curl_multi_init());
        if (!m_multi)
            return Fail(ERROR_INTERNET_INTERNAL_ERROR, "Out of memory");
        // libcurl's default shrinks with the number of running transfers,
        // which would drop idle connections between a worker's requests.
        curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS, kIdleConnections);
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            m_multi.reset();
            return Fail(ERROR_INTERNET_INTERNAL_ERROR, "The transfer thread cannot start");
        }
        m_running = true;
    }
    // Queued under the same lock as the check, so a shutdown either finds it
    // queued or refuses it above.
    m_queue.push_back({Op::Add, transfer});
    curl_multi_wakeup(m_multi.get());
    return true;
}

void TransferLoop::cancel(const std::shared_ptr<Transfer>& transfer)
{
    post(Op::Cancel, transfer);
}

void TransferLoop::resume(const std::shared_ptr<Transfer>& transfer)
{
    post(Op::Resume, transfer);
}

void TransferLoop::post(Op op, const std::shared_ptr<Transfer>& transfer)
{
    const std::lock_guard lock(m_mutex);
    // The multi lives while the thread runs and is never woken after the
    // stop is asked for.
    if (!m_running || m_stopping)
        return;
    m_queue.push_back({op, transfer});
    curl_multi_wakeup(m_multi.get());
}

void TransferLoop::shutdown()
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        m_stopping = true;
        curl_multi_wakeup(m_multi.get());
    }
    m_thread.join();
    const std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_multi.reset();
    m_running = false;
    m_stopping = false;
}

void TransferLoop::run()
{
    CURLM* multi = m_multi.get();
    for (;;) {
        std::vector<Command> work;
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
            work.swap(m_queue);
        }
        for (const Command& command : work)
            apply(command);
        int running = 0;
        curl_multi_perform(multi, &running);
        collectFinished();
        expireLateHeaders();
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    // Queued additions were never started; running ones end here.
    std::vector<Command> left;
    {
        const std::lock_guard lock(m_mutex);
        left.swap(m_queue);
    }
    for (const Command& command : left) {
        if (command.op == Op::Add) {
            command.transfer->cancel();
            command.transfer->finish(CURLE_ABORTED_BY_CALLBACK, nullptr);
        }
    }
    while (!m_active.empty()) {
        const auto transfer = m_active.begin()->second->transfer;
        remove(transfer.get());
        transfer->cancel();
        transfer->finish(CURLE_ABORTED_BY_CALLBACK, nullptr);
    }
}

void TransferLoop::apply(const Command& command)
{
    switch (command.op) {
    case Op::Add:
        add(command.transfer);
        break;
    case Op::Cancel:
        remove(command.transfer.get());
        break;
    case Op::Resume:
        if (const auto it = m_active.find(command.transfer.get()); it != m_active.end())
            curl_easy_pause(it->second->easy.get(), CURLPAUSE_CONT);
        break;
    }
}

void TransferLoop::add(const std::shared_ptr<Transfer>& transfer)
{
    auto active = std::make_unique<Active>();
    active->transfer = transfer;
    active->easy.reset(curl_easy_init());
    CURL* easy = active->easy.get();
    if (!easy) {
        transfer->finish(CURLE_OUT_OF_MEMORY, nullptr);
        return;
    }
    const TransferOrder& order = transfer->order();
    transfer->attach(easy);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, active.get());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_URL, order.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // libcurl follows without limit unless told; 10 is what platform
    // clients allow. Redirects limited to a host are followed below, each
    // hop checked before any request goes out.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, order.redirectHost.empty() ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // HTTP/2 where TLS offers it: the transfers to one site then share a
    // connection as streams, instead of one handshake each.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     order.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_2TLS);
    // A new secure transfer waits for a connection being set up to the same
    // host, to share it once it turns out to speak HTTP/2. Plain ones never
    // share, and waiting would only delay them.
    if (order.url.rfind("https:", 0) == 0)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, active->errorText);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(order.timeoutMs));
    if (order.readTimeoutMs > 0) {
        // Less than a byte a second over that many seconds: nothing comes.
        const long seconds =
            std::max<long>(1, (static_cast<long>(order.readTimeoutMs) + 999) / 1000);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, seconds);
        active->headersDue =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(order.readTimeoutMs);
    }
    if (!order.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, order.caFile.c_str());
    // Every encoding libcurl can decode; the body is handed out decoded.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    if (!order.agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, order.agent.c_str());
    if (!order.referrer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, order.referrer.c_str());
    if (!order.userName.empty())
        curl_easy_setopt(easy, CURLOPT_USERNAME, order.userName.c_str());
    if (!order.password.empty())
        curl_easy_setopt(easy, CURLOPT_PASSWORD, order.password.c_str());

    curl_slist* list = nullptr;
    for (const std::string& line : order.headers) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    }
    active->headers.reset(list);
    if (list)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (order.verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(order.body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, order.body.c_str());
    } else if (order.verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (order.verb != "GET" && !order.verb.empty()) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, order.verb.c_str());
    }

    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
        transfer->finish(CURLE_FAILED_INIT, "The transfer could not be started");
        return;
    }
    m_active.emplace(transfer.get(), std::move(active));
}

namespace {

// The host of an absolute http or https address, as libcurl reads it;
// empty for any other address.
std::string webHost(const char* address)
{
    CurlUrl url(curl_url());
    char* scheme = nullptr;
    char* host = nullptr;
    std::string found;
    if (url && curl_url_set(url.get(), CURLUPART_URL, address, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string lower = AsciiLower(scheme);
        if (lower == "http" || lower == "https")
            found = AsciiLower(host);
    }
    curl_free(scheme);
    curl_free(host);
    return found;
}

} // namespace

bool TransferLoop::followChecked(Active& active)
{
    const Transfer& transfer = *active.transfer;
    if (!transfer.checkedRedirect())
        return false;
    char* target = nullptr;
    curl_easy_getinfo(active.easy.get(), CURLINFO_REDIRECT_URL, &target);
    if (!target || webHost(target) != AsciiLower(transfer.order().redirectHost))
        return false; // out of bounds: the redirect itself is the reply
    CURL* easy = active.easy.get();
    if (active.hops >= kMaxRedirects) {
        const auto shared = active.transfer;
        shared->finish(CURLE_TOO_MANY_REDIRECTS, "Too many redirects");
        remove(shared.get());
        return true;
    }
    ++active.hops;
    // The same handle asks again: cookies, credentials and the connection
    // stay, as when libcurl follows.
    const std::string next = target;
    curl_multi_remove_handle(m_multi.get(), easy);
    curl_easy_setopt(easy, CURLOPT_URL, next.c_str());
    // What is left of the transfer's time, not the whole of it again; the
    // next reply's headers get their own time.
    const TransferOrder& order = transfer.order();
    const auto now = std::chrono::steady_clock::now();
    if (order.timeoutMs > 0) {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - active.started).count();
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                         std::max<long>(1, static_cast<long>(order.timeoutMs) - spent));
    }
    if (order.readTimeoutMs > 0)
        active.headersDue = now + std::chrono::milliseconds(order.readTimeoutMs);
    if (transfer.order().verb == "POST")
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
        const auto shared = active.transfer;
        shared->finish(CURLE_FAILED_INIT, "The redirect could not be followed");
        m_active.erase(shared.get());
    }
    return true;
}

// libcurl's order: out of the multi, then the easy handle.
void TransferLoop::remove(Transfer* transfer)
{
    const auto it = m_active.find(transfer);
    if (it == m_active.end())
        return;
    curl_multi_remove_handle(m_multi.get(), it->second->easy.get());
    m_active.erase(it);
}

// Checked at every turn of the loop, which wakes at least once a second.
void TransferLoop::expireLateHeaders()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<Transfer>> late;
    for (auto& [transfer, active] : m_active) {
        if (!active->headersDue)
            continue;
        if (transfer->headersComplete())
            active->headersDue.reset();
        else if (now >= *active->headersDue)
            late.push_back(active->transfer);
    }
    for (const auto& transfer : late) {
        const std::string text = "no complete reply headers within " +
                                 std::to_string(transfer->order().readTimeoutMs) + " ms";
        transfer->finish(CURLE_OPERATION_TIMEDOUT, text.c_str());
        remove(transfer.get());
    }
}

void TransferLoop::collectFinished()
{
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &queued)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        void* data = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &data);
        if (!data)
            continue;
        auto* active = static_cast<Active*>(data);
        const CURLcode result = msg->data.result;
        if (result == CURLE_OK && followChecked(*active))
            continue;
        long osErrno = 0;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_OS_ERRNO, &osErrno);
        const auto transfer = active->transfer;
        transfer->finish(result, active->errorText, result == CURLE_OK ? 0 : osErrno);
        remove(transfer.get());
    }
}

} // namespace inet
