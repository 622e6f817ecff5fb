// The layer's one transfer thread with its libcurl multi handle.

#include "transferloop.h"

#include "internetaccess.h"
#include "lasterror.h"
#include "siteaccess.h"
#include "stringhelpers.h"
#include "transfer.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace inet {

namespace {

constexpr long kIdleConnections = 32;
// Easy handles kept for the next transfers.
constexpr std::size_t kSpareHandles = 16;

using Clock = std::chrono::steady_clock;

bool sameOrigin(std::string_view a, std::string_view b)
{
    std::string hostA;
    std::string hostB;
    long portA = 0;
    long portB = 0;
    return OriginOf(a, &hostA, &portA) && OriginOf(b, &hostB, &portB) && hostA == hostB &&
           portA == portB;
}

// An order limited to one host follows a redirect only there; one that
// leads elsewhere is the reply, and that host sees no request.
bool mayFollow(const TransferOrder& order, const char* target)
{
    if (order.redirectHost.empty())
        return true;
    std::string host;
    long port = 0;
    const std::string_view address(target);
    const bool web = StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://");
    return web && OriginOf(address, &host, &port) && host == AsciiLower(order.redirectHost);
}

std::string_view headerName(std::string_view line)
{
    return TrimSpace(line.substr(0, line.find(':')));
}

} // namespace

struct TransferLoop::Active
{
    std::shared_ptr<Transfer> transfer;
    std::shared_ptr<const SiteAccess> access; // the one the transfer started with
    Hop hop;
    // Declared before the easy handle, which uses it, so it goes after it.
    CurlSlist headers;
    CurlEasy easy;
    char errorText[CURL_ERROR_SIZE] = {};
    // Set while the final reply's headers are still to come: a server that
    // drips them a byte at a time never looks idle to libcurl.
    std::optional<std::chrono::steady_clock::time_point> headersDue;
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
    std::unique_lock lock(m_mutex);
    if (m_stopping)
        return Fail({TransferError::Kind::Cancelled, 0, "The transfers are shutting down"});
    if (!m_running) {
        const std::lock_guard wakeLock(m_wakeMutex);
        m_multi.reset(curl_multi_init());
        if (!m_multi)
            return Fail(ERROR_INTERNET_INTERNAL_ERROR, "Out of memory");
        // libcurl's default shrinks with the number of running transfers,
        // which would drop idle connections between a worker's requests.
        curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS, kIdleConnections);
        // Only the transfer thread uses it, so it needs no locks.
        m_share.reset(curl_share_init());
        if (!m_share) {
            m_multi.reset();
            return Fail(ERROR_INTERNET_INTERNAL_ERROR, "Out of memory");
        }
        curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
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
    const bool asleep = std::exchange(m_idle, false);
    lock.unlock();
    if (asleep)
        wake();
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
    {
        const std::lock_guard lock(m_mutex);
        if (!m_running || m_stopping)
            return;
        m_queue.push_back({op, transfer});
        if (!std::exchange(m_idle, false))
            return;
    }
    wake();
}

// Outside the queue's lock, which the woken thread wants at once. The multi
// is made and freed under both locks.
void TransferLoop::wake()
{
    const std::lock_guard lock(m_wakeMutex);
    if (m_multi)
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
    const std::scoped_lock lock(m_mutex, m_wakeMutex);
    m_queue.clear();
    m_idle = false;
    m_multi.reset();
    m_cookiesOf.reset();
    m_netrcOf.reset();
    m_netrcFile.clear();
    // They use the share, which cannot go while they are there.
    m_spareEasy.clear();
    m_share.reset();
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
            m_idle = false;
        }
        for (const Command& command : work)
            apply(command);
        int running = 0;
        curl_multi_perform(multi, &running);
        collectFinished();
        expireLateHeaders();
        {
            // Work queued while the thread was busy is taken without a wake;
            // from here on a caller wakes it.
            const std::lock_guard lock(m_mutex);
            if (m_stopping || !m_queue.empty())
                continue;
            m_idle = true;
        }
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
    const TransferOrder& order = transfer->order();
    auto access = CurrentSiteAccess();
    Hop hop;
    hop.url = order.url;
    hop.verb = order.verb;
    hop.deadline = Clock::now() + std::chrono::milliseconds(order.timeoutMs);
    hop.access = access && access->covers(order.url);
    addHop(transfer, std::move(access), std::move(hop));
}

void TransferLoop::syncCookies(const std::shared_ptr<const SiteAccess>& access)
{
    if (!access || access == m_cookiesOf)
        return;
    const CurlEasy helper(curl_easy_init());
    if (!helper)
        return;
    curl_easy_setopt(helper.get(), CURLOPT_SHARE, m_share.get());
    if (!m_cookiesOf || m_cookiesOf->run != access->run)
        curl_easy_setopt(helper.get(), CURLOPT_COOKIELIST, "ALL");
    // Only the cookies of the site's host: the user's others stay at home.
    for (const std::string& line : access->cookies) {
        if (CookieServesHost(line, access->host))
            curl_easy_setopt(helper.get(), CURLOPT_COOKIELIST, line.c_str());
    }
    m_cookiesOf = access;
}

// libcurl would look for the file at every transfer: an open that fails on
// every page of a crawl when the user has none.
const std::string& TransferLoop::netrcOf(const std::shared_ptr<const SiteAccess>& access)
{
    if (access == m_netrcOf)
        return m_netrcFile;
    m_netrcOf = access;
    m_netrcFile.clear();
    if (!access || !access->netrc)
        return m_netrcFile;
    std::string file = access->netrcFile;
    if (file.empty()) {
        // Where libcurl looks: $HOME, else the user's home in the password database.
        if (const char* home = std::getenv("HOME"); home && *home) {
            file = home;
        } else {
            passwd entry{};
            passwd* found = nullptr;
            std::array<char, 4096> buffer{};
            if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
                found->pw_dir)
                file = found->pw_dir;
        }
        if (file.empty())
            return m_netrcFile;
        file += "/.netrc";
    }
    // One that cannot be read gives libcurl no credentials either.
    if (::access(file.c_str(), R_OK) == 0)
        m_netrcFile = std::move(file);
    return m_netrcFile;
}

void TransferLoop::addHop(const std::shared_ptr<Transfer>& transfer,
                          std::shared_ptr<const SiteAccess> access, Hop hop)
{
    syncCookies(access);
    auto active = std::make_unique<Active>();
    active->transfer = transfer;
    active->access = std::move(access);
    active->hop = std::move(hop);
    if (m_spareEasy.empty()) {
        active->easy.reset(curl_easy_init());
    } else {
        active->easy = std::move(m_spareEasy.back());
        m_spareEasy.pop_back();
    }
    CURL* easy = active->easy.get();
    if (!easy) {
        transfer->finish(CURLE_OUT_OF_MEMORY, nullptr);
        return;
    }
    const TransferOrder& order = transfer->order();
    const Hop& step = active->hop;
    transfer->attach(easy);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, active.get());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_URL, step.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, request by request, so that what only
    // the site may see stays off the hosts a redirect leads to (libcurl
    // would carry every extra header along).
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // HTTP/2 where TLS offers it: the transfers to one site then share a
    // connection as streams, instead of one handshake each.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     order.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_2TLS);
    // A new secure transfer waits for a connection being set up to the same
    // host, to share it once it turns out to speak HTTP/2. Plain ones never
    // share, and waiting would only delay them.
    if (step.url.rfind("https:", 0) == 0)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, active->errorText);
    if (order.timeoutMs > 0) {
        // The limit is the whole transfer's, redirects included.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(step.deadline - Clock::now());
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                         std::max<long>(1, static_cast<long>(left.count())));
    }
    if (order.readTimeoutMs > 0) {
        // Less than a byte a second over that many seconds: nothing comes.
        const long seconds =
            std::max<long>(1, (static_cast<long>(order.readTimeoutMs) + 999) / 1000);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, seconds);
        // Each hop's reply headers get their own time.
        active->headersDue = Clock::now() + std::chrono::milliseconds(order.readTimeoutMs);
    }
    if (!order.caFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, order.caFile.c_str());
    // Every encoding libcurl can decode; the body is handed out decoded.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    // Cookies the sites set are kept for the run and sent back by the rules.
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share.get());
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    if (!order.agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, order.agent.c_str());
    if (!order.referrer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, order.referrer.c_str());

    std::vector<std::string> headers = order.headers;
    const SiteAccess* site = step.access ? active->access.get() : nullptr;
    if (site) {
        if (!site->userName.empty())
            curl_easy_setopt(easy, CURLOPT_USERNAME, site->userName.c_str());
        if (!site->password.empty())
            curl_easy_setopt(easy, CURLOPT_PASSWORD, site->password.c_str());
        if (const std::string& netrc = netrcOf(active->access); !netrc.empty()) {
            curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
            curl_easy_setopt(easy, CURLOPT_NETRC_FILE, netrc.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
        // The user's header replaces ours of the same name.
        for (const std::string& line : site->headers) {
            const std::string name = AsciiLower(headerName(line));
            std::erase_if(headers, [&name](const std::string& ours) {
                return AsciiLower(headerName(ours)) == name;
            });
        }
        headers.insert(headers.end(), site->headers.begin(), site->headers.end());
    } else if (sameOrigin(step.url, order.url)) {
        // Credentials of the request itself stay on its own host too.
        if (!order.userName.empty())
            curl_easy_setopt(easy, CURLOPT_USERNAME, order.userName.c_str());
        if (!order.password.empty())
            curl_easy_setopt(easy, CURLOPT_PASSWORD, order.password.c_str());
    }

    curl_slist* list = nullptr;
    for (const std::string& line : headers) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    }
    active->headers.reset(list);
    if (list)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (step.verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(order.body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, order.body.c_str());
    } else if (step.verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (step.verb != "GET" && !step.verb.empty()) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, step.verb.c_str());
    }

    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
        transfer->finish(CURLE_FAILED_INIT, "The transfer could not be started");
        return;
    }
    m_active.emplace(transfer.get(), std::move(active));
}

void TransferLoop::follow(const std::shared_ptr<Transfer>& transfer, CURL* easy)
{
    const auto it = m_active.find(transfer.get());
    if (it == m_active.end())
        return;
    char* target = nullptr;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    Hop next = it->second->hop;
    std::shared_ptr<const SiteAccess> access = it->second->access;
    next.url = target ? target : "";
    ++next.redirects;
    // As browsers do: a form sent again after 301, 302 or 303 becomes a GET.
    if (next.verb == "POST" && status != 307 && status != 308)
        next.verb = "GET";
    // The start page's redirect moves the site, and its access with it.
    const bool wasAccess = next.access;
    next.access =
        access && (access->covers(next.url) || (transfer->order().siteStart && wasAccess));
    remove(transfer.get());
    if (next.redirects > kMaxRedirects) {
        transfer->finish(
            CURLE_TOO_MANY_REDIRECTS,
            ("Maximum (" + std::to_string(kMaxRedirects) + ") redirects followed").c_str());
        return;
    }
    addHop(transfer, std::move(access), std::move(next));
}

// libcurl's order: out of the multi, then the easy handle.
void TransferLoop::remove(Transfer* transfer)
{
    const auto it = m_active.find(transfer);
    if (it == m_active.end())
        return;
    CurlEasy& easy = it->second->easy;
    curl_multi_remove_handle(m_multi.get(), easy.get());
    // The next transfer takes the handle with every option back at its
    // default, instead of making and freeing one per request.
    if (m_spareEasy.size() < kSpareHandles) {
        // A reset does not free the cookie file list; a null file does
        // (the shared cookies stay).
        curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, nullptr);
        curl_easy_reset(easy.get());
        m_spareEasy.push_back(std::move(easy));
    }
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
        const auto* active = static_cast<const Active*>(data);
        const CURLcode result = msg->data.result;
        long osErrno = 0;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_OS_ERRNO, &osErrno);
        const auto transfer = active->transfer;
        char* target = nullptr;
        if (result == CURLE_OK && transfer->redirectPending() &&
            curl_easy_getinfo(msg->easy_handle, CURLINFO_REDIRECT_URL, &target) == CURLE_OK &&
            target && mayFollow(transfer->order(), target)) {
            follow(transfer, msg->easy_handle);
            continue;
        }
        transfer->finish(result, active->errorText, result == CURLE_OK ? 0 : osErrno);
        remove(transfer.get());
    }
}

} // namespace inet
