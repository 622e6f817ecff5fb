// TTransferHandles: the three layer handles of one transfer, closed exactly once.

#include "transferhandles.h"

#include "stringhelpers.h"
#include "workerthread.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace {

constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

} // namespace

void TTransferHandles::Close()
{
    for (auto* field : {&Request, &Connection, &Root}) {
        const HINTERNET handle = field->exchange(NullHandle);
        if (handle != NullHandle)
            InternetCloseHandle(handle);
    }
}

bool OpenAndSend(TTransferHandles& Handles, const TTransferRequest& Request,
                 const TWorkerThread& Worker)
{
    Handles.Root = InternetOpenA(Request.Agent.empty() ? nullptr : Request.Agent.c_str(),
                                 INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (Handles.Root.load() == NullHandle || Worker.Terminated())
        return false;
    Handles.Connection = InternetConnectA(Handles.Root.load(), Request.Host.c_str(), Request.Port,
                                          Request.UserName.c_str(), Request.Password.c_str(),
                                          INTERNET_SERVICE_HTTP, 0, 0);
    if (Handles.Connection.load() == NullHandle || Worker.Terminated())
        return false;
    const String accept = "Accept: " + Request.AcceptTypes;
    const char* acceptList[] = {accept.c_str(), nullptr};
    std::uint32_t flags = Request.Reload ? INTERNET_FLAG_RELOAD : 0;
    if (Request.Secure)
        flags |= INTERNET_FLAG_SECURE;
    // HTTP/1.1: the layer keeps connections alive and reads chunked replies.
    Handles.Request = HttpOpenRequestA(
        Handles.Connection.load(), Request.PostQuery.empty() ? "GET" : "POST",
        Request.Target.c_str(), "HTTP/1.1", Request.Referer.c_str(), acceptList, flags, 0);
    if (Handles.Request.load() == NullHandle || Worker.Terminated())
        return false;
    const HINTERNET request = Handles.Request.load();
    if (Request.TimeOutMs > 0 && !InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT,
                                                     &Request.TimeOutMs, sizeof(Request.TimeOutMs)))
        return false;
    const bool sent = Request.PostQuery.empty()
                          ? HttpSendRequestA(request, nullptr, 0, nullptr, 0)
                          : HttpSendRequestA(request, kFormHeader, sizeof(kFormHeader) - 1,
                                             Request.PostQuery.data(),
                                             static_cast<std::uint32_t>(Request.PostQuery.size()));
    return sent && !Worker.Terminated();
}

bool QueryHeader(HINTERNET Request, std::uint32_t Level, String& Buffer, String* Value)
{
    for (;;) {
        std::uint32_t size = static_cast<std::uint32_t>(Buffer.size());
        std::uint32_t index = 0;
        if (HttpQueryInfoA(Request, Level, Buffer.data(), &size, &index)) {
            Value->assign(Buffer.data(), size);
            return true;
        }
        std::array<char, 256> text{};
        std::uint32_t length = static_cast<std::uint32_t>(text.size());
        Cardinal code = 0;
        InternetGetLastResponseInfoA(&code, text.data(), &length);
        if (code != ERROR_INSUFFICIENT_BUFFER || size <= Buffer.size())
            return false;
        Buffer.resize(size);
    }
}

namespace {

bool parseLength(std::string_view text, Integer* value)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return !text.empty() && text.front() != '-' && error == std::errc() &&
           last == text.data() + text.size();
}

} // namespace

TLengthHeader ContentLengthOf(HINTERNET Request, const String& Head, String& Buffer, Integer* Value)
{
    String text;
    if (!QueryHeader(Request, HTTP_QUERY_CONTENT_LENGTH, Buffer, &text))
        return TLengthHeader::Absent;
    if (!parseLength(text, Value))
        return TLengthHeader::Invalid;
    constexpr std::string_view kName = "content-length:";
    std::size_t pos = Head.find("\r\n");
    while (pos != String::npos) {
        pos += 2;
        const std::size_t end = Head.find("\r\n", pos);
        const std::string_view line(Head.data() + pos,
                                    (end == String::npos ? Head.size() : end) - pos);
        pos = end;
        Integer other = 0;
        if (StartsWithNoCase(line, kName) &&
            (!parseLength(line.substr(kName.size()), &other) || other != *Value))
            return TLengthHeader::Invalid;
    }
    return TLengthHeader::Valid;
}

void AppendBody(String& Body, const char* Data, std::size_t Size)
{
    constexpr std::size_t kSmallBody = 1024 * 1024;
    const std::size_t needed = Body.size() + Size;
    if (needed > Body.capacity() && needed > kSmallBody)
        Body.reserve(std::max<std::size_t>(needed, kMaxReplyBody));
    Body.append(Data, Size);
}

String QueryEffectiveUrl(HINTERNET Request)
{
    String url(1024, '\0');
    std::uint32_t size = static_cast<std::uint32_t>(url.size());
    if (!InternetQueryOptionA(Request, INTERNET_OPTION_URL, url.data(), &size)) {
        if (size <= url.size())
            return String();
        url.resize(size);
        if (!InternetQueryOptionA(Request, INTERNET_OPTION_URL, url.data(), &size))
            return String();
    }
    url.resize(size);
    return url;
}

String RequestTarget(const String& Path, const String& Address)
{
    String target = Path.empty() ? String("/") : Path;
    const auto end = Address.find('#');
    const auto query = Address.find('?');
    if (query != String::npos && query < end)
        target += Address.substr(query, end == String::npos ? String::npos : end - query);
    return target;
}
