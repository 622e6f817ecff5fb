// The crawl's fetch controller (TKsHttpGet): one address at a time, with a state and events.

#include "fetchcontroller.h"

#include "lasterror.h"
#include "messagebox.h"
#include "scopeexit.h"
#include "tickcount.h"
#include "transferworker.h"

#include <QCoreApplication>

TKsHttpGet::TKsHttpGet(QObject* Owner) : QObject(Owner)
{
    m_state = GETHTTP_WAITING;
}

TKsHttpGet::~TKsHttpGet()
{
    if (THTTPGetThread* worker = m_worker.data()) {
        worker->OnTerminate = nullptr;
        worker->Terminate();
        worker->Kill();
    }
}

void TKsHttpGet::StartGet(TKsHttpGetRequest ARequest)
{
    if (!CrackUrl.Valid()) {
        ShowMessageBox("invalid url : " + CrackUrl.Url(), TMsgKind::Error);
        return;
    }
    m_state = GETHTTP_GETTING;
    Request = ARequest;
    Kept = false;
    if (Busy) {
        ShowMessageBox("thread deja assigne : " + CrackUrl.Url(), TMsgKind::Error);
        return;
    }
    ConnectTimeOut = GetTickCount() + static_cast<Cardinal>(TimeOut) * 1000U;
    Busy = true;

    auto* worker = new THTTPGetThread(CrackUrl); // frees itself when done
    m_worker = worker;
    worker->Request.Agent = Agent;
    worker->Request.Referer = Referer;
    worker->Request.ExtraHeaders = ExtraHeaders;
    worker->Request.RedirectHost = RedirectHost;
    worker->Request.Reload = !ReuseCache;
    worker->Request.SiteStart = SiteStart;
    // The same limit as the crawler's deadline, enforced by the layer.
    worker->Request.TimeOutMs = TimeOutMs(TimeOut);
    worker->Request.ReadTimeOutMs = ReadTimeOutMs(ReadTimeOut, TimeOut);
    worker->FileName = FileName;
    worker->OnTerminate = [this](TObject* sender) {
        ThreadDone(static_cast<THTTPGetThread*>(sender));
    };
    worker->Resume();

    if (Wait) {
        const QPointer<TKsHttpGet> alive(this);
        // Only this transfer's completion ends the wait; a controller
        // destroyed by something dispatched meanwhile ends it too.
        while (alive && Busy && m_worker == worker)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void TKsHttpGet::Answer(Integer status, String head, String body, String effectiveUrl)
{
    Request = GETHTTP_BODY;
    Kept = true;
    m_statusCode = status;
    m_head = std::move(head);
    m_body = std::move(body);
    m_effectiveUrl = std::move(effectiveUrl);
    m_error = TransferError{};
    m_state = GETHTTP_OK;
}

void TKsHttpGet::KillGet()
{
    if (!Busy) {
        ShowMessageBox("KillGet on unassigned thread : " + CrackUrl.Url(), TMsgKind::Error);
        return;
    }
    m_state = GETHTTP_KILLING;
    if (THTTPGetThread* worker = m_worker.data()) {
        worker->Terminate();
        worker->Kill();
    }
}

void TKsHttpGet::ThreadDone(THTTPGetThread* worker)
{
    if (worker->Success) {
        // The controller ends idle in its final state however the events
        // end, so a throwing handler does not leave it GETTING and not Busy.
        const ScopeExit finish([this] {
            m_state = GETHTTP_OK;
            Busy = false;
            m_worker = nullptr;
        });
        m_statusCode = worker->StatusCode;
        m_effectiveUrl = std::move(worker->EffectiveUrl);
        m_redirectTarget = std::move(worker->RedirectTarget);
        if (!worker->FileName.empty()) {
            Fire(OnFileComplete, this, worker->FileName, worker->ContentLength);
        } else {
            m_head = std::move(worker->Head);
            FContentType = std::move(worker->ContentType);
            FContentLength = worker->ContentLength;
            // Moved, not copied: a large body is held once.
            m_body = std::move(worker->Body);
            Fire(OnHeadComplete, this, m_head, FContentType, FContentLength);
            Fire(OnDataComplete, this, m_body);
        }
        return;
    }

    m_error = std::move(worker->Error);
    m_errorCode = inet::ErrorNumber(m_error);
    m_errorMsg = m_error.detail;
    m_state = GETHTTP_ERROR;
    Busy = false;
    m_worker = nullptr;
    // Raised once the controller is idle, so its handler may start again.
    Fire(OnError, this, m_errorCode, m_errorMsg);
}
