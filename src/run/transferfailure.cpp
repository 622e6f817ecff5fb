// A failed transfer put in a user's words: a status word and a reason.

#include "transferfailure.h"

#include "internetaccess.h"

namespace {

bool has(const String& text, const char* what)
{
    return text.find(what) != String::npos;
}

} // namespace

TTransferFailure DescribeTransferFailure(Cardinal errorCode, const String& errorText)
{
    switch (errorCode) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return {"dns", "Host name not found"};
    case ERROR_INTERNET_CANNOT_CONNECT:
        // libcurl gives one number for every failed connect; its text says which.
        if (has(errorText, "refused"))
            return {"refused", "Connection refused"};
        if (has(errorText, "unreachable"))
            return {"unreachable", "Network unreachable"};
        return {"connect", "Cannot connect"};
    case ERROR_INTERNET_TIMEOUT:
        return {"timeout", "Timed out"};
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return {"tls", "TLS handshake or certificate failed"};
    case ERROR_INTERNET_CONNECTION_ABORTED:
        return {"closed", "Connection closed by the server"};
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return {"bad-reply", "Invalid reply from the server"};
    case ERROR_HTTP_REDIRECT_FAILED:
        return {"redirect", "Too many or bad redirects"};
    case ERROR_INTERNET_REPLY_TOO_LARGE:
        return {"too-large", "Reply larger than 64 MiB"};
    case ERROR_INTERNET_INVALID_URL:
        return {"bad-address", "Address cannot be fetched"};
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return {"cancelled", "Cancelled"};
    default:
        return {"error", errorText.empty() ? String("Transfer failed") : errorText};
    }
}
