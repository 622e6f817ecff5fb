// robots.txt (RFC 9309): the rules a site gives crawlers, and whether a path may be fetched.

#pragma once

#include "nqtypes.h"

#include <optional>
#include <vector>

// The rules of one host's robots.txt for one product token. Parsing never
// fails: rubbish lines are skipped, as crawlers must.
class TRobotsRules
{
public:
    // A robots.txt larger than this is read up to it.
    static constexpr std::size_t kMaxSize = 500 * 1024;

    // No rules: everything is allowed (no robots.txt, or a 4xx for it).
    TRobotsRules() = default;
    // The group for agentToken (case-blind), else the group for "*".
    static TRobotsRules Parse(const String& text, const String& agentToken);

    // path: the address's path and query, from "/". Longest match wins;
    // of equally long Allow and Disallow, Allow.
    bool Allowed(const String& path) const;
    // Seconds the group asks between requests, when it names a usable number.
    std::optional<double> CrawlDelay() const { return m_crawlDelay; }
    const std::vector<String>& Sitemaps() const { return m_sitemaps; }

private:
    struct Rule
    {
        String pattern; // normalised; may hold '*' and end in '$'
        bool allow = false;
    };
    std::vector<Rule> m_rules;
    std::optional<double> m_crawlDelay;
    std::vector<String> m_sitemaps;
};

// The product token of an agent text: "Netquarry/0.1 (+...)" gives "Netquarry".
String RobotsProductToken(const String& agent);
