// SearchSettings: what one run is asked to do, as the window or the command set it.

#pragma once

#include "nqtypes.h"

#include <vector>

// The settings of one scan-and-search run, handed to the run as one value
// when it starts. The window fills it from its controls, the command from
// its options; the run reads nothing else. Texts are UTF-8.
struct SearchSettings
{
    // The start address as typed; the run adds "http://" when no scheme is given.
    String address;
    // The keyword box as typed: one keyword per space, an empty one counts nothing.
    String keywords;
    // The depth entry, "Lowest" 0 to "Highest" 4; -1 (none chosen) lets the
    // crawler keep its own depth.
    Integer depthIndex = -1;
    // Whether the letter case of a keyword must match.
    bool caseSensitive = false;
    // False: pages on hosts other than the start host are listed, not fetched.
    // The window offers no choice and follows them.
    bool spanHosts = true;
    // Seconds one transfer may take, in the crawl and in the search.
    Integer timeoutSeconds = 300;
    // Certificate authorities to trust for https instead of the system's;
    // empty keeps the system's. The caller has checked that it is readable.
    String caFile;

    // Settings added by later options go below, each with why it exists.

    // Seconds a transfer may go without receiving a byte, or wait for its
    // reply's headers to be complete, before it ends as timed out; never
    // beyond timeoutSeconds. A stalled server then costs seconds, not the
    // whole transfer limit per try.
    Integer readTimeoutSeconds = 30;
    // Links taken from one page; the rest are counted in the summary, so
    // that one page of a million links cannot exhaust memory.
    Integer maxPageLinks = 100'000;

    // The agent text sent with every request; empty: the product's own,
    // "Netquarry/VERSION (+https://netquarry.example.org/)", which site
    // owners can address in robots.txt.
    String agent;
    // Obey the start host's robots.txt: the pages it disallows are listed,
    // never fetched. On by default, in the window too.
    bool obeyRobots = true;
    // Keywords taken exactly as given, blanks and quotes and all, after those
    // of the keyword text: the command's -e, for shell users who would
    // otherwise need quotes within quotes.
    std::vector<String> exactKeywords;
    // A hit must stand alone: no letter, digit or '_' right before or after.
    bool wholeWords = false;
    // Each keyword is a Perl-compatible regular expression.
    bool patterns = false;
    // Search the text a reader sees, not the page's source with its markup.
    bool visibleText = false;
    // A page has a hit only when every keyword occurs, for the pages that
    // lack one of several words.
    bool allKeywords = false;
    // Hits shown per keyword with what surrounds them; 0 shows none.
    int snippets = 0;
    // Transfers of the crawl at once; more than 5 only for a site the user
    // owns, which can take the load.
    Integer parallel = 5;
    // Sent only to the start host (after a redirect of the start, the host
    // it moved to), never elsewhere, and never shown: the credentials for
    // basic and digest authentication (those in the start address win),
    // request headers as "Name: value", and a Netscape cookie file whose
    // cookies for that host go along. Credentials from ~/.netrc for that
    // host when none are given, unless useNetrc is off.
    String user;
    String password;
    std::vector<String> headers;
    String cookieFile;
    bool useNetrc = true;
    // Addresses a page must match one of (when any are given) and must match
    // none of, as regular expressions on the whole address: a page left out
    // is listed as "excluded" and never fetched. The start page is fetched.
    std::vector<String> acceptPatterns;
    std::vector<String> rejectPatterns;
    // Pages fetched at most, the start page included; those found beyond it
    // are listed as "not searched". 0: no cap.
    Integer maxPages = 0;
    // Distinct query strings taken per path; more are "excluded". Guards
    // against a calendar or a sort order that makes a new address per click.
    Integer maxQueriesPerPath = 1000;
    // Read the sitemaps robots.txt names, or /sitemap.xml, and take their
    // pages on the site as if the start page linked to them.
    bool followSitemaps = false;
    // Seconds at least between the starts of two requests to one host
    // (--wait), each gap varied 0.5 to 1.5 times with randomWait; a longer
    // Crawl-delay of the host's robots.txt wins.
    double waitSeconds = 0;
    bool randomWait = false;
};
