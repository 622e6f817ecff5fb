// SiteAccess: what lets the crawl into a site (credentials, cookies, headers), kept to its host.

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

// What the user gives to be let into the site: sent only to the site's own
// host and port, never to another host a link or a redirect leads to.
struct SiteAccess
{
    std::string host; // lower case
    long port = 0;    // the address's, or its scheme's
    std::string userName;
    std::string password;
    // Credentials for the host from the netrc file when none are given;
    // an empty file name: libcurl's ~/.netrc.
    bool netrc = true;
    std::string netrcFile;
    std::vector<std::string> headers; // "Name: value", each checked with HeaderProblem
    std::vector<std::string> cookies; // Netscape cookie lines, each checked
    // Cookies that sites set are kept while this stays the same: one run.
    std::uint64_t run = 0;

    // Whether address is on the site's host and port.
    bool covers(std::string_view address) const;
    // The access for the site at address: its host and port; nothing else set.
    static SiteAccess For(std::string_view address);
};

// The access every later transfer consults; null: none. A transfer keeps the
// access it started with.
void SetSiteAccess(std::shared_ptr<const SiteAccess> access);
std::shared_ptr<const SiteAccess> CurrentSiteAccess();

// Lower-case host and port of an absolute http(s) address; false when it has none.
bool OriginOf(std::string_view address, std::string* host, long* port);

// Why a request header given as "Name: value" cannot be sent; empty when it can.
std::string HeaderProblem(std::string_view header);

// A Netscape cookie file: the lines that are cookies, and the numbers (from
// 1) of the lines skipped as malformed. Comments and blank lines are neither.
struct CookieLines
{
    std::vector<std::string> cookies;
    std::vector<int> skipped;
};
CookieLines ParseCookieFile(std::string_view text);
// Whether a cookie line of ParseCookieFile is one the host receives.
bool CookieServesHost(std::string_view line, std::string_view host);

} // namespace inet
