// A received page's link work, done on a thread of its own beside the crawl's scheduling.

#include "pagescan.h"

#include "crackurl.h"
#include "linkscan.h"

TScannedPage ScanPageLinks(const String& Body, const String& BaseUrl,
                           const std::atomic<bool>* Cancelled)
{
    TScannedPage page;
    TCrackUrl baseParts;
    if (!baseParts.Crack(BaseUrl))
        return page;
    const TLinkBase base(baseParts);
    String text = PreparePage(Body);
    MarkTags(text);
    TCrackUrl parts; // reused for every link
    ScanHooks hooks;
    if (Cancelled)
        hooks.aborted = [Cancelled] { return Cancelled->load(std::memory_order_relaxed); };
    hooks.found = [&](const String& value, Integer anchor, char kind) {
        String address = base.Resolve(value);
        if (address.empty())
            return;
        String type = LinkType(address);
        if (type == "unknown" || !parts.Crack(address))
            return; // nothing trustworthy to report or follow
        page.Links.push_back({std::move(address), std::move(type), parts.Scheme.Text(),
                              parts.HostName.Text(), parts.Port, parts.Directory(),
                              parts.UrlPath.Text(), parts.ExtraInfo.Text(), anchor, kind});
    };
    ScanLinks(text, page.Anchors, hooks);
    return page;
}

TPageScanner::TPageScanner() : m_context(std::make_unique<QObject>())
{
    m_thread.setObjectName("page scanner");
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

TPageScanner::~TPageScanner()
{
    m_thread.quit();
    m_thread.wait();
}

void TPageScanner::Post(std::shared_ptr<TPageJob> job,
                        std::shared_ptr<const std::atomic<bool>> cancelled, TAnalysis analysis,
                        QObject* receiver, TDone done)
{
    QMetaObject::invokeMethod(
        m_context.get(),
        [job = std::move(job), cancelled = std::move(cancelled), analysis = std::move(analysis),
         receiver, done = std::move(done)] {
            if (!cancelled->load(std::memory_order_relaxed)) {
                job->Scan = ScanPageLinks(job->Body, job->Base, cancelled.get());
                if (analysis && !cancelled->load(std::memory_order_relaxed))
                    job->Analysis = analysis(job->Body);
            }
            job->Body = String(); // the scan's copy is not needed any more
            QMetaObject::invokeMethod(
                receiver, [job, done] { done(job); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
