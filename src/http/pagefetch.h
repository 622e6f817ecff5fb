// The page fetch component (THTTPGet): one download into memory or a file.

#pragma once

#include "fetchworker.h"
#include "nqtypes.h"
#include "transfererror.h"

#include <QObject>
#include <QPointer>

using TOnDoneFileEvent = TEvent<const String& /*FileName*/, Integer /*FileSize*/>;
using TOnDoneStringEvent = TEvent<const String& /*Result*/>;
using TNotifyEvent = TEvent<>;

namespace pagefetch {

// The page-fetch component's own worker: one download into a file (or into
// memory), stopped only by a stop request. An error status fails it, and so
// does a missing Content-Length where binary data is asked for.
class THTTPGetThread final : public TFetchWorker
{
public:
    THTTPGetThread() { ErrorStatusFails = true; }
};

} // namespace pagefetch

// Downloads one address at a time into a file on a worker thread and reports
// through events on the UI thread.
class THTTPGet : public QObject
{
    Q_OBJECT

public:
    explicit THTTPGet(QObject* Owner = nullptr);
    // Cancels a running download and detaches from its worker, which ends
    // and frees itself without reporting.
    ~THTTPGet() override;

    String AcceptTypes = "*/*";
    String Agent = "Quillbox HTTPGet";
    bool BinaryData = false;
    String URL;
    bool UseCache = false;
    String FileName; // empty: the body is kept in memory for OnDoneString
    String UserName;
    String Password;
    String PostQuery;
    String Referer;
    // Non-empty: redirects are followed only to this host; a download whose
    // redirect leads elsewhere ends with that 3xx reply and no body, and
    // RedirectTarget says where.
    String RedirectHost;
    bool WaitThread = false;
    // Seconds one download may take, from the request to the body's end;
    // 0: no bound. A download that runs out ends in OnError.
    Integer TimeOut = 300;
    // Seconds without a reply byte, or until the reply's headers are
    // complete, that end a download in OnError; never beyond TimeOut; 0: no
    // bound.
    Integer ReadTimeOut = 30;
    TOnProgressEvent OnProgress; // sender: the worker
    TOnDoneFileEvent OnDoneFile;
    TOnDoneStringEvent OnDoneString;
    TNotifyEvent OnError;

    // The outcome of the last download, read once it has been reported:
    // the reply's status (0 when none arrived) and, when it failed, the
    // layer's error number and text.
    Integer StatusCode() const { return m_statusCode; }
    // The final reply's header block, failed status or not (a Retry-After).
    const String& Head() const { return m_head; }
    const TransferError& Error() const { return m_error; }
    Cardinal ErrorCode() const { return m_errorCode; }
    const String& ErrorMsg() const { return m_errorMsg; }
    // The final address after redirects; empty when no reply arrived.
    const String& EffectiveUrl() const { return m_effectiveUrl; }
    const String& RedirectTarget() const { return m_redirectTarget; }

    pagefetch::THTTPGetThread* Worker() const { return m_worker.data(); }

    void DownloadFile();
    void Cancel();

private:
    void ThreadDone(pagefetch::THTTPGetThread* worker);
    // Lets the worker end on its own, reporting to no one.
    void detachWorker();

    QPointer<pagefetch::THTTPGetThread> m_worker;
    bool m_completing = false;
    Integer m_statusCode = 0;
    String m_head;
    TransferError m_error;
    Cardinal m_errorCode = 0;
    String m_errorMsg;
    String m_effectiveUrl;
    String m_redirectTarget;
};
