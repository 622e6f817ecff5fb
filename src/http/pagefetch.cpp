// The page fetch component (THTTPGet): one download into memory or a file.

#include "pagefetch.h"

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

namespace pagefetch {

void THTTPGetThread::fail()
{
    fail(inet::LastFailure().error);
}

void THTTPGetThread::fail(TransferError error)
{
    if (Terminated())
        error = {TransferError::Kind::Cancelled, 0, "The transfer was stopped"};
    Error = std::move(error);
    m_handles.Close();
    Success = false;
}

void THTTPGetThread::Execute()
{
    const TUrlSplit target = THTTPGet::SplitUrl(URL);
    if (Terminated()) {
        fail();
        return;
    }

    TTransferRequest request;
    request.Agent = Agent;
    request.Host = target.Host;
    request.Port = target.Port;
    request.Secure = target.Scheme == "https";
    request.UserName = UserName;
    request.Password = Password;
    request.Target = target.Path;
    request.AcceptTypes = AcceptTypes;
    request.Referer = Referer;
    request.PostQuery = PostQuery;
    request.Reload = !UseCache;
    request.TimeOutMs = TimeOutMs;
    if (!OpenAndSend(m_handles, request, *this)) {
        fail();
        return;
    }
    EffectiveUrl = QueryEffectiveUrl(m_handles.Request.load());

    String buffer(1024, '\0');
    String head;
    String status;
    if (!QueryHeader(m_handles.Request.load(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &head) ||
        !QueryHeader(m_handles.Request.load(), HTTP_QUERY_STATUS_CODE, buffer, &status) ||
        Terminated()) {
        fail();
        return;
    }
    std::from_chars(status.data(), status.data() + status.size(), StatusCode);
    // An error page is not the page asked for.
    if (StatusCode >= 400) {
        fail({TransferError::Kind::HttpStatus, StatusCode,
              "The server answered with status " + std::to_string(StatusCode)});
        return;
    }
    const TLengthHeader length = ContentLengthOf(m_handles.Request.load(), head, buffer, &FileSize);
    if (length == TLengthHeader::Invalid) {
        fail({TransferError::Kind::BadReply, 0, "The Content-Length is not one number"});
        return;
    }
    const bool hasLength = length == TLengthHeader::Valid;
    if (hasLength && static_cast<std::uint64_t>(FileSize) > kMaxReplyBody) {
        fail({TransferError::Kind::TooLarge, 0, "The reply announces more than 64 MiB"});
        return;
    }
    if (!hasLength && BinaryData) {
        fail({TransferError::Kind::NoLength, 0, "The reply has no Content-Length"});
        return;
    }

    TotalRead = 0;
    CFile file;
    if (ToFile) {
        file.reset(std::fopen(FileName.c_str(), "wb"));
        if (!file) {
            ShowMessageBox("unable to write to file " + FileName, TMsgKind::Error);
            fail({TransferError::Kind::File, 0, "unable to write to file " + FileName});
            return;
        }
    } else {
        Result.clear();
        if (hasLength)
            Result.reserve(static_cast<std::size_t>(FileSize));
    }

    std::array<char, 1025> chunk{};
    for (;;) {
        if (Terminated()) {
            fail();
            return;
        }
        std::uint32_t count = 0;
        if (!InternetReadFile(m_handles.Request.load(), chunk.data(), 1025, &count)) {
            fail();
            return;
        }
        if (count == 0)
            break;
        if (ToFile) {
            if (std::fwrite(chunk.data(), 1, count, file.get()) != count) {
                fail({TransferError::Kind::File, 0, "unable to write to file " + FileName});
                return;
            }
        } else {
            AppendBody(Result, chunk.data(), count);
        }
        TotalRead += static_cast<Integer>(count);
        // A round trip to the UI thread per chunk costs more than the chunk.
        if (ReportsProgress)
            Synchronize([this] { Fire(Progress, this, FileSize, TotalRead); });
    }

    if (ToFile && std::fclose(file.release()) != 0) {
        fail({TransferError::Kind::File, 0, "unable to write to file " + FileName});
        return;
    }
    // Without a Content-Length (chunked or ended by the close) the body is
    // what arrived; an announced length must be met.
    if (!hasLength) {
        FileSize = TotalRead;
    } else if (TotalRead != FileSize) {
        fail({TransferError::Kind::Closed, 0,
              "The body has " + std::to_string(TotalRead) + " of " + std::to_string(FileSize) +
                  " bytes"});
        return;
    }
    Success = true;
    m_handles.Close();
}

} // namespace pagefetch

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

pagefetch::TUrlSplit THTTPGet::SplitUrl(const String& Text)
{
    pagefetch::TUrlSplit split;
    String rest = Text;
    if (StartsWithNoCase(rest, "https://")) {
        split.Scheme = "https";
        split.Port = INTERNET_DEFAULT_HTTPS_PORT;
        rest.erase(0, 8);
    } else if (StartsWithNoCase(rest, "http://")) {
        rest.erase(0, 7);
    }
    // A fragment is the browser's business and never goes on the wire.
    rest = rest.substr(0, rest.find('#'));

    const auto pathStart = rest.find_first_of("/?");
    String host = rest.substr(0, pathStart);
    if (pathStart != String::npos) {
        split.Path = rest.substr(pathStart);
        if (split.Path.front() == '?')
            split.Path.insert(0, "/");
    }
    // Credentials come from UserName and Password, never from the address.
    const auto at = host.rfind('@');
    if (at != String::npos)
        host.erase(0, at + 1);
    const auto colon = host.rfind(':');
    const auto bracket = host.rfind(']');
    if (colon != String::npos && (bracket == String::npos || colon > bracket)) {
        unsigned int port = 0;
        const char* first = host.data() + colon + 1;
        const char* last = host.data() + host.size();
        const auto [end, error] = std::from_chars(first, last, port);
        if (error == std::errc() && end == last && port > 0 && port <= 65535) {
            split.Port = static_cast<INTERNET_PORT>(port);
            host.erase(colon);
        }
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    split.Host = host;
    return split;
}

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
    worker->AcceptTypes = AcceptTypes;
    worker->Agent = Agent;
    worker->URL = URL;
    worker->FileName = FileName;
    worker->UserName = UserName;
    worker->Password = Password;
    worker->PostQuery = PostQuery;
    worker->Referer = Referer;
    worker->BinaryData = BinaryData;
    worker->UseCache = UseCache;
    worker->Progress = OnProgress;
    worker->ReportsProgress = static_cast<bool>(OnProgress);
    worker->ToFile = !FileName.empty();
    constexpr Integer kLongestSeconds = 4'000'000; // what milliseconds in 32 bits hold
    worker->TimeOutMs =
        TimeOut > 0 ? static_cast<std::uint32_t>(std::min(TimeOut, kLongestSeconds)) * 1000U : 0U;
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
    m_effectiveUrl = worker->EffectiveUrl;
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
    else if (worker->ToFile)
        Fire(OnDoneFile, this, worker->FileName, worker->FileSize);
    else
        Fire(OnDoneString, this, worker->Result);
}
