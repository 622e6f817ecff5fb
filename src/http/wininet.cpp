#include "wininet.h"

#include "curlhandles.h"
#include "stringhelpers.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

// --- last failure of the calling thread ------------------------------------

struct LastError
{
    std::uint32_t code = 0;
    std::string text;
};

thread_local LastError t_lastError;

bool fail(std::uint32_t code, std::string text)
{
    t_lastError = {code, std::move(text)};
    return false;
}

HINTERNET failHandle(std::uint32_t code, std::string text)
{
    fail(code, std::move(text));
    return NullHandle;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::string orEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

// The text and its NUL into the caller's buffer, or the size it needs.
bool deliverText(const std::string& value, void* buffer, std::uint32_t* length,
                 const char* tooSmall)
{
    if (value.size() + 1 > *length) {
        *length = static_cast<std::uint32_t>(value.size() + 1);
        return fail(ERROR_INSUFFICIENT_BUFFER, tooSmall);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<std::uint32_t>(value.size());
    return true;
}

// --- handles ---------------------------------------------------------------

enum class Kind
{
    Root,
    Connect,
    Request,
};

class Handle
{
public:
    explicit Handle(Kind kind) : m_kind(kind) {}
    virtual ~Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    Kind kind() const { return m_kind; }
    bool closed() const { return m_closed.load(std::memory_order_acquire); }
    void close()
    {
        m_closed.store(true, std::memory_order_release);
        wake();
    }

protected:
    // Called on the closing thread: must only do what is safe while another
    // thread is inside a call on this handle.
    virtual void wake() {}

private:
    const Kind m_kind;
    std::atomic<bool> m_closed{false};
};

class RootHandle final : public Handle
{
public:
    RootHandle() : Handle(Kind::Root) {}
    std::string agent;
};

class ConnectHandle final : public Handle
{
public:
    ConnectHandle() : Handle(Kind::Connect) {}
    std::shared_ptr<RootHandle> root;
    std::string host;
    INTERNET_PORT port = 0;
    std::string userName;
    std::string password;
};

class RequestHandle;

// Handles live in one table so that a handle closed on one thread while
// another thread is inside a call on it is freed only after that call: the
// call holds its own reference.
class HandleTable
{
public:
    static HandleTable& instance()
    {
        static HandleTable table;
        return table;
    }

    HINTERNET add(std::shared_ptr<Handle> handle)
    {
        const std::lock_guard lock(m_mutex);
        const auto id = ++m_lastId;
        m_handles.emplace(id, std::move(handle));
        return static_cast<HINTERNET>(id);
    }

    template <typename T> std::shared_ptr<T> find(HINTERNET h, Kind kind)
    {
        std::shared_ptr<Handle> found;
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_handles.find(static_cast<std::uintptr_t>(h));
            if (it != m_handles.end())
                found = it->second;
        }
        if (!found || found->kind() != kind) {
            fail(ERROR_INVALID_HANDLE, "The handle is invalid");
            return nullptr;
        }
        return std::static_pointer_cast<T>(found);
    }

    std::shared_ptr<Handle> remove(HINTERNET h)
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_handles.find(static_cast<std::uintptr_t>(h));
        if (it == m_handles.end())
            return nullptr;
        auto handle = std::move(it->second);
        m_handles.erase(it);
        return handle;
    }

private:
    std::mutex m_mutex;
    std::uintptr_t m_lastId = 0;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Handle>> m_handles;
};

// --- one request and its transfer ------------------------------------------

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

std::uint32_t errorNumber(CURLcode rc)
{
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_PEER_FAILED_VERIFICATION:
        return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_WEIRD_SERVER_REPLY:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

class RequestHandle final : public Handle
{
public:
    RequestHandle() : Handle(Kind::Request), m_multi(curl_multi_init()) {}
    ~RequestHandle() override
    {
        // libcurl's order: out of the multi first, then the easy handle, then
        // the multi.
        if (m_multi && m_easy && m_added)
            curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_easy.reset();
        m_multi.reset();
    }

    std::shared_ptr<ConnectHandle> connection;
    std::string verb;
    std::string object;
    std::string version;
    std::string referrer;
    std::string accept;
    std::uint32_t flags = 0;

    bool setReceiveTimeout(std::uint32_t milliseconds);
    bool effectiveUrl(void* buffer, std::uint32_t* length) const;
    bool send(std::string_view extraHeaders, std::string_view body);
    bool queryInfo(std::uint32_t level, void* buffer, std::uint32_t* length,
                   const std::uint32_t* index) const;
    bool read(char* buffer, std::uint32_t toRead, std::uint32_t* got);

protected:
    void wake() override
    {
        // The only multi call that is safe from another thread.
        if (m_multi)
            curl_multi_wakeup(m_multi.get());
    }

private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    void headerLine(std::string_view line);
    bool endOfBlockIsFinal() const;
    void markFinal();
    bool drive();
    bool failTransfer();
    std::size_t pending() const { return m_body.size() - m_bodyPos; }
    bool header(std::string_view name, std::string* value) const;

    CurlMulti m_multi;
    CurlEasy m_easy;
    CurlSlist m_headerList;
    bool m_added = false;
    bool m_sent = false;

    std::string m_block;      // the reply header block being received
    std::string m_finalBlock; // the final reply's block, once known
    bool m_headersFinal = false;
    std::string m_finalUrl;
    std::uint32_t m_timeoutMs = 0;

    std::string m_body; // body bytes not yet handed out start at m_bodyPos
    std::size_t m_bodyPos = 0;
    std::uint64_t m_bodyTotal = 0;
    bool m_tooLarge = false;

    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    char m_errorText[CURL_ERROR_SIZE] = {};
};

// Header blocks beyond this are an attack, not a reply.
constexpr std::size_t kMaxHeaderBlock = 1024 * 1024;

std::size_t RequestHandle::onHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* request = static_cast<RequestHandle*>(self);
    const std::size_t n = size * count;
    request->headerLine(std::string_view(data, n));
    return request->m_block.size() > kMaxHeaderBlock ? 0 : n;
}

std::size_t RequestHandle::onBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* request = static_cast<RequestHandle*>(self);
    const std::size_t n = size * count;
    // libcurl passes no body of a redirect it follows, so body bytes belong
    // to the final reply.
    if (!request->m_headersFinal)
        request->markFinal();
    request->m_bodyTotal += n;
    if (request->m_bodyTotal > kMaxReplyBody) {
        request->m_tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    if (request->m_bodyPos > 0 && request->m_bodyPos >= request->m_body.size() / 2) {
        request->m_body.erase(0, request->m_bodyPos);
        request->m_bodyPos = 0;
    }
    request->m_body.append(data, n);
    return n;
}

void RequestHandle::headerLine(std::string_view line)
{
    const std::string_view text = trim(line);
    if (StartsWithNoCase(line, "HTTP/")) {
        m_block.assign(text);
        m_block += "\r\n";
        m_headersFinal = false;
        return;
    }
    if (text.empty()) {
        if (m_block.empty())
            return;
        m_block += "\r\n";
        if (endOfBlockIsFinal())
            markFinal();
        return;
    }
    m_block.append(text);
    m_block += "\r\n";
}

// An interim reply (1xx) or a redirect that libcurl is about to follow is
// not the final reply. A redirect that is not followed in the end finishes
// the transfer, which also ends the wait for headers.
bool RequestHandle::endOfBlockIsFinal() const
{
    const auto space = m_block.find(' ');
    int status = 0;
    if (space != std::string::npos)
        std::from_chars(m_block.data() + space + 1, m_block.data() + m_block.size(), status);
    if (status >= 100 && status < 200)
        return false;
    if (status >= 300 && status < 400) {
        std::size_t pos = 0;
        while ((pos = m_block.find("\r\n", pos)) != std::string::npos) {
            pos += 2;
            if (StartsWithNoCase(std::string_view(m_block).substr(pos), "location:"))
                return false;
        }
    }
    return true;
}

void RequestHandle::markFinal()
{
    m_finalBlock = m_block;
    m_headersFinal = true;
    char* url = nullptr;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
        m_finalUrl = url;
}

// One round of work on the transfer; false when the handle was closed.
bool RequestHandle::drive()
{
    if (closed())
        return false;
    int running = 0;
    curl_multi_perform(m_multi.get(), &running);
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE) {
            m_done = true;
            m_result = msg->data.result;
        }
    }
    if (m_done) {
        if (!m_headersFinal && !m_block.empty())
            markFinal();
        return !closed();
    }
    if (closed())
        return false;
    curl_multi_poll(m_multi.get(), nullptr, 0, 1000, nullptr);
    return !closed();
}

// A body shorter than its Content-Length still counts as delivered: the
// reader judges the length itself.
bool transferSucceeded(CURLcode rc)
{
    return rc == CURLE_OK || rc == CURLE_PARTIAL_FILE;
}

bool RequestHandle::failTransfer()
{
    if (closed())
        return fail(ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled");
    if (m_tooLarge)
        return fail(ERROR_INTERNET_REPLY_TOO_LARGE, "The reply body is larger than 64 MiB");
    std::string text = curl_easy_strerror(m_result);
    if (m_errorText[0] != '\0')
        text += std::string(": ") + m_errorText;
    return fail(errorNumber(m_result), text);
}

bool RequestHandle::setReceiveTimeout(std::uint32_t milliseconds)
{
    if (m_sent)
        return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_timeoutMs = milliseconds;
    return true;
}

bool RequestHandle::effectiveUrl(void* buffer, std::uint32_t* length) const
{
    if (!m_headersFinal)
        return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "No reply has been received");
    return deliverText(m_finalUrl, buffer, length, "The buffer is too small for the address");
}

bool RequestHandle::send(std::string_view extraHeaders, std::string_view body)
{
    if (closed())
        return failTransfer();
    if (m_sent)
        return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was already sent");
    m_sent = true;
    m_easy.reset(curl_easy_init());
    if (!m_multi || !m_easy)
        return fail(ERROR_INTERNET_INTERNAL_ERROR, "Out of memory");

    const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
    INTERNET_PORT port = connection->port;
    if (port == INTERNET_INVALID_PORT_NUMBER)
        port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    std::string host = connection->host;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    const std::string url = std::string(secure ? "https://" : "http://") + host + ":" +
                            std::to_string(port) + encodeTarget(object);

    CURL* easy = m_easy.get();
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // libcurl follows without limit unless told; 10 is what platform
    // clients allow.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeoutMs));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &RequestHandle::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &RequestHandle::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (!connection->root->agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, connection->root->agent.c_str());
    if (!referrer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, referrer.c_str());
    if (!connection->userName.empty())
        curl_easy_setopt(easy, CURLOPT_USERNAME, connection->userName.c_str());
    if (!connection->password.empty())
        curl_easy_setopt(easy, CURLOPT_PASSWORD, connection->password.c_str());

    curl_slist* list = nullptr;
    const auto addHeader = [&list](const std::string& line) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    };
    if (!accept.empty())
        addHeader("Accept: " + accept);
    // There is no local cache; a reload still tells caches on the way.
    if (flags & INTERNET_FLAG_RELOAD) {
        addHeader("Cache-Control: no-cache");
        addHeader("Pragma: no-cache");
    }
    std::size_t start = 0;
    while (start < extraHeaders.size()) {
        auto end = extraHeaders.find('\n', start);
        if (end == std::string_view::npos)
            end = extraHeaders.size();
        const auto line = trim(extraHeaders.substr(start, end - start));
        if (!line.empty())
            addHeader(std::string(line));
        start = end + 1;
    }
    m_headerList.reset(list);
    if (list)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, std::string(body).c_str());
    } else if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (verb != "GET" && !verb.empty()) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK)
        return fail(ERROR_INTERNET_INTERNAL_ERROR, "The transfer could not be started");
    m_added = true;

    while (!m_headersFinal && !m_done) {
        if (!drive())
            return failTransfer();
    }
    if (m_done && !transferSucceeded(m_result))
        return failTransfer();
    if (!m_headersFinal)
        return fail(ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server sent no reply headers");
    return true;
}

bool RequestHandle::header(std::string_view name, std::string* value) const
{
    std::size_t pos = m_finalBlock.find("\r\n");
    while (pos != std::string::npos) {
        pos += 2;
        const auto end = m_finalBlock.find("\r\n", pos);
        if (end == std::string::npos)
            break;
        const std::string_view line(m_finalBlock.data() + pos, end - pos);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos &&
            AsciiLower(trim(line.substr(0, colon))) == AsciiLower(name)) {
            *value = std::string(trim(line.substr(colon + 1)));
            return true;
        }
        pos = end;
    }
    return false;
}

bool RequestHandle::queryInfo(std::uint32_t level, void* buffer, std::uint32_t* length,
                              const std::uint32_t* index) const
{
    if (!m_headersFinal)
        return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "No reply has been received");
    std::string value;
    bool found = index == nullptr || *index == 0;
    switch (level) {
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = m_finalBlock;
        break;
    case HTTP_QUERY_STATUS_CODE: {
        const auto first = m_finalBlock.find(' ');
        const auto second = m_finalBlock.find_first_of(" \r", first + 1);
        if (first == std::string::npos || second == std::string::npos)
            found = false;
        else
            value = m_finalBlock.substr(first + 1, second - first - 1);
        break;
    }
    case HTTP_QUERY_CONTENT_TYPE:
        found = found && header("Content-Type", &value);
        break;
    case HTTP_QUERY_CONTENT_LENGTH:
        found = found && header("Content-Length", &value);
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER, "Unknown information level");
    }
    if (!found)
        return fail(ERROR_HTTP_HEADER_NOT_FOUND, "The header was not found");
    return deliverText(value, buffer, length, "The buffer is too small for the header");
}

bool RequestHandle::read(char* buffer, std::uint32_t toRead, std::uint32_t* got)
{
    *got = 0;
    if (!m_sent)
        return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The request was not sent");
    while (!closed()) {
        if (pending() >= toRead || (m_done && pending() > 0)) {
            const std::size_t n = std::min<std::size_t>(pending(), toRead);
            std::memcpy(buffer, m_body.data() + m_bodyPos, n);
            m_bodyPos += n;
            *got = static_cast<std::uint32_t>(n);
            return true;
        }
        if (m_done)
            return transferSucceeded(m_result) || failTransfer();
        if (!drive())
            break;
    }
    return failTransfer();
}

} // namespace

HINTERNET InternetOpenA(const char* agent, std::uint32_t /*accessType*/, const char* /*proxy*/,
                        const char* /*proxyBypass*/, std::uint32_t /*flags*/)
{
    auto root = std::make_shared<RootHandle>();
    root->agent = orEmpty(agent);
    return HandleTable::instance().add(std::move(root));
}

HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port,
                           const char* userName, const char* password, std::uint32_t service,
                           std::uint32_t /*flags*/, std::uintptr_t /*context*/)
{
    auto parent = HandleTable::instance().find<RootHandle>(root, Kind::Root);
    if (!parent)
        return NullHandle;
    if (parent->closed())
        return failHandle(ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled");
    if (service != INTERNET_SERVICE_HTTP)
        return failHandle(ERROR_INVALID_PARAMETER, "Only the HTTP service is offered");
    if (!serverName || *serverName == '\0')
        return failHandle(ERROR_INTERNET_INVALID_URL, "No server name was given");
    auto connection = std::make_shared<ConnectHandle>();
    connection->root = std::move(parent);
    connection->host = serverName;
    connection->port = port;
    connection->userName = orEmpty(userName);
    connection->password = orEmpty(password);
    return HandleTable::instance().add(std::move(connection));
}

HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer,
                           const char* const* acceptTypes, std::uint32_t flags,
                           std::uintptr_t /*context*/)
{
    auto parent = HandleTable::instance().find<ConnectHandle>(connect, Kind::Connect);
    if (!parent)
        return NullHandle;
    if (parent->closed())
        return failHandle(ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled");
    auto request = std::make_shared<RequestHandle>();
    request->connection = std::move(parent);
    request->verb = verb && *verb ? verb : "GET";
    request->object = orEmpty(objectName);
    request->version = version && *version ? version : "HTTP/1.1";
    request->referrer = orEmpty(referrer);
    request->flags = flags;
    for (auto entry = acceptTypes; entry && *entry; ++entry) {
        std::string_view type = *entry;
        if (StartsWithNoCase(type, "Accept:"))
            type.remove_prefix(7);
        type = trim(type);
        if (type.empty())
            continue;
        if (!request->accept.empty())
            request->accept += ", ";
        request->accept += type;
    }
    return HandleTable::instance().add(std::move(request));
}

bool InternetSetOptionA(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t length)
{
    const auto request = HandleTable::instance().find<RequestHandle>(handle, Kind::Request);
    if (!request)
        return false;
    if (option != INTERNET_OPTION_RECEIVE_TIMEOUT)
        return fail(ERROR_INTERNET_INVALID_OPTION, "The option is not offered");
    std::uint32_t milliseconds = 0;
    if (!buffer || length != sizeof(milliseconds))
        return fail(ERROR_INTERNET_BAD_OPTION_LENGTH, "The option's value has the wrong size");
    std::memcpy(&milliseconds, buffer, sizeof(milliseconds));
    return request->setReceiveTimeout(milliseconds);
}

bool InternetQueryOptionA(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t* length)
{
    const auto request = HandleTable::instance().find<RequestHandle>(handle, Kind::Request);
    if (!request)
        return false;
    if (option != INTERNET_OPTION_URL)
        return fail(ERROR_INTERNET_INVALID_OPTION, "The option is not offered");
    if (!buffer || !length)
        return fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return request->effectiveUrl(buffer, length);
}

bool HttpSendRequestA(HINTERNET request, const char* headers, std::uint32_t headersLength,
                      const void* optional, std::uint32_t optionalLength)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(request, Kind::Request);
    if (!handle)
        return false;
    std::string_view extra;
    if (headers)
        extra = headersLength == NUL_TERMINATED ? std::string_view(headers)
                                                : std::string_view(headers, headersLength);
    std::string_view body;
    if (optional)
        body = std::string_view(static_cast<const char*>(optional), optionalLength);
    return handle->send(extra, body);
}

bool HttpQueryInfoA(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(request, Kind::Request);
    if (!handle)
        return false;
    if (!buffer || !bufferLength)
        return fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return handle->queryInfo(infoLevel, buffer, bufferLength, index);
}

bool InternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t* bytesRead)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(file, Kind::Request);
    if (!handle)
        return false;
    if (!buffer || !bytesRead || bytesToRead == 0)
        return fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return handle->read(static_cast<char*>(buffer), bytesToRead, bytesRead);
}

bool InternetCloseHandle(HINTERNET handle)
{
    const auto removed = HandleTable::instance().remove(handle);
    if (!removed)
        return fail(ERROR_INVALID_HANDLE, "The handle is invalid");
    removed->close();
    return true;
}

namespace {

// The URL calls' outcome as this layer reports it.
bool urlResult(UrlError error, const char* tooLong)
{
    switch (error) {
    case UrlError::None:
        return true;
    case UrlError::BufferTooSmall:
        return fail(ERROR_INSUFFICIENT_BUFFER, tooLong);
    case UrlError::BadArgument:
        return fail(ERROR_INVALID_PARAMETER, "Missing argument");
    case UrlError::InvalidUrl:
        break;
    }
    return fail(ERROR_INTERNET_INVALID_URL, "The address is not valid");
}

} // namespace

bool InternetCrackUrlA(const char* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTSA* components)
{
    return urlResult(CrackUrlComponents(url, urlLength, flags, components),
                     "A part of the address is too long");
}

bool InternetCombineUrlA(const char* baseUrl, const char* relativeUrl, char* buffer,
                         std::uint32_t* bufferLength, std::uint32_t flags)
{
    return urlResult(CombineUrl(baseUrl, relativeUrl, buffer, bufferLength, flags),
                     "The combined address is too long");
}

bool InternetGetLastResponseInfoA(std::uint32_t* error, char* buffer, std::uint32_t* bufferLength)
{
    if (!error || !buffer || !bufferLength)
        return false;
    const LastError& last = t_lastError;
    *error = last.code;
    if (last.text.size() + 1 > *bufferLength) {
        *bufferLength = static_cast<std::uint32_t>(last.text.size() + 1);
        return false;
    }
    std::memcpy(buffer, last.text.c_str(), last.text.size() + 1);
    *bufferLength = static_cast<std::uint32_t>(last.text.size());
    return true;
}
