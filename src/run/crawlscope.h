// TCrawlScope: which of the pages a crawl finds it fetches, and why it leaves the others.

#pragma once

#include "nqtypes.h"
#include "searchsettings.h"

#include <QRegularExpression>

#include <unordered_map>
#include <unordered_set>
#include <vector>

// The user's limits on what a run fetches: address patterns, a page cap and
// the guard against query-string traps (a calendar or a sort order that
// makes a new address per click). Asked once per page found, in the order
// found; it remembers what it admitted.
class TCrawlScope
{
public:
    explicit TCrawlScope(const SearchSettings& settings);

    // A pattern that does not compile, named with Qt's reason; empty when
    // all of them do.
    const String& Error() const { return m_error; }
    // What becomes of a page found: "" to fetch it, "excluded" when a
    // pattern or the trap guard keeps it out, "not searched" past the cap.
    String Admit(const String& address);
    // The start page is always fetched; it counts against the cap.
    void AdmitStart() { ++m_admitted; }
    // Addresses, without their query, whose query strings ran past the guard.
    const std::vector<String>& TrapPaths() const { return m_trapPaths; }

private:
    std::vector<QRegularExpression> m_accept;
    std::vector<QRegularExpression> m_reject;
    Integer m_maxPages = 0;
    Integer m_maxQueries = 0;
    Integer m_admitted = 0;
    String m_error;
    std::unordered_map<String, std::unordered_set<String>> m_queries; // by address without query
    std::vector<String> m_trapPaths;
};
