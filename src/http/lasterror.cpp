// The layer's per-thread last failure, as InternetGetLastResponseInfoA reports it.

#include "lasterror.h"

#include "internetaccess.h"

namespace inet {

namespace {
thread_local LastError t_lastError;
}

std::uint32_t ErrorNumber(const TransferError& error)
{
    using K = TransferError::Kind;
    switch (error.kind) {
    case K::None:
    case K::HttpStatus: // a reply, not a failed call
    case K::EmptyBody:
    case K::File:
        return 0;
    case K::Dns:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case K::Refused:
    case K::Unreachable:
    case K::Connect:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case K::Timeout:
        return ERROR_INTERNET_TIMEOUT;
    case K::Tls:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case K::Certificate:
        return ERROR_INTERNET_INVALID_CA;
    case K::Closed:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case K::TooLarge:
        return ERROR_INTERNET_REPLY_TOO_LARGE;
    case K::BadReply:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case K::MissingHeader:
        return ERROR_HTTP_HEADER_NOT_FOUND;
    case K::Redirect:
        return ERROR_HTTP_REDIRECT_FAILED;
    case K::BadAddress:
        return ERROR_INTERNET_INVALID_URL;
    case K::Cancelled:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case K::Internal:
        break;
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

bool Fail(TransferError error)
{
    t_lastError.code = ErrorNumber(error);
    t_lastError.error = std::move(error);
    return false;
}

bool Fail(std::uint32_t code, std::string text)
{
    t_lastError = {code, {TransferError::Kind::Internal, 0, std::move(text)}};
    return false;
}

const LastError& LastFailure()
{
    return t_lastError;
}

} // namespace inet
