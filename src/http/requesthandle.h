// The layer's request handle: one transfer's request and reply.

#pragma once

#include "internethandle.h"
#include "replyheaders.h"
#include "transfer.h"
#include "urlcomponents.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace inet {

// One HTTP request: what HttpOpenRequestA was given, then the transfer that
// HttpSendRequestA starts on the transfer thread and the calls that wait on
// it.
class RequestHandle final : public InternetHandle
{
public:
    RequestHandle() : InternetHandle(HandleKind::Request) {}
    ~RequestHandle() override;

    // From the connection and root handles.
    std::string host;
    INTERNET_PORT port = 0;
    std::string userName;
    std::string password;
    std::string agent;
    // From HttpOpenRequestA.
    std::string verb;
    std::string object;
    std::string version;
    std::string referrer;
    std::string accept;
    std::uint32_t flags = 0;

    bool setReceiveTimeout(std::uint32_t milliseconds);
    bool setIdleTimeout(std::uint32_t milliseconds);
    bool setRedirectHost(std::string name);
    bool effectiveUrl(void* buffer, std::uint32_t* length) const;
    bool send(std::string_view extraHeaders, std::string_view body);
    // Starts the transfer and returns at once; onReply gets the whole reply
    // (or the failure) once. False, with onReply never called, when the
    // handle is closed or was sent already.
    bool start(std::string_view extraHeaders, std::string_view body, ReplyHandler onReply);
    bool queryInfo(std::uint32_t level, void* buffer, std::uint32_t* length,
                   const std::uint32_t* index) const;
    bool read(char* buffer, std::uint32_t toRead, std::uint32_t* got);

protected:
    void wake() override;

private:
    std::string url() const;
    TransferOrder order(std::string_view extraHeaders, std::string_view body) const;
    // Stores the transfer where a closing thread finds it; false when the
    // handle was closed before that.
    bool keep(const std::shared_ptr<Transfer>& running);
    std::shared_ptr<Transfer> transfer() const;
    bool cancelled() const;

    // Used by the calling thread only.
    bool m_sent = false;
    std::uint32_t m_timeoutMs = 0;
    std::uint32_t m_idleTimeoutMs = 0;
    std::string m_redirectHost;
    ReplyHeaders m_reply;
    bool m_replied = false;
    std::string m_finalUrl;

    // Set by the calling thread, read by a closing one.
    mutable std::mutex m_transferMutex;
    std::shared_ptr<Transfer> m_transfer;
};

// The text and its NUL into the caller's buffer, or the size it needs.
bool DeliverText(const std::string& value, void* buffer, std::uint32_t* length,
                 const char* tooSmall);

} // namespace inet
