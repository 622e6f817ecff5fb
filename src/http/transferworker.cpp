// THTTPGetThread: one transfer of a fetch controller on a worker.

#include "transferworker.h"

#include "lasterror.h"
#include "messagebox.h"
#include "stringhelpers.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace {

constexpr std::size_t kHeaderBuffer = 4096;
constexpr std::uint32_t kReadChunk = 1025;

} // namespace

THTTPGetThread::THTTPGetThread(const TCrackUrl& Url) : m_buffer(kHeaderBuffer, '\0')
{
    m_request.Host = Url.HostName;
    m_request.Port = Url.Port;
    m_request.Secure = Url.Scheme.Text() == "https";
    m_request.UserName = Url.UserName;
    m_request.Password = Url.Password;
    m_request.Target = RequestTarget(Url.UrlPath, Url.Url());
}

bool THTTPGetThread::failRun()
{
    return failRun(inet::LastFailure().error);
}

bool THTTPGetThread::failRun(TransferError error)
{
    // A stop request outweighs whatever the library said about the call it
    // interrupted.
    if (Terminated())
        error = {TransferError::Kind::Cancelled, 0, "The transfer was stopped"};
    Error = std::move(error);
    Handles.Close();
    Success = false;
    return false;
}

bool THTTPGetThread::queryText(std::uint32_t level, String* value)
{
    return QueryHeader(Handles.Request.load(), level, m_buffer, value);
}

void THTTPGetThread::Execute()
{
    Success = true;
    try {
        m_request.Agent = Agent;
        m_request.AcceptTypes = AcceptTypes;
        m_request.Referer = Referer;
        m_request.PostQuery = PostQuery;
        m_request.Reload = !ReuseCache;
        if (!OpenAndSend(Handles, m_request, *this)) {
            failRun();
            return;
        }
        EffectiveUrl = QueryEffectiveUrl(Handles.Request.load());
        if (!queryText(HTTP_QUERY_RAW_HEADERS_CRLF, &Head) || Terminated()) {
            failRun();
            return;
        }
        String status;
        if (!queryText(HTTP_QUERY_STATUS_CODE, &status) || Terminated()) {
            failRun();
            return;
        }
        const auto [statusEnd, statusError] =
            std::from_chars(status.data(), status.data() + status.size(), StatusCode);
        if (statusError != std::errc() || statusEnd != status.data() + status.size()) {
            failRun({TransferError::Kind::BadReply, 0, "The status code is not a number"});
            return;
        }
        if (!queryText(HTTP_QUERY_CONTENT_TYPE, &ContentType) || Terminated()) {
            failRun();
            return;
        }
        ContentLength = 0;
        const TLengthHeader length =
            ContentLengthOf(Handles.Request.load(), Head, m_buffer, &ContentLength);
        if (length == TLengthHeader::Invalid) {
            failRun({TransferError::Kind::BadReply, 0, "The Content-Length is not one number"});
            return;
        }
        const bool hasLength = length == TLengthHeader::Valid;
        // The layer would refuse the body at its cap anyway; no need to
        // take it in first.
        if (hasLength && static_cast<std::uint64_t>(ContentLength) > kMaxReplyBody) {
            failRun({TransferError::Kind::TooLarge, 0, "The reply announces more than 64 MiB"});
            return;
        }
        if (Terminated()) {
            failRun();
            return;
        }
        if (readBody(hasLength))
            Handles.Close();
    } catch (const std::exception& e) {
        failRun({TransferError::Kind::Internal, 0, e.what()});
    }
}

bool THTTPGetThread::readBody(bool hasLength)
{
    TotalRead = 0;
    const bool toFile = !FileName.empty();
    CFile file;
    if (toFile) {
        file.reset(std::fopen(FileName.c_str(), "wb"));
        if (!file) {
            ShowMessageBox("unable to write to file " + FileName, TMsgKind::Error);
            return failRun({TransferError::Kind::File, 0, "unable to write to file " + FileName});
        }
    } else {
        Body.clear();
        // The announced size, when the layer would deliver it at all, saves
        // the regrowing copies of a large body.
        if (hasLength)
            Body.reserve(static_cast<std::size_t>(ContentLength));
    }

    std::array<char, kReadChunk> chunk{};
    for (;;) {
        if (Terminated())
            return failRun();
        std::uint32_t count = 0;
        if (!InternetReadFile(Handles.Request.load(), chunk.data(), kReadChunk, &count))
            return failRun();
        if (count == 0)
            break;
        if (toFile) {
            if (std::fwrite(chunk.data(), 1, count, file.get()) != count)
                return failRun(
                    {TransferError::Kind::File, 0, "unable to write to file " + FileName});
        } else {
            AppendBody(Body, chunk.data(), count);
        }
        TotalRead += static_cast<Integer>(count);
    }
    if (Terminated())
        return failRun();
    if (toFile && std::fclose(file.release()) != 0)
        return failRun({TransferError::Kind::File, 0, "unable to write to file " + FileName});

    // Without a Content-Length (chunked or ended by the close) the body is
    // what arrived; an announced length must be met.
    if (hasLength && TotalRead != ContentLength)
        return failRun({TransferError::Kind::Closed, 0,
                        "The body has " + std::to_string(TotalRead) + " of " +
                            std::to_string(ContentLength) + " bytes"});
    if (!toFile && TotalRead == 0)
        return failRun({TransferError::Kind::EmptyBody, 0, "The reply has an empty body"});
    return true;
}
