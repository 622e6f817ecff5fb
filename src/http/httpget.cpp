#include "httpget.h"

#include "messagebox.h"
#include "stringhelpers.h"

#include <QCoreApplication>

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>

namespace {

constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";

} // namespace

namespace pagefetch {

void THTTPGetThread::fail()
{
    closeHandles();
    Success = false;
}

void THTTPGetThread::Execute()
{
    const TUrlSplit target = THTTPGet::SplitUrl(URL);
    if (Terminated()) {
        Success = false;
        return;
    }

    m_root = InternetOpenA(Agent.empty() ? nullptr : Agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                           nullptr, nullptr, 0);
    if (m_root.load() == NullHandle) {
        fail();
        return;
    }
    m_connection =
        InternetConnectA(m_root.load(), target.Host.c_str(), target.Port, UserName.c_str(),
                         Password.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    if (m_connection.load() == NullHandle) {
        fail();
        return;
    }
    const String accept = "Accept: " + AcceptTypes;
    const char* acceptList[] = {accept.c_str(), nullptr};
    std::uint32_t flags = UseCache ? 0 : INTERNET_FLAG_RELOAD;
    if (target.Scheme == "https")
        flags |= INTERNET_FLAG_SECURE;
    m_request =
        HttpOpenRequestA(m_connection.load(), PostQuery.empty() ? "GET" : "POST",
                         target.Path.c_str(), "HTTP/1.0", Referer.c_str(), acceptList, flags, 0);
    if (m_request.load() == NullHandle) {
        fail();
        return;
    }
    const bool sent =
        PostQuery.empty()
            ? HttpSendRequestA(m_request.load(), nullptr, 0, nullptr, 0)
            : HttpSendRequestA(m_request.load(), kFormHeader, sizeof(kFormHeader) - 1,
                               PostQuery.data(), static_cast<std::uint32_t>(PostQuery.size()));
    if (!sent || Terminated()) {
        fail();
        return;
    }

    std::array<char, 1024> buffer{};
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    std::uint32_t index = 0;
    const bool hasLength =
        HttpQueryInfoA(m_request.load(), HTTP_QUERY_CONTENT_LENGTH, buffer.data(), &size, &index);
    Success = hasLength;
    if (Terminated()) {
        fail();
        return;
    }
    if (!hasLength && BinaryData) {
        fail();
        return;
    }
    if (hasLength) {
        const auto [end, error] = std::from_chars(buffer.data(), buffer.data() + size, FileSize);
        if (error != std::errc() || end != buffer.data() + size) {
            fail();
            return;
        }
    }

    TotalRead = 0;
    CFile file;
    if (ToFile) {
        file.reset(std::fopen(FileName.c_str(), "wb"));
        if (!file) {
            ShowMessageBox("unable to write to file " + FileName, TMsgKind::Error);
            fail();
            return;
        }
    } else {
        Result.clear();
    }

    std::array<char, 1025> chunk{};
    for (;;) {
        if (Terminated()) {
            fail();
            return;
        }
        std::uint32_t count = 0;
        // A failed read ends the body like its end does; the length test
        // below tells the two apart.
        if (!InternetReadFile(m_request.load(), chunk.data(), 1025, &count) || count == 0)
            break;
        if (ToFile) {
            if (std::fwrite(chunk.data(), 1, count, file.get()) != count) {
                fail();
                return;
            }
        } else {
            Result.append(chunk.data(), count);
        }
        TotalRead += static_cast<Integer>(count);
        // A round trip to the UI thread per chunk costs more than the chunk.
        if (ReportsProgress)
            Synchronize([this] { Fire(Progress, this, FileSize, TotalRead); });
    }

    if (ToFile) {
        const bool closed = std::fclose(file.release()) == 0;
        Success = closed && FileSize == TotalRead;
    } else {
        Success = TotalRead > 0;
    }
    closeHandles();
}

} // namespace pagefetch

THTTPGet::THTTPGet(QObject* Owner) : QObject(Owner) {}

THTTPGet::~THTTPGet()
{
    Cancel();
    if (pagefetch::THTTPGetThread* worker = m_worker.data()) {
        worker->OnTerminate = nullptr;
        worker->Progress = nullptr;
        worker->Kill();
    }
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
    if (m_worker)
        return;
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
    struct ClearWorker
    {
        THTTPGet* self;
        ~ClearWorker() { self->m_worker = nullptr; }
    } clearWorker{this};

    if (!worker->Success)
        Fire(OnError, this);
    else if (worker->ToFile)
        Fire(OnDoneFile, this, worker->FileName, worker->FileSize);
    else
        Fire(OnDoneString, this, worker->Result);
}
