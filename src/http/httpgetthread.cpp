#include "httpgetthread.h"

#include "messagebox.h"
#include "stringhelpers.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <memory>

namespace {

constexpr std::uint32_t kHeaderBuffer = 4096;
constexpr std::uint32_t kReadChunk = 1025;
constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

} // namespace

THTTPGetThread::THTTPGetThread(const TCrackUrl& Url)
    : m_scheme(Url.Scheme), m_host(Url.HostName), m_port(Url.Port), m_userName(Url.UserName),
      m_password(Url.Password), m_path(Url.UrlPath)
{}

void THTTPGetThread::CloseHandles()
{
    CloseEach({&RequestHandle, &ConnectHandle, &RootHandle});
}

bool THTTPGetThread::failRun()
{
    std::array<char, 4096> text{};
    std::uint32_t length = static_cast<std::uint32_t>(text.size());
    Cardinal code = 0;
    if (InternetGetLastResponseInfoA(&code, text.data(), &length))
        return failRun(code, String(text.data(), length));
    return failRun(0, String());
}

bool THTTPGetThread::failRun(Cardinal code, const String& text)
{
    // A stop request outweighs whatever the library said about the call it
    // interrupted.
    if (Terminated()) {
        code = ERROR_INTERNET_OPERATION_CANCELLED;
        ErrorMsg = "The transfer was stopped";
    } else {
        ErrorMsg = text;
    }
    ErrorCode = code;
    HasErrorInfo = true;
    CloseHandles();
    Success = false;
    return false;
}

bool THTTPGetThread::queryText(std::uint32_t level, char* buffer, String* value)
{
    std::uint32_t size = kHeaderBuffer;
    std::uint32_t index = 0;
    if (!HttpQueryInfoA(RequestHandle.load(), level, buffer, &size, &index))
        return false;
    *value = String(buffer, size);
    return true;
}

void THTTPGetThread::Execute()
{
    Success = true;
    CFile file;
    try {
        RootHandle = InternetOpenA(Agent.empty() ? nullptr : Agent.c_str(),
                                   INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (RootHandle.load() == NullHandle || Terminated()) {
            failRun();
            return;
        }
        ConnectHandle =
            InternetConnectA(RootHandle.load(), m_host.c_str(), m_port, m_userName.c_str(),
                             m_password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
        if (ConnectHandle.load() == NullHandle || Terminated()) {
            failRun();
            return;
        }
        const String accept = "Accept: " + AcceptTypes;
        if (Terminated()) {
            failRun();
            return;
        }
        const char* acceptList[] = {accept.c_str(), nullptr};
        std::uint32_t flags = ReuseCache ? 0 : INTERNET_FLAG_RELOAD;
        if (m_scheme == "https")
            flags |= INTERNET_FLAG_SECURE;
        RequestHandle =
            HttpOpenRequestA(ConnectHandle.load(), PostQuery.empty() ? "GET" : "POST",
                             m_path.c_str(), "HTTP/1.0", Referer.c_str(), acceptList, flags, 0);
        if (RequestHandle.load() == NullHandle || Terminated()) {
            failRun();
            return;
        }
        const bool sent =
            PostQuery.empty()
                ? HttpSendRequestA(RequestHandle.load(), nullptr, 0, nullptr, 0)
                : HttpSendRequestA(RequestHandle.load(), kFormHeader, sizeof(kFormHeader) - 1,
                                   PostQuery.data(), static_cast<std::uint32_t>(PostQuery.size()));
        if (!sent || Terminated()) {
            failRun();
            return;
        }

        std::array<char, kHeaderBuffer> buffer{};
        if (!queryText(HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &Head) || Terminated()) {
            failRun();
            return;
        }
        String status;
        if (!queryText(HTTP_QUERY_STATUS_CODE, buffer.data(), &status) || Terminated()) {
            failRun();
            return;
        }
        const auto [statusEnd, statusError] =
            std::from_chars(status.data(), status.data() + status.size(), StatusCode);
        if (statusError != std::errc() || statusEnd != status.data() + status.size()) {
            failRun(ERROR_HTTP_INVALID_SERVER_RESPONSE, "The status code is not a number");
            return;
        }
        if (!queryText(HTTP_QUERY_CONTENT_TYPE, buffer.data(), &ContentType) || Terminated()) {
            failRun();
            return;
        }
        String length;
        ContentLength = 0;
        if (queryText(HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &length)) {
            const auto [end, error] =
                std::from_chars(length.data(), length.data() + length.size(), ContentLength);
            if (error != std::errc() || end != length.data() + length.size()) {
                failRun(ERROR_HTTP_INVALID_SERVER_RESPONSE, "The Content-Length is not a number");
                return;
            }
        }
        if (Terminated()) {
            failRun();
            return;
        }

        TotalRead = 0;
        const bool toFile = !FileName.empty();
        if (toFile) {
            file.reset(std::fopen(FileName.c_str(), "wb"));
            if (!file) {
                ShowMessageBox("unable to write to file " + FileName, TMsgKind::Error);
                failRun(0, "unable to write to file " + FileName);
                return;
            }
        } else {
            Body.clear();
        }

        std::array<char, kReadChunk> chunk{};
        for (;;) {
            if (Terminated()) {
                failRun();
                return;
            }
            std::uint32_t count = 0;
            if (!InternetReadFile(RequestHandle.load(), chunk.data(), kReadChunk, &count)) {
                failRun();
                return;
            }
            if (count == 0)
                break;
            if (toFile) {
                if (std::fwrite(chunk.data(), 1, count, file.get()) != count) {
                    failRun(0, "unable to write to file " + FileName);
                    return;
                }
            } else {
                Body.append(chunk.data(), count);
            }
            TotalRead += static_cast<Integer>(count);
        }
        if (Terminated()) {
            failRun();
            return;
        }

        if (toFile) {
            const bool closed = std::fclose(file.release()) == 0;
            Success = closed && TotalRead == ContentLength;
            if (!closed) {
                failRun(0, "unable to write to file " + FileName);
                return;
            }
            if (!Success) {
                failRun(0, "The body has " + std::to_string(TotalRead) + " of " +
                               std::to_string(ContentLength) + " bytes");
                return;
            }
        } else {
            Success = TotalRead > 0;
            if (!Success) {
                failRun(0, "The reply has an empty body");
                return;
            }
        }
        CloseHandles();
    } catch (const std::exception& e) {
        failRun(ERROR_INTERNET_INTERNAL_ERROR, e.what());
    }
}
