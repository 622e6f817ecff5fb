// TTransferHandles: the three layer handles of one transfer, closed exactly once.

#pragma once

#include "nqtypes.h"
#include "internetaccess.h"

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
    bool Reload = true;
    std::uint32_t TimeOutMs = 0; // the whole transfer; 0: no bound
};

// Opens the handles into Handles, applies the options and sends the request.
// The stop request is checked after each handle is stored, so a Kill that
// closes the handles while one is being opened still ends the worker. False
// when a step failed or a stop was asked for; the caller closes the handles.
bool OpenAndSend(TTransferHandles& Handles, const TTransferRequest& Request,
                 const TWorkerThread& Worker);

// Asks for one header of the sent request into Buffer, which grows when the
// text does not fit (a header block may be far beyond its first size).
bool QueryHeader(HINTERNET Request, std::uint32_t Level, String& Buffer, String* Value);

enum class TLengthHeader
{
    Absent,
    Valid,
    Invalid, // not a decimal number, or announced twice with different values
};

// The Content-Length of the sent request as the layer answers it (none for
// an encoded body), checked against every such line of the raw header block
// Head, since a reply that announces two different lengths has none.
TLengthHeader ContentLengthOf(HINTERNET Request, const String& Head, String& Buffer,
                              Integer* Value);

// Appends a chunk of a body held in memory. A body that outgrows its room
// past 1 MiB gets room up to the layer's cap at once: pages it never fills
// cost no memory, where regrowing would hold old and new copies together.
void AppendBody(String& Body, const char* Data, std::size_t Size);

// The address of the final reply after redirects; empty when the request
// has none.
String QueryEffectiveUrl(HINTERNET Request);

// The request target of an address: the path the caller decoded, and the
// query as the address spells it (decoding it would change its meaning, and
// a decoded "#" would cut it), without any fragment.
String RequestTarget(const String& Path, const String& Address);
