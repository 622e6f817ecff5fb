// The page fetch component (THTTPGet): one download into memory or a file.

#include "pagefetch.h"

#include "crackurl.h"
#include "lasterror.h"
#include "messagebox.h"
#include "scopeexit.h"
#include "stringhelpers.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>

THTTPGet::THTTPGet(QObject* Owner) : QObject(Owner) {}

THTTPGet::~THTTPGet()
{
    Cancel();
    detachWorker();
}

void THTTPGet::detachWorker()
{
    if (pagefetch::THTTPGetThread* worker = m_worker.data()) {
        worker->OnTerminate = nullptr;
        worker->Progress = nullptr;
        worker->Kill();
    }
    m_worker = nullptr;
}

namespace {

// The request of an address: its scheme, host, port, path and query (never
// a fragment); one named without a scheme is taken as http. Credentials come
// from the component, never from the address.
bool requestOf(const String& url, TTransferRequest* request)
{
    TCrackUrl parts;
    if (!parts.Crack(url.find("://") == String::npos ? "http://" + url : url))
        return false;
    request->Host = parts.HostName;
    request->Port = parts.Port;
    request->Secure = parts.Scheme.Text() == "https";
    request->Target = RequestTarget(parts.UrlPath, parts.Url());
    return true;
}

} // namespace

void THTTPGet::DownloadFile()
{
    if (m_worker) {
        // A cancelled worker that a stalled server still holds must not
        // delay the next page; inside the completion it is nearly gone.
        if (!m_worker->Terminated() || m_completing)
            return;
        detachWorker();
    }
    auto* worker = new pagefetch::THTTPGetThread; // frees itself when done
    TTransferRequest& request = worker->Request;
    // An address that does not decompose leaves no host: the layer refuses
    // it as it refuses any address it cannot use.
    requestOf(URL, &request);
    request.Agent = Agent;
    request.UserName = UserName;
    request.Password = Password;
    request.AcceptTypes = AcceptTypes;
    request.Referer = Referer;
    request.RedirectHost = RedirectHost;
    request.PostQuery = PostQuery;
    request.Reload = !UseCache;
    request.TimeOutMs = TimeOutMs(TimeOut);
    request.ReadTimeOutMs = ReadTimeOutMs(ReadTimeOut, TimeOut);
    worker->FileName = FileName;
    worker->LengthRequired = BinaryData;
    worker->Progress = OnProgress;
    m_worker = worker;
    worker->OnTerminate = [this](TObject* sender) {
        ThreadDone(static_cast<pagefetch::THTTPGetThread*>(sender));
    };
    worker->Resume();

    if (WaitThread) {
        const QPointer<THTTPGet> alive(this);
        while (alive && m_worker == worker)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void THTTPGet::Cancel()
{
    if (pagefetch::THTTPGetThread* worker = m_worker.data()) {
        worker->Terminate();
        worker->Success = false;
    }
}

void THTTPGet::ThreadDone(pagefetch::THTTPGetThread* worker)
{
    // Cleared only after the event returns, so a DownloadFile from inside it
    // is ignored; cleared even when the handler throws.
    m_completing = true;
    const ScopeExit clearWorker([this] {
        m_completing = false;
        m_worker = nullptr;
    });

    m_statusCode = worker->StatusCode;
    m_head = worker->Head;
    m_effectiveUrl = worker->EffectiveUrl;
    m_redirectTarget = worker->RedirectTarget;
    // A Cancel that came after the run's last check still counts.
    const bool success = worker->Success && !worker->Terminated();
    m_error = TransferError{};
    if (!success)
        m_error = worker->Error.failed() ? worker->Error
                                         : TransferError{TransferError::Kind::Cancelled, 0,
                                                         "The transfer was stopped"};
    m_errorCode = inet::ErrorNumber(m_error);
    m_errorMsg = m_error.detail;
    if (!success)
        Fire(OnError, this);
    else if (!worker->FileName.empty())
        Fire(OnDoneFile, this, worker->FileName,
             worker->HasLength ? worker->ContentLength : worker->TotalRead);
    else
        Fire(OnDoneString, this, worker->Body);
}
