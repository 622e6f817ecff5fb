// TransferError: how one transfer failed, from the transfer core to the views.

#include "transfererror.h"

namespace {

struct Words
{
    const char* word;
    const char* reason; // null: the detail, or "Transfer failed" without one
};

Words wordsOf(TransferError::Kind kind)
{
    using K = TransferError::Kind;
    switch (kind) {
    case K::Dns:
        return {"dns", "Host name not found"};
    case K::Refused:
        return {"refused", "Connection refused"};
    case K::Unreachable:
        return {"unreachable", "Network unreachable"};
    case K::Connect:
        return {"connect", "Cannot connect"};
    case K::Timeout:
        return {"timeout", "Timed out"};
    case K::Tls:
    case K::Certificate:
        return {"tls", "TLS handshake or certificate failed"};
    case K::Closed:
        return {"closed", "Connection closed by the server"};
    case K::BadReply:
        return {"bad-reply", "Invalid reply from the server"};
    case K::Redirect:
        return {"redirect", "Too many or bad redirects"};
    case K::TooLarge:
        return {"too-large", "Reply larger than 64 MiB"};
    case K::BadAddress:
        return {"bad-address", "Address cannot be fetched"};
    case K::Cancelled:
        return {"cancelled", "Cancelled"};
    case K::None:
    case K::HttpStatus:
    case K::MissingHeader:
    case K::EmptyBody:
    case K::File:
    case K::Internal:
        break;
    }
    return {"error", nullptr};
}

} // namespace

std::string FailureWord(const TransferError& error)
{
    if (error.kind == TransferError::Kind::HttpStatus)
        return std::to_string(error.status);
    return wordsOf(error.kind).word;
}

std::string FailureReason(const TransferError& error)
{
    if (error.kind == TransferError::Kind::HttpStatus)
        return "The server answered " + std::to_string(error.status);
    if (const char* reason = wordsOf(error.kind).reason)
        return reason;
    return error.detail.empty() ? std::string("Transfer failed") : error.detail;
}
