// The crawl's fetch controller (TKsHttpGet): one address at a time, with a state and events.

#pragma once

#include "crackurl.h"
#include "nqtypes.h"
#include "transferworker.h"

#include <QObject>
#include <QPointer>

#include <memory>

enum TKsHttpGetState
{
    GETHTTP_CREATING = 0,
    GETHTTP_WAITING = 1,
    GETHTTP_GETTING = 2,
    GETHTTP_KILLING = 3,
    GETHTTP_OK = 4,
    GETHTTP_ERROR = 5,
};

enum TKsHttpGetRequest
{
    GETHTTP_HEAD = 0,
    GETHTTP_BODY = 1,
};

using TOnFileComplete = TEvent<const String& /*FileName*/, Integer /*ContentLength*/>;
using TOnHeadComplete =
    TEvent<const String& /*Head*/, const String& /*FContentType*/, Integer /*FContentLength*/>;
using TOnDataComplete = TEvent<const String& /*Result*/>;
using TOnError = TEvent<Cardinal /*ErrorCode*/, const String& /*ErrorMsg*/>;

// Runs one HTTP transfer at a time on a worker thread and shows its outcome
// as a state that the owner polls. Everything here runs on the UI thread.
class TKsHttpGet : public QObject
{
    Q_OBJECT

public:
    explicit TKsHttpGet(QObject* Owner = nullptr);
    // A running transfer is stopped and its worker detached: it frees
    // itself and reports to no one.
    ~TKsHttpGet() override;

    // Published properties.
    Integer TimeOut = 300;       // seconds
    Integer ReadTimeOut = 30;    // seconds without a byte, or to the whole headers; 0: none
    Cardinal ConnectTimeOut = 0; // tick count at which the running transfer times out
    String AcceptTypes;          // stored only: transfers accept "*/*"
    String Agent = "Quillbox HTTPGet";
    bool ReuseCache = false;
    String FileName;
    String UserName;  // stored only: credentials come from CrackUrl
    String Password;  // stored only
    String PostQuery; // stored only: transfers are GET requests
    String Referer;
    // Further request header lines for the next transfer, CR LF apart.
    String ExtraHeaders;
    // Non-empty: redirects are followed only to this host; a page whose
    // redirect leads elsewhere ends with that 3xx, and RedirectTarget says where.
    String RedirectHost;
    bool Wait = false;
    TKsHttpGetState State() const { return m_state; }
    TKsHttpGetRequest Request = GETHTTP_BODY;
    Integer StatusCode() const { return m_statusCode; }
    const String& Head() const { return m_head; }
    const String& Body() const { return m_body; }
    // The body, leaving none behind.
    String TakeBody() { return std::move(m_body); }
    // The final address, after redirects, of the last page received.
    const String& EffectiveUrl() const { return m_effectiveUrl; }
    // Where the last page's redirect, not followed, leads; empty otherwise.
    const String& RedirectTarget() const { return m_redirectTarget; }
    TOnFileComplete OnFileComplete;
    TOnHeadComplete OnHeadComplete;
    TOnDataComplete OnDataComplete;
    // The last failure; ErrorCode and ErrorMsg are the layer's number and
    // the library's text of it.
    const TransferError& Error() const { return m_error; }
    Cardinal ErrorCode() const { return m_errorCode; }
    const String& ErrorMsg() const { return m_errorMsg; }
    TOnError OnError;

    // Public fields.
    TCrackUrl CrackUrl;
    THTTPGetThread* Worker() const { return m_worker.data(); }
    bool Busy = false;
    String FContentType;
    Integer FContentLength = 0;
    // The crawler's bookkeeping for the address being fetched.
    Integer Level = 1;
    Integer Tries = 0;
    Integer CountArea = 0;
    char LinkKind = ' ';
    // The site's start page: where its redirects lead gets the site's access.
    bool SiteStart = false;

    void StartGet(TKsHttpGetRequest ARequest);
    // Ends in GETHTTP_OK with this reply, as if the address had answered
    // it: a copy kept from an earlier fetch stands in for a transfer.
    void Answer(Integer status, String head, String body, String effectiveUrl);
    // The last reply came from Answer; no request was made for it.
    bool Kept = false;
    void KillGet();
    void SetWaiting() { m_state = GETHTTP_WAITING; }

private:
    void ThreadDone(THTTPGetThread* worker);

    TKsHttpGetState m_state = GETHTTP_CREATING;
    Integer m_statusCode = 0;
    String m_head;
    String m_body;
    String m_effectiveUrl;
    String m_redirectTarget;
    TransferError m_error;
    Cardinal m_errorCode = 0;
    String m_errorMsg;
    QPointer<THTTPGetThread> m_worker;
};
