// TTransferHandles: the three layer handles of one transfer, closed exactly once.

#pragma once

#include "internetaccess.h"
#include "nqtypes.h"

#include <atomic>

class TWorkerThread;

// The three library handles of one transfer. Either thread may close them:
// each is taken out of its field and closed in one step, so it is closed
// exactly once, at the latest when the trio goes away.
class TTransferHandles
{
public:
    TTransferHandles() = default;
    ~TTransferHandles() { Close(); }
    TTransferHandles(const TTransferHandles&) = delete;
    TTransferHandles& operator=(const TTransferHandles&) = delete;

    // Request, connection, root.
    void Close();

    std::atomic<HINTERNET> Root{NullHandle};
    std::atomic<HINTERNET> Connection{NullHandle};
    std::atomic<HINTERNET> Request{NullHandle};
};

// What one request sends, whichever worker runs it.
struct TTransferRequest
{
    String Agent; // empty: none
    String Host;
    INTERNET_PORT Port = INTERNET_DEFAULT_HTTP_PORT;
    bool Secure = false;
    String UserName;
    String Password;
    String Target; // path and query, never a fragment
    String AcceptTypes;
    String Referer;
    String PostQuery; // non-empty: a form POST
    // Further request header lines, CR LF apart ("If-None-Match: ..."); a
    // 304 reply to them is a success without a body.
    String ExtraHeaders;
    bool Reload = true;
    bool SiteStart = false;      // the site's start page: its redirects move the site
    std::uint32_t TimeOutMs = 0; // the whole transfer; 0: no bound
    // A silence this long, or headers not complete by then; 0: no bound.
    std::uint32_t ReadTimeOutMs = 0;
    // Non-empty: redirects are followed only to this host; one elsewhere is
    // the reply, unfollowed (INTERNET_OPTION_REDIRECT_HOST).
    String RedirectHost;
};

// Opens the handles into Handles and applies the options, ready for the
// send. The stop request is checked after each handle is stored, so a Kill
// that closes the handles while one is being opened still ends the worker.
// False when a step failed or a stop was asked for; the caller closes the
// handles.
bool OpenRequest(TTransferHandles& Handles, const TTransferRequest& Request,
                 const TWorkerThread& Worker);

// A limit in seconds as the layer takes it, in milliseconds; 0 or less: no
// limit.
std::uint32_t TimeOutMs(Integer Seconds);
// The read limit a transfer gets: ReadSeconds, never beyond the whole
// transfer's limit TimeOutSeconds; in milliseconds, 0 for none.
std::uint32_t ReadTimeOutMs(Integer ReadSeconds, Integer TimeOutSeconds);

// The form header of a POST request.
inline constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

// The request target of an address: the path the caller decoded, and the
// query as the address spells it (decoding it would change its meaning, and
// a decoded "#" would cut it), without any fragment.
String RequestTarget(const String& Path, const String& Address);
