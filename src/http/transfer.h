// One libcurl transfer as the layer drives it: request, headers, body.

#pragma once

#include "replyheaders.h"
#include "transfererror.h"

#include <curl/curl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace inet {

// Everything the transfer thread needs to set up one request.
struct TransferOrder
{
    std::string url;
    std::string verb;
    bool http10 = false;
    std::vector<std::string> headers;
    std::string body;
    std::string agent;
    std::string referrer;
    std::string userName;
    std::string password;
    std::uint32_t timeoutMs = 0;
    // No byte for this long, or the final reply's headers not complete this
    // long after the start, fails the transfer as timed out; 0: no bound.
    std::uint32_t readTimeoutMs = 0;
    std::string caFile; // the certificate authorities to trust; empty: the system's
    // The site's start page: where its redirects lead is the site from then
    // on, so the site's access goes along.
    bool siteStart = false;
    // Non-empty: redirects are followed by the loop, one checked hop at a
    // time, and only to this host; one elsewhere is the reply, unfollowed.
    std::string redirectHost;
};

// A finished transfer as one value: the final reply's headers, its address
// after redirects and its whole body, or why it failed.
struct TransferReply
{
    ReplyHeaders headers;
    std::string url;
    std::string body;
    TransferError error;
};
// Called once per transfer, on the transfer thread or on the thread that
// cancels it; it must not block.
using ReplyHandler = std::function<void(TransferReply)>;

// The certificate authorities every later https transfer trusts.
void SetCaFile(std::string path);
std::string CaFile();

// A body buffer above this pauses the transfer until the reader drains it
// below kResumeBelow: a slow reader must not make us hold a whole reply.
inline constexpr std::size_t kPauseAbove = 1024 * 1024;
inline constexpr std::size_t kResumeBelow = kPauseAbove / 2;

// The state of one transfer that the caller's thread and the transfer thread
// share. The transfer thread feeds it from libcurl's callbacks; the caller
// either waits on it, or (with a reply handler) is handed the whole reply
// once, when it is over.
class Transfer
{
public:
    explicit Transfer(TransferOrder order, ReplyHandler onReply = {})
        : m_order(std::move(order)), m_onReply(std::move(onReply)), m_whole(m_onReply != nullptr)
    {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    const TransferOrder& order() const { return m_order; }

    // --- the caller's side ---
    // Blocks until the final reply's headers are there; false (and the
    // failure recorded) when the transfer failed or was cancelled first.
    bool waitForHeaders(ReplyHeaders* headers, std::string* url);
    // Blocks until toRead bytes, or what is left of the body, are there.
    // *resume tells the caller to ask the transfer thread to resume.
    bool read(char* buffer, std::size_t toRead, std::size_t* got, bool* resume);
    // False when the transfer was over already.
    bool cancel();
    // Ends a transfer that never started with that failure.
    void abandon(TransferError error);

    // --- the transfer thread's side ---
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    void attach(CURL* easy);
    // The last reply is a redirect that the transfer thread follows itself;
    // its body is dropped.
    bool redirectPending() const;
    // The final reply's headers are all there.
    bool headersComplete() const;
    void finish(CURLcode result, const char* errorText, long osErrno = 0);

private:
    TransferError failure() const;
    bool failed() const;
    bool succeeded(CURLcode rc) const;
    void headersFinal();
    std::size_t pending() const { return m_body.size() - m_bodyPos; }
    // Hands the reply to the handler once; releases the lock.
    void deliver(std::unique_lock<std::mutex>& lock);

    const TransferOrder m_order;
    ReplyHandler m_onReply; // taken out when it is called
    const bool m_whole;     // the body goes to m_onReply in one piece
    CURL* m_easy = nullptr; // touched only on the transfer thread

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    ReplyHeaders m_headers;
    std::string m_url;
    std::string m_body; // bytes not yet handed out start at m_bodyPos
    std::size_t m_bodyPos = 0;
    std::uint64_t m_bodyTotal = 0;
    bool m_paused = false;
    bool m_tooLarge = false;
    bool m_cancelled = false;
    bool m_done = false;
    bool m_delivered = false;
    TransferError m_abandoned;
    CURLcode m_result = CURLE_OK;
    std::string m_errorText;
    long m_osErrno = 0;
};

} // namespace inet
