// The page fetch component (THTTPGet): one download into memory or a file.

#pragma once

#include "internetaccess.h"
#include "nqtypes.h"
#include "transfererror.h"
#include "transferhandles.h"
#include "workerthread.h"

#include <QObject>
#include <QPointer>

#include <atomic>

using TOnProgressEvent = TEvent<Integer /*TotalSize*/, Integer /*Readed*/>;
using TOnDoneFileEvent = TEvent<const String& /*FileName*/, Integer /*FileSize*/>;
using TOnDoneStringEvent = TEvent<const String& /*Result*/>;
using TNotifyEvent = TEvent<>;

namespace pagefetch {

// Where SplitUrl puts an address.
struct TUrlSplit
{
    String Scheme = "http";
    String Host;
    INTERNET_PORT Port = INTERNET_DEFAULT_HTTP_PORT;
    String Path = "/"; // with the query, as the request line carries it
};

// The page-fetch component's own worker: one download into a file (or into
// memory), stopped only by a stop request.
class THTTPGetThread final : public TWorkerThread
{
public:
    THTTPGetThread() = default;

    String AcceptTypes;
    String Agent;
    String URL;
    String FileName;
    String Result;
    String UserName;
    String Password;
    String PostQuery;
    String Referer;
    bool BinaryData = false;
    bool UseCache = false;
    // Cleared by the component's Cancel from the UI thread.
    std::atomic<bool> Success{false};
    Integer FileSize = 0;
    bool ToFile = true;
    Integer TotalRead = 0;
    // Read on the UI thread only, when a progress report is delivered.
    TOnProgressEvent Progress;
    // Whether the run reports progress at all; fixed before the start.
    bool ReportsProgress = false;

    // Results beyond Success, read in the completion handler.
    Integer StatusCode = 0;
    TransferError Error;
    String EffectiveUrl;
    std::uint32_t TimeOutMs = 0;

    // Not offered to owners, whose Cancel only asks the run to stop; used
    // when the component lets go of its worker so that it ends at once.
    void Kill() { m_handles.Close(); }

protected:
    void Execute() override;

private:
    void fail();
    void fail(TransferError error);

    TTransferHandles m_handles;
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
    bool WaitThread = false;
    // Seconds one download may take, from the request to the body's end;
    // 0: no bound. A download that runs out ends in OnError.
    Integer TimeOut = 300;
    TOnProgressEvent OnProgress; // sender: the worker
    TOnDoneFileEvent OnDoneFile;
    TOnDoneStringEvent OnDoneString;
    TNotifyEvent OnError;

    // The outcome of the last download, read once it has been reported:
    // the reply's status (0 when none arrived) and, when it failed, the
    // layer's error number and text.
    Integer StatusCode() const { return m_statusCode; }
    const TransferError& Error() const { return m_error; }
    Cardinal ErrorCode() const { return m_errorCode; }
    const String& ErrorMsg() const { return m_errorMsg; }
    // The final address after redirects; empty when no reply arrived.
    const String& EffectiveUrl() const { return m_effectiveUrl; }

    pagefetch::THTTPGetThread* Worker() const { return m_worker.data(); }

    void DownloadFile();
    void Cancel();

    // Splits an address into what the request needs: the scheme and port it
    // names (http on 80 when it names none), the host, and the path with its
    // query. An address with no "/" after the host gets the path "/".
    static pagefetch::TUrlSplit SplitUrl(const String& Text);

private:
    void ThreadDone(pagefetch::THTTPGetThread* worker);
    // Lets the worker end on its own, reporting to no one.
    void detachWorker();

    QPointer<pagefetch::THTTPGetThread> m_worker;
    bool m_completing = false;
    Integer m_statusCode = 0;
    TransferError m_error;
    Cardinal m_errorCode = 0;
    String m_errorMsg;
    String m_effectiveUrl;
};
