// TCrawlRecorder: hands what a run fetches to the crawl file's writer.

#include "crawlrecorder.h"

#include "passwordmask.h"
#include "stringhelpers.h"

#include <QDateTime>

#include <utility>

namespace {

// The first field of that name in a reply's header block, trimmed.
String headerField(const String& head, const String& name)
{
    const String wanted = AsciiLower(name) + ":";
    std::size_t line = 0;
    while (line < head.size()) {
        std::size_t end = head.find('\n', line);
        if (end == String::npos)
            end = head.size();
        if (end - line > wanted.size() && AsciiLower(head.substr(line, wanted.size())) == wanted) {
            String value = head.substr(line + wanted.size(), end - line - wanted.size());
            const auto first = value.find_first_not_of(" \t");
            const auto last = value.find_last_not_of(" \t\r");
            return first == String::npos ? String() : value.substr(first, last - first + 1);
        }
        line = end + 1;
    }
    return String();
}

std::int64_t now()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

void TCrawlRecorder::Started(const SearchSettings& settings, const String& address)
{
    m_levels.clear();
    m_links.clear();
    m_levels.emplace(address, 1);
    CrawlSettings saved;
    saved.Address = MaskPasswords(address);
    saved.Depth = settings.depthIndex >= 0 ? settings.depthIndex + 1 : 3; // the crawler's own
    saved.Keywords = settings.keywords;
    saved.CaseSensitive = settings.caseSensitive;
    saved.SpanHosts = settings.spanHosts;
    saved.SavedAt = now();
    m_writer.PutSettings(saved);
}

void TCrawlRecorder::Found(const String& url, const String& type, const String& host,
                           const String& from)
{
    const auto parent = m_levels.find(from);
    m_levels.emplace(url, parent == m_levels.end() ? 0 : parent->second + 1);
    if (!m_links.empty() && m_links.back().From != from)
        flushLinks();
    // Saved as shown: a link's password is nobody's to keep.
    m_links.push_back({FoundLink::Link, MaskPasswords(url), type, host, MaskPasswords(from)});
}

void TCrawlRecorder::flushLinks()
{
    if (!m_links.empty())
        m_writer.AddFound(std::exchange(m_links, {}));
}

void TCrawlRecorder::StartMoved(const String& finalUrl)
{
    flushLinks();
    m_writer.AddFound(
        {{FoundLink::StartMoved, MaskPasswords(finalUrl), String(), String(), String()}});
}

Integer TCrawlRecorder::levelOf(const String& url) const
{
    const auto found = m_levels.find(url);
    return found == m_levels.end() ? 0 : found->second;
}

void TCrawlRecorder::Received(const String& url, const String& finalUrl, const String& head,
                              const String& body)
{
    flushLinks();
    PageRecord page;
    page.Address = MaskPasswords(url);
    page.FinalAddress = finalUrl == url ? String() : MaskPasswords(finalUrl);
    page.Level = levelOf(url);
    page.Status = 200;
    page.ContentType = headerField(head, "Content-Type");
    page.ETag = headerField(head, "ETag");
    page.LastModified = headerField(head, "Last-Modified");
    page.FetchedAt = now();
    page.Body = body;
    page.HasBody = true;
    m_writer.PutPage(std::move(page));
}

void TCrawlRecorder::Failed(const String& url, const TransferError& failure)
{
    PageRecord page;
    page.Address = MaskPasswords(url);
    page.Level = levelOf(url);
    page.Status = failure.status;
    page.Failure = failure;
    page.FetchedAt = now();
    m_writer.PutPage(std::move(page));
}

void TCrawlRecorder::Finished(const String& outcome)
{
    flushLinks();
    m_writer.SetValue("outcome", outcome);
}
