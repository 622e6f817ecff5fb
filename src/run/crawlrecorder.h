// TCrawlRecorder: hands what a run fetches to the crawl file's writer.

#pragma once

#include "crawlwriter.h"
#include "nqtypes.h"
#include "searchsettings.h"

#include <unordered_map>

// What a run tells the file it saves to, in the run's own terms: the
// settings, every link the crawl reports in order, and each page it
// received or could not fetch, with the page's link level and validators.
class TCrawlRecorder
{
public:
    explicit TCrawlRecorder(CrawlWriter& writer) : m_writer(writer) {}

    void Started(const SearchSettings& settings, const String& address);
    void Found(const String& url, const String& type, const String& host, const String& from);
    void StartMoved(const String& finalUrl);
    // head: the reply's header block, where the validators come from.
    void Received(const String& url, const String& finalUrl, const String& head,
                  const String& body);
    void Failed(const String& url, const TransferError& failure);
    // How the run ended, so that a search of the file ends the same way.
    void Finished(const String& outcome);

private:
    Integer levelOf(const String& url) const;
    void flushLinks();

    CrawlWriter& m_writer;
    // Link levels as the crawler counts them: the start is 1, a page is one
    // below the page it was first found on.
    std::unordered_map<String, Integer> m_levels;
    // The links of the page being scanned, written as one once it is done.
    std::vector<FoundLink> m_links;
};
