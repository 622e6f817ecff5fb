// TCrawlRecorder: hands what a run fetches to the crawl file's writer.

#pragma once

#include "crawlwriter.h"
#include "nqtypes.h"
#include "searchsettings.h"

#include <unordered_map>
#include <unordered_set>

struct TSavedReply;

// What a run tells the file it saves to, in the run's own terms: the
// settings, every link the crawl reports in order, and each page it
// received or could not fetch, with the page's link level and validators.
class TCrawlRecorder
{
public:
    // What the run does with the pages the file holds already.
    enum class Kind
    {
        New,    // nothing is held
        Resume, // a held page is not fetched again
        Update, // a held page is fetched on condition that it changed
    };
    // The index of what the file holds, read before the writer took it.
    using Held = std::unordered_map<String, PageRecord>;

    explicit TCrawlRecorder(CrawlWriter& writer, Kind kind = Kind::New, Held held = {});

    Kind Mode() const { return m_kind; }
    // The kept copy of url with its body, for a resumed crawl or a 304;
    // false when the file holds no page there.
    bool SavedPage(const String& url, TSavedReply& reply);
    // The request header lines that ask for url only if it changed since
    // the kept copy; empty when there is none or this is no update.
    String Conditions(const String& url) const;
    // url answered 304 in this run.
    bool NotModified(const String& url) const { return m_notModified.contains(url); }

    void Started(const SearchSettings& settings, const String& address);
    void Found(const String& url, const String& type, const String& host, const String& from);
    void StartMoved(const String& finalUrl);
    // head: the reply's header block, where the validators come from.
    void Received(const String& url, const String& finalUrl, const String& head,
                  const String& body);
    void Failed(const String& url, const TransferError& failure);
    // How the run ended, so that a search of the file ends the same way.
    // complete: the crawl ran to its end, so that a held page it did not
    // come to again is gone.
    void Finished(const String& outcome, bool complete = false);

private:
    Integer levelOf(const String& url) const;
    void flushLinks();

    CrawlWriter& m_writer;
    Kind m_kind;
    Held m_held;
    // Addresses whose kept copy served this run, and those written anew.
    std::unordered_set<String> m_reused;
    std::unordered_set<String> m_notModified;
    std::unordered_set<String> m_touched;
    // Link levels as the crawler counts them: the start is 1, a page is one
    // below the page it was first found on.
    std::unordered_map<String, Integer> m_levels;
    // The links of the page being scanned, written as one once it is done.
    std::vector<FoundLink> m_links;
};
