// One libcurl transfer as the layer drives it: request, headers, body.

#pragma once

#include "replyheaders.h"
#include "transfererror.h"

#include <curl/curl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
    std::string caFile; // the certificate authorities to trust; empty: the system's
};

// The certificate authorities every later https transfer trusts.
void SetCaFile(std::string path);
std::string CaFile();

// A body buffer above this pauses the transfer until the reader drains it
// below kResumeBelow: a slow reader must not make us hold a whole reply.
inline constexpr std::size_t kPauseAbove = 1024 * 1024;
inline constexpr std::size_t kResumeBelow = kPauseAbove / 2;

// The state of one transfer that the caller's thread and the transfer thread
// share. The caller waits on it; the transfer thread feeds it from libcurl's
// callbacks.
class Transfer
{
public:
    explicit Transfer(TransferOrder order) : m_order(std::move(order)) {}
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
    void cancel();

    // --- the transfer thread's side ---
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    void attach(CURL* easy) { m_easy = easy; }
    void finish(CURLcode result, const char* errorText, long osErrno = 0);

private:
    TransferError failure() const;
    bool failed() const;
    bool succeeded(CURLcode rc) const;
    void headersFinal();
    std::size_t pending() const { return m_body.size() - m_bodyPos; }

    const TransferOrder m_order;
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
    CURLcode m_result = CURLE_OK;
    std::string m_errorText;
    long m_osErrno = 0;
};

} // namespace inet
