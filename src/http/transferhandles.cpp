// TTransferHandles: the three layer handles of one transfer, closed exactly once.

#include "transferhandles.h"

#include "stringhelpers.h"
#include "workerthread.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

void TTransferHandles::Close()
{
    for (auto* field : {&Request, &Connection, &Root}) {
        const HINTERNET handle = field->exchange(NullHandle);
        if (handle != NullHandle)
            InternetCloseHandle(handle);
    }
}

bool OpenRequest(TTransferHandles& Handles, const TTransferRequest& Request,
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
    if (Request.SiteStart)
        flags |= INTERNET_FLAG_SITE_START;
    // HTTP/1.1: the layer keeps connections alive and reads chunked replies.
    Handles.Request = HttpOpenRequestA(
        Handles.Connection.load(), Request.PostQuery.empty() ? "GET" : "POST",
        Request.Target.c_str(), "HTTP/1.1", Request.Referer.c_str(), acceptList, flags, 0);
    if (Handles.Request.load() == NullHandle || Worker.Terminated())
        return false;
    if (!Request.RedirectHost.empty() &&
        !InternetSetOptionA(Handles.Request.load(), INTERNET_OPTION_REDIRECT_HOST,
                            Request.RedirectHost.data(),
                            static_cast<std::uint32_t>(Request.RedirectHost.size())))
        return false;
    return (Request.TimeOutMs == 0 ||
            InternetSetOptionA(Handles.Request.load(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                               &Request.TimeOutMs, sizeof(Request.TimeOutMs))) &&
           (Request.ReadTimeOutMs == 0 ||
            InternetSetOptionA(Handles.Request.load(), INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                               &Request.ReadTimeOutMs, sizeof(Request.ReadTimeOutMs)));
}

std::uint32_t ReadTimeOutMs(Integer ReadSeconds, Integer TimeOutSeconds)
{
    const std::uint32_t read = TimeOutMs(ReadSeconds);
    const std::uint32_t whole = TimeOutMs(TimeOutSeconds);
    return read == 0 || whole == 0 ? read : std::min(read, whole);
}

std::uint32_t TimeOutMs(Integer Seconds)
{
    constexpr Integer kLongest = 4'000'000; // what milliseconds in 32 bits hold
    return Seconds > 0 ? static_cast<std::uint32_t>(std::min(Seconds, kLongest)) * 1000U : 0U;
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
