// One libcurl transfer as the layer drives it: request, headers, body.

#include "transfer.h"

#include "internetaccess.h"
#include "lasterror.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace inet {

namespace {

// Header blocks beyond this are an attack, not a reply.
constexpr std::size_t kMaxHeaderBlock = 1024 * 1024;

// libcurl says "Couldn't connect" for every failed connect; the system's
// error number tells a refused connection from an unreachable network.
TransferError::Kind kindOf(CURLcode rc, long osErrno)
{
    using K = TransferError::Kind;
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return K::Dns;
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ECONNREFUSED)
            return K::Refused;
        if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH)
            return K::Unreachable;
        return K::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return K::Timeout;
    case CURLE_TOO_MANY_REDIRECTS:
        return K::Redirect;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return K::BadAddress;
    case CURLE_PEER_FAILED_VERIFICATION:
        return K::Certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return K::Tls;
    case CURLE_WEIRD_SERVER_REPLY:
        return K::BadReply;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return K::Closed;
    default:
        return K::Internal;
    }
}

} // namespace

// A body shorter than its plain Content-Length still counts as delivered:
// the reader judges the length itself. Where there is no length it can
// judge (a chunked or encoded reply), a short body is a failed transfer.
bool Transfer::succeeded(CURLcode rc) const
{
    if (m_abandoned.failed())
        return false;
    if (rc == CURLE_OK)
        return true;
    return rc == CURLE_PARTIAL_FILE && m_headers.field("Content-Length") &&
           !m_headers.field("Content-Encoding");
}

// Called with the mutex held.
TransferError Transfer::failure() const
{
    using K = TransferError::Kind;
    if (m_abandoned.failed())
        return m_abandoned;
    if (m_cancelled)
        return {K::Cancelled, 0, "The operation was cancelled"};
    if (m_tooLarge)
        return {K::TooLarge, 0, "The reply body is larger than 64 MiB"};
    std::string text = curl_easy_strerror(m_result);
    if (!m_errorText.empty())
        text += ": " + m_errorText;
    if (m_osErrno != 0)
        text += std::string(" (") + std::strerror(static_cast<int>(m_osErrno)) + ")";
    return {kindOf(m_result, m_osErrno), 0, std::move(text)};
}

bool Transfer::failed() const
{
    return Fail(failure());
}

bool Transfer::headersComplete() const
{
    const std::lock_guard lock(m_mutex);
    return m_headers.isFinal();
}

bool Transfer::waitForHeaders(ReplyHeaders* headers, std::string* url)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_cancelled || m_done || m_headers.isFinal(); });
    if (m_cancelled || (m_done && !succeeded(m_result)))
        return failed();
    if (!m_headers.isFinal())
        return Fail({TransferError::Kind::BadReply, 0, "The server sent no reply headers"});
    *headers = m_headers;
    *url = m_url;
    return true;
}

bool Transfer::read(char* buffer, std::size_t toRead, std::size_t* got, bool* resume)
{
    *got = 0;
    *resume = false;
    // A reader that asks for more than a paused transfer holds gets what is
    // there.
    const std::size_t enough = std::min(toRead, kPauseAbove);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_cancelled || m_done || pending() >= enough; });
    if (m_cancelled)
        return failed();
    if (pending() == 0)
        return succeeded(m_result) || failed();
    const std::size_t n = std::min(pending(), toRead);
    std::memcpy(buffer, m_body.data() + m_bodyPos, n);
    m_bodyPos += n;
    *got = n;
    if (m_bodyPos >= m_body.size() / 2) {
        m_body.erase(0, m_bodyPos);
        m_bodyPos = 0;
    }
    if (m_paused && pending() < kResumeBelow) {
        m_paused = false;
        *resume = true;
    }
    return true;
}

bool Transfer::cancel()
{
    std::unique_lock lock(m_mutex);
    const bool running = !m_done && !m_delivered;
    m_cancelled = true;
    if (m_whole) {
        deliver(lock);
        return running;
    }
    lock.unlock();
    m_changed.notify_all();
    return running;
}

void Transfer::abandon(TransferError error)
{
    std::unique_lock lock(m_mutex);
    m_abandoned = std::move(error);
    m_done = true;
    if (m_whole)
        deliver(lock);
    else
        m_changed.notify_all();
}

void Transfer::deliver(std::unique_lock<std::mutex>& lock)
{
    if (m_delivered)
        return;
    m_delivered = true;
    TransferReply reply;
    if (m_cancelled || m_abandoned.failed() || !succeeded(m_result))
        reply.error = failure();
    else if (!m_headers.isFinal())
        reply.error = {TransferError::Kind::BadReply, 0, "The server sent no reply headers"};
    else {
        reply.headers = std::move(m_headers);
        reply.url = std::move(m_url);
        reply.body = std::move(m_body);
    }
    const ReplyHandler handler = std::move(m_onReply);
    lock.unlock();
    handler(std::move(reply));
}

void Transfer::attach(CURL* easy)
{
    const std::lock_guard lock(m_mutex);
    m_easy = easy;
}

bool Transfer::redirectPending() const
{
    const std::lock_guard lock(m_mutex);
    return m_headers.redirectPending();
}

void Transfer::headersFinal()
{
    char* url = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
        m_url = url;
    // The whole body is held at once: room for the announced length saves
    // the copies of a growing buffer.
    curl_off_t length = -1;
    if (m_whole &&
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && !m_headers.field("Content-Encoding"))
        m_body.reserve(static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(length), kMaxReplyBody)));
}

std::size_t Transfer::onHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    bool final = false;
    {
        const std::lock_guard lock(t->m_mutex);
        if (t->m_cancelled)
            return 0;
        const bool wasFinal = t->m_headers.isFinal();
        t->m_headers.addLine(std::string_view(data, n));
        if (t->m_headers.pendingSize() > kMaxHeaderBlock)
            return 0;
        final = !wasFinal && t->m_headers.isFinal();
        if (final)
            t->headersFinal();
    }
    if (final)
        t->m_changed.notify_all();
    return n;
}

std::size_t Transfer::onBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    {
        const std::lock_guard lock(t->m_mutex);
        if (t->m_cancelled)
            return 0;
        // Body bytes belong to the final reply; those of a redirect, which
        // the transfer thread follows or judges, are no page.
        if (!t->m_headers.isFinal()) {
            if (t->m_headers.redirectPending())
                return n;
            t->m_headers.endOfHeaders();
            t->headersFinal();
        }
        if (!t->m_whole && t->pending() >= kPauseAbove) {
            // libcurl keeps these bytes and offers them again on resume.
            t->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        // Counted after decoding: a small compressed reply can be huge.
        t->m_bodyTotal += n;
        if (t->m_bodyTotal > kMaxReplyBody) {
            t->m_tooLarge = true;
            return 0; // ends the transfer with a write error
        }
        // A whole body that outgrows its room past 1 MiB gets room up to
        // the cap at once: pages never touched cost no memory, where
        // regrowing would hold old and new copies together.
        constexpr std::size_t kSmallBody = 1024 * 1024;
        const std::size_t needed = t->m_body.size() + n;
        if (t->m_whole && needed > t->m_body.capacity() && needed > kSmallBody)
            t->m_body.reserve(std::max<std::size_t>(needed, kMaxReplyBody));
        t->m_body.append(data, n);
    }
    if (!t->m_whole)
        t->m_changed.notify_all();
    return n;
}

void Transfer::finish(CURLcode result, const char* errorText, long osErrno)
{
    std::unique_lock lock(m_mutex);
    if (m_done)
        return;
    m_done = true;
    m_result = result;
    m_errorText = errorText ? errorText : "";
    m_osErrno = osErrno;
    if (!m_delivered && !m_headers.isFinal()) {
        m_headers.endOfHeaders();
        if (m_headers.isFinal())
            headersFinal();
    }
    if (m_whole) {
        deliver(lock);
        return;
    }
    lock.unlock();
    m_changed.notify_all();
}

namespace {

std::mutex g_caMutex;
std::string g_caFile; // guarded by g_caMutex

} // namespace

void SetCaFile(std::string path)
{
    const std::lock_guard lock(g_caMutex);
    g_caFile = std::move(path);
}

std::string CaFile()
{
    const std::lock_guard lock(g_caMutex);
    return g_caFile;
}

} // namespace inet
