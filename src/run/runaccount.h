// The account of a run: how many pages were searched, and why the others were not.

#pragma once

#include "reportwriter.h"

#include <span>
#include <utility>
#include <vector>

// A page that was not searched, counted under its reason: a reply status
// ("404"), a transfer failure ("timeout"), a rule that kept it out
// ("robots", "excluded") or the end of the run ("not searched").
struct TRunAccount
{
    Integer Pages = 0; // rows plus the pages left on other hosts
    Integer Searched = 0;
    Integer WithHits = 0;
    Integer NotSearched = 0;
    // Most frequent first; ties in the order of the reasons' names.
    std::vector<std::pair<String, Integer>> Reasons;
    // Addresses (without their query) that offered more query strings than
    // the run takes per path; the pages beyond are among the excluded.
    std::vector<String> TrapPaths;
    // Links the crawl left out of pages that had more than it takes from one.
    Integer LinksOverCap = 0;

    // rows: the used part of the page table; otherHost: pages found on other
    // hosts and left unfetched.
    static TRunAccount Of(std::span<const TPageEntry> rows, Integer otherHost);

    // "1,204 pages: 1,180 searched (312 with hits), 24 not searched: 12 robots, 2 404",
    // then "; too many query strings: http://host/calendar" when a path had,
    // then "; 12 links over the per-page cap" when pages had too many.
    String SummaryLine() const;
};

// A row's status as the command shows it: "ok", a failure or a rule's word,
// or "not searched".
String PageStatus(const TPageEntry& entry);
