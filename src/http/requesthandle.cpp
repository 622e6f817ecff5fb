// The layer's request handle: one transfer's request and reply.

#include "requesthandle.h"

#include "internetaccess.h"
#include "lasterror.h"
#include "stringhelpers.h"
#include "transfer.h"
#include "transferloop.h"

#include <cctype>
#include <cstring>

namespace inet {

namespace {

// Characters a request line cannot carry are escaped; the path arrives
// decoded, so a "%" that does not start an escape stands for itself.
std::string encodeTarget(std::string_view object)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    if (object.empty() || object.front() != '/')
        out += '/';
    for (std::size_t i = 0; i < object.size(); ++i) {
        const auto c = static_cast<unsigned char>(object[i]);
        bool escape = c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr;
        if (c == '%')
            escape = !(i + 2 < object.size() &&
                       std::isxdigit(static_cast<unsigned char>(object[i + 1])) &&
                       std::isxdigit(static_cast<unsigned char>(object[i + 2])));
        if (escape) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

bool DeliverText(const std::string& value, void* buffer, std::uint32_t* length,
                 const char* tooSmall)
{
    if (value.size() + 1 > *length) {
        *length = static_cast<std::uint32_t>(value.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER, tooSmall);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<std::uint32_t>(value.size());
    return true;
}

RequestHandle::~RequestHandle() = default;

void RequestHandle::wake()
{
    // A transfer that is over needs no word to the transfer thread.
    if (const auto running = transfer(); running && running->cancel())
        TransferLoop::instance().cancel(running);
}

std::shared_ptr<Transfer> RequestHandle::transfer() const
{
    const std::lock_guard lock(m_transferMutex);
    return m_transfer;
}

bool RequestHandle::cancelled() const
{
    return Fail({TransferError::Kind::Cancelled, 0, "The operation was cancelled"});
}

std::string RequestHandle::url() const
{
    const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
    INTERNET_PORT effectivePort = port;
    if (effectivePort == INTERNET_INVALID_PORT_NUMBER)
        effectivePort = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    std::string name = host;
    if (name.find(':') != std::string::npos && name.front() != '[')
        name = "[" + name + "]";
    return std::string(secure ? "https://" : "http://") + name + ":" +
           std::to_string(effectivePort) + encodeTarget(object);
}

bool RequestHandle::setReceiveTimeout(std::uint32_t milliseconds)
{
    if (m_sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_timeoutMs = milliseconds;
    return true;
}

bool RequestHandle::setIdleTimeout(std::uint32_t milliseconds)
{
    if (m_sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_idleTimeoutMs = milliseconds;
    return true;
}

bool RequestHandle::setRedirectHost(std::string name)
{
    if (m_sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_redirectHost = std::move(name);
    return true;
}

bool RequestHandle::effectiveUrl(void* buffer, std::uint32_t* length) const
{
    if (!m_replied)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "No reply has been received");
    return DeliverText(m_finalUrl, buffer, length, "The buffer is too small for the address");
}

TransferOrder RequestHandle::order(std::string_view extraHeaders, std::string_view body) const
{
    TransferOrder order;
    order.url = url();
    order.verb = verb;
    order.http10 = version == "HTTP/1.0";
    order.agent = agent;
    order.referrer = referrer;
    order.userName = userName;
    order.password = password;
    order.timeoutMs = m_timeoutMs;
    order.readTimeoutMs = m_idleTimeoutMs;
    order.redirectHost = m_redirectHost;
    order.caFile = CaFile();
    order.siteStart = (flags & INTERNET_FLAG_SITE_START) != 0;
    if (!accept.empty())
        order.headers.push_back("Accept: " + accept);
    // There is no local cache; a reload still tells caches on the way.
    if (flags & INTERNET_FLAG_RELOAD) {
        order.headers.emplace_back("Cache-Control: no-cache");
        order.headers.emplace_back("Pragma: no-cache");
    }
    std::size_t start = 0;
    while (start < extraHeaders.size()) {
        auto end = extraHeaders.find('\n', start);
        if (end == std::string_view::npos)
            end = extraHeaders.size();
        const auto line = TrimSpace(extraHeaders.substr(start, end - start));
        if (!line.empty())
            order.headers.emplace_back(line);
        start = end + 1;
    }
    if (verb == "POST")
        order.body = body;
    return order;
}

bool RequestHandle::keep(const std::shared_ptr<Transfer>& running)
{
    {
        const std::lock_guard lock(m_transferMutex);
        m_transfer = running;
    }
    // A close that came before the transfer was stored did not see it.
    return !closed();
}

bool RequestHandle::send(std::string_view extraHeaders, std::string_view body)
{
    if (closed())
        return cancelled();
    if (m_sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_sent = true;

    const auto running = std::make_shared<Transfer>(order(extraHeaders, body));
    if (!keep(running))
        return cancelled();
    if (!TransferLoop::instance().start(running))
        return false;
    if (closed()) {
        running->cancel();
        TransferLoop::instance().cancel(running);
        return cancelled();
    }
    if (!running->waitForHeaders(&m_reply, &m_finalUrl))
        return false;
    m_replied = true;
    return true;
}

bool RequestHandle::start(std::string_view extraHeaders, std::string_view body,
                          ReplyHandler onReply)
{
    if (closed())
        return cancelled();
    if (m_sent)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_sent = true;

    const auto running = std::make_shared<Transfer>(order(extraHeaders, body), std::move(onReply));
    if (!keep(running)) {
        running->cancel();
        return true;
    }
    if (!TransferLoop::instance().start(running))
        running->abandon(LastFailure().error);
    else if (closed() && running->cancel())
        TransferLoop::instance().cancel(running);
    return true;
}

bool RequestHandle::queryInfo(std::uint32_t level, void* buffer, std::uint32_t* length,
                              const std::uint32_t* index) const
{
    if (!m_replied)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "No reply has been received");
    std::optional<std::string> value;
    const bool first = index == nullptr || *index == 0;
    switch (level) {
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = m_reply.finalBlock();
        break;
    case HTTP_QUERY_STATUS_CODE:
        value = m_reply.statusCode();
        break;
    case HTTP_QUERY_CONTENT_TYPE:
        value = m_reply.field("Content-Type");
        break;
    case HTTP_QUERY_CONTENT_LENGTH:
        // The body is handed out decoded, so an encoded reply's length says
        // nothing about the bytes the reader will get.
        if (!m_reply.field("Content-Encoding"))
            value = m_reply.field("Content-Length");
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER, "Unknown information level");
    }
    if (!first || !value)
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND, "The header was not found");
    return DeliverText(*value, buffer, length, "The buffer is too small for the header");
}

bool RequestHandle::read(char* buffer, std::uint32_t toRead, std::uint32_t* got)
{
    *got = 0;
    if (closed())
        return cancelled();
    const auto running = transfer();
    if (!m_sent || !running)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was not sent");
    std::size_t n = 0;
    bool resume = false;
    const bool ok = running->read(buffer, toRead, &n, &resume);
    if (resume)
        TransferLoop::instance().resume(running);
    *got = static_cast<std::uint32_t>(n);
    return ok;
}

} // namespace inet
