// TCrawlRecorder: hands what a run fetches to the crawl file's writer.

#include "crawlrecorder.h"

#include "crawler.h"
#include "passwordmask.h"
#include "stringhelpers.h"

#include <QDateTime>

#include <string_view>
#include <utility>

namespace {

// The first field of that name in a reply's header block, trimmed; read in
// place, since every page saved asks for three of them.
String headerField(std::string_view head, std::string_view name)
{
    std::size_t line = 0;
    while (line < head.size()) {
        std::size_t end = head.find('\n', line);
        if (end == std::string_view::npos)
            end = head.size();
        const std::string_view text = head.substr(line, end - line);
        if (text.size() > name.size() && text[name.size()] == ':' && StartsWithNoCase(text, name)) {
            const std::string_view value = text.substr(name.size() + 1);
            const auto first = value.find_first_not_of(" \t");
            const auto last = value.find_last_not_of(" \t\r");
            return first == std::string_view::npos ? String()
                                                   : String(value.substr(first, last - first + 1));
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

TCrawlRecorder::TCrawlRecorder(CrawlWriter& writer, Kind kind, Held held)
    : m_writer(writer), m_kind(kind), m_held(std::move(held))
{}

void TCrawlRecorder::Started(const SearchSettings& settings, const String& address)
{
    m_levels.clear();
    m_links.clear();
    m_reused.clear();
    m_notModified.clear();
    m_touched.clear();
    // The walk over the site reports every link again, the kept pages'
    // links included.
    if (m_kind != Kind::New)
        m_writer.ClearFound();
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

bool TCrawlRecorder::SavedPage(const String& url, TSavedReply& reply)
{
    const auto held = m_held.find(url);
    if (m_kind == Kind::New || held == m_held.end() || !held->second.HasBody ||
        held->second.Failure.failed())
        return false;
    const std::optional<PageRecord> page = m_writer.Page(url);
    if (!page || !page->HasBody)
        return false;
    reply.FinalUrl = page->FinalAddress;
    reply.Head = "HTTP/1.1 200 OK\r\n";
    for (const auto& [name, value] :
         {std::pair{"Content-Type", &page->ContentType}, std::pair{"ETag", &page->ETag},
          std::pair{"Last-Modified", &page->LastModified}}) {
        if (!value->empty())
            reply.Head += String(name) + ": " + *value + "\r\n";
    }
    reply.Body = page->Body;
    (m_kind == Kind::Resume ? m_reused : m_notModified).insert(url);
    return true;
}

String TCrawlRecorder::Conditions(const String& url) const
{
    const auto held = m_held.find(url);
    if (m_kind != Kind::Update || held == m_held.end() || !held->second.HasBody ||
        held->second.Failure.failed())
        return String();
    String lines;
    if (!held->second.ETag.empty())
        lines = "If-None-Match: " + held->second.ETag;
    if (!held->second.LastModified.empty())
        lines +=
            (lines.empty() ? "" : "\r\n") + ("If-Modified-Since: " + held->second.LastModified);
    return lines;
}

void TCrawlRecorder::Received(const String& url, const String& finalUrl, const String& head,
                              const String& body)
{
    flushLinks();
    // The file holds this very copy already.
    if (m_reused.contains(url))
        return;
    m_touched.insert(url);
    if (m_notModified.contains(url)) {
        // The kept body stays; the page was seen now, where it was.
        PageRecord page = m_held.at(url);
        page.Level = levelOf(url);
        page.FetchedAt = now();
        page.Gone = false;
        page.HasBody = false;
        page.Body.clear();
        m_writer.PutPage(std::move(page));
        return;
    }
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
    // A page the file held that the server now says is no more.
    page.Gone = m_kind == Kind::Update && m_held.contains(url) &&
                failure.kind == TransferError::Kind::HttpStatus &&
                (failure.status == 404 || failure.status == 410);
    m_touched.insert(url);
    m_writer.PutPage(std::move(page));
}

void TCrawlRecorder::Finished(const String& outcome, bool complete)
{
    flushLinks();
    m_writer.SetValue("outcome", outcome);
    // A page a whole new crawl did not come to is linked no more.
    if (m_kind == Kind::Update && complete) {
        for (const auto& [address, page] : m_held) {
            if (!page.Gone && !m_touched.contains(address))
                m_writer.MarkGone(address);
        }
    }
}
