// The internet-access layer's calls (InternetOpen, HttpSendRequest, ...) over libcurl.

#include "internetaccess.h"

#include "internethandle.h"
#include "lasterror.h"
#include "replyheaders.h"
#include "requesthandle.h"
#include "stringhelpers.h"
#include "transfer.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

using inet::Fail;
using inet::HandleKind;
using inet::InternetHandle;
using inet::RequestHandle;
using inet::TrimSpace;

HINTERNET failHandle(std::uint32_t code, std::string text)
{
    Fail(code, std::move(text));
    return NullHandle;
}

HINTERNET failHandle(TransferError error)
{
    Fail(std::move(error));
    return NullHandle;
}

HINTERNET cancelledHandle()
{
    return failHandle({TransferError::Kind::Cancelled, 0, "The operation was cancelled"});
}

std::string orEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

// --- handles ---------------------------------------------------------------

class RootHandle final : public InternetHandle
{
public:
    RootHandle() : InternetHandle(HandleKind::Root) {}
    std::string agent;
};

class ConnectHandle final : public InternetHandle
{
public:
    ConnectHandle() : InternetHandle(HandleKind::Connect) {}
    std::shared_ptr<RootHandle> root;
    std::string host;
    INTERNET_PORT port = 0;
    std::string userName;
    std::string password;
};

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

    HINTERNET add(std::shared_ptr<InternetHandle> handle)
    {
        const std::lock_guard lock(m_mutex);
        const auto id = ++m_lastId;
        m_handles.emplace(id, std::move(handle));
        return static_cast<HINTERNET>(id);
    }

    template <typename T> std::shared_ptr<T> find(HINTERNET h, HandleKind kind)
    {
        std::shared_ptr<InternetHandle> found;
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_handles.find(static_cast<std::uintptr_t>(h));
            if (it != m_handles.end())
                found = it->second;
        }
        if (!found || found->kind() != kind) {
            Fail(ERROR_INVALID_HANDLE, "The handle is invalid");
            return nullptr;
        }
        return std::static_pointer_cast<T>(found);
    }

    std::shared_ptr<InternetHandle> remove(HINTERNET h)
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
    std::unordered_map<std::uintptr_t, std::shared_ptr<InternetHandle>> m_handles;
};

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
    auto parent = HandleTable::instance().find<RootHandle>(root, HandleKind::Root);
    if (!parent)
        return NullHandle;
    if (parent->closed())
        return cancelledHandle();
    if (service != INTERNET_SERVICE_HTTP)
        return failHandle(ERROR_INVALID_PARAMETER, "Only the HTTP service is offered");
    if (!serverName || *serverName == '\0')
        return failHandle(
            TransferError{TransferError::Kind::BadAddress, 0, "No server name was given"});
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
    auto parent = HandleTable::instance().find<ConnectHandle>(connect, HandleKind::Connect);
    if (!parent)
        return NullHandle;
    if (parent->closed())
        return cancelledHandle();
    auto request = std::make_shared<RequestHandle>();
    request->host = parent->host;
    request->port = parent->port;
    request->userName = parent->userName;
    request->password = parent->password;
    request->agent = parent->root->agent;
    request->verb = verb && *verb ? verb : "GET";
    request->object = orEmpty(objectName);
    request->version = version && *version ? version : "HTTP/1.1";
    request->referrer = orEmpty(referrer);
    request->flags = flags;
    for (auto entry = acceptTypes; entry && *entry; ++entry) {
        std::string_view type = *entry;
        if (StartsWithNoCase(type, "Accept:"))
            type.remove_prefix(7);
        type = TrimSpace(type);
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
    if (handle == NullHandle && option == INTERNET_OPTION_CA_FILE) {
        if (!buffer || length == 0)
            return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH, "No file was given");
        inet::SetCaFile(std::string(static_cast<const char*>(buffer), length));
        return true;
    }
    const auto request = HandleTable::instance().find<RequestHandle>(handle, HandleKind::Request);
    if (!request)
        return false;
    if (option == INTERNET_OPTION_REDIRECT_HOST) {
        if (!buffer || length == 0)
            return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH, "No host was given");
        return request->setRedirectHost(std::string(static_cast<const char*>(buffer), length));
    }
    if (option != INTERNET_OPTION_RECEIVE_TIMEOUT && option != INTERNET_OPTION_DATA_RECEIVE_TIMEOUT)
        return Fail(ERROR_INTERNET_INVALID_OPTION, "The option is not offered");
    std::uint32_t milliseconds = 0;
    if (!buffer || length != sizeof(milliseconds))
        return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH, "The option's value has the wrong size");
    std::memcpy(&milliseconds, buffer, sizeof(milliseconds));
    return option == INTERNET_OPTION_RECEIVE_TIMEOUT ? request->setReceiveTimeout(milliseconds)
                                                     : request->setIdleTimeout(milliseconds);
}

bool InternetQueryOptionA(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t* length)
{
    const auto request = HandleTable::instance().find<RequestHandle>(handle, HandleKind::Request);
    if (!request)
        return false;
    if (option != INTERNET_OPTION_URL)
        return Fail(ERROR_INTERNET_INVALID_OPTION, "The option is not offered");
    if (!buffer || !length)
        return Fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return request->effectiveUrl(buffer, length);
}

namespace {

std::string_view headerText(const char* headers, std::uint32_t length)
{
    if (!headers)
        return {};
    return length == NUL_TERMINATED ? std::string_view(headers) : std::string_view(headers, length);
}

std::string_view bodyText(const void* optional, std::uint32_t length)
{
    return optional ? std::string_view(static_cast<const char*>(optional), length)
                    : std::string_view();
}

} // namespace

bool HttpSendRequestA(HINTERNET request, const char* headers, std::uint32_t headersLength,
                      const void* optional, std::uint32_t optionalLength)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(request, HandleKind::Request);
    if (!handle)
        return false;
    return handle->send(headerText(headers, headersLength), bodyText(optional, optionalLength));
}

bool HttpSendRequestWhole(HINTERNET request, const char* headers, std::uint32_t headersLength,
                          const void* optional, std::uint32_t optionalLength,
                          inet::ReplyHandler onReply)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(request, HandleKind::Request);
    if (!handle)
        return false;
    return handle->start(headerText(headers, headersLength), bodyText(optional, optionalLength),
                         std::move(onReply));
}

bool HttpQueryInfoA(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(request, HandleKind::Request);
    if (!handle)
        return false;
    if (!buffer || !bufferLength)
        return Fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return handle->queryInfo(infoLevel, buffer, bufferLength, index);
}

bool InternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t* bytesRead)
{
    const auto handle = HandleTable::instance().find<RequestHandle>(file, HandleKind::Request);
    if (!handle)
        return false;
    if (!buffer || !bytesRead || bytesToRead == 0)
        return Fail(ERROR_INVALID_PARAMETER, "No buffer was given");
    return handle->read(static_cast<char*>(buffer), bytesToRead, bytesRead);
}

bool InternetCloseHandle(HINTERNET handle)
{
    const auto removed = HandleTable::instance().remove(handle);
    if (!removed)
        return Fail(ERROR_INVALID_HANDLE, "The handle is invalid");
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
        return Fail(ERROR_INSUFFICIENT_BUFFER, tooLong);
    case UrlError::BadArgument:
        return Fail(ERROR_INVALID_PARAMETER, "Missing argument");
    case UrlError::InvalidUrl:
        break;
    }
    return Fail({TransferError::Kind::BadAddress, 0, "The address is not valid"});
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
    const inet::LastError& last = inet::LastFailure();
    const std::string& text = last.error.detail;
    *error = last.code;
    if (text.size() + 1 > *bufferLength) {
        *bufferLength = static_cast<std::uint32_t>(text.size() + 1);
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *bufferLength = static_cast<std::uint32_t>(text.size());
    return true;
}
