// TransferError: how one transfer failed, from the transfer core to the views.

#pragma once

#include <string>

// What went wrong with a transfer, as one value: the kind decides every word
// and number shown for it; the status and the library's text ride along.
struct TransferError
{
    enum class Kind
    {
        None,
        Dns,           // the host name has no address
        Refused,       // nothing listens on the port
        Unreachable,   // no route to the host or its network
        Connect,       // the connection failed otherwise
        Timeout,       // the transfer outlived its time limit
        Tls,           // the secure channel failed
        Certificate,   // the server's certificate is not trusted
        Closed,        // the server ended the connection early
        TooLarge,      // the body outgrew the cap
        BadReply,      // the reply broke the protocol
        MissingHeader, // a header the caller requires is absent
        EmptyBody,     // a page with no bytes at all
        Redirect,      // too many or unusable redirects
        BadAddress,    // the address cannot be fetched
        HttpStatus,    // the server answered with an error status
        Cancelled,     // stopped by the caller
        File,          // the body could not be written to its file
        Internal,      // anything else
    };

    Kind kind = Kind::None;
    int status = 0;     // HttpStatus: the reply's status
    std::string detail; // the library's own words, for logs and the layer's text

    bool failed() const { return kind != Kind::None; }
};

// The short word a results column shows ("refused", "timeout", "404").
std::string FailureWord(const TransferError& error);
// The phrase a message shows ("Connection refused").
std::string FailureReason(const TransferError& error);
