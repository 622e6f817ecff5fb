// robots.txt (RFC 9309): the rules a site gives crawlers, and whether a path may be fetched.

#include "robots.h"

#include "stringhelpers.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace {

// A pattern longer than this is no rule a site means; skipping it keeps the
// matcher's cost bounded.
constexpr std::size_t kMaxPattern = 4096;

bool unreserved(unsigned char c)
{
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One spelling for the same address: %-escapes of unreserved characters
// decoded, other escapes in upper case, bytes outside ASCII escaped.
String normalise(const String& text)
{
    static const char* const kHex = "0123456789ABCDEF";
    String out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            const auto decoded =
                static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            if (unreserved(decoded)) {
                out += static_cast<char>(decoded);
            } else {
                out += '%';
                out += kHex[decoded >> 4];
                out += kHex[decoded & 15];
            }
            i += 2;
        } else if (c >= 0x80 || c <= 0x20) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Whether pattern matches the start of path ('*' any run, '$' the end).
bool matches(const String& pattern, const String& path)
{
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    const std::size_t length = pattern.size() - (anchored ? 1 : 0);
    std::size_t p = 0;
    std::size_t s = 0;
    std::size_t star = String::npos;
    std::size_t starAt = 0;
    // Greedy, going back to the last '*' on a mismatch.
    while (true) {
        if (p == length) {
            if (!anchored || s == path.size())
                return true;
        } else if (pattern[p] == '*') {
            star = ++p;
            starAt = s;
            continue;
        } else if (s < path.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
            continue;
        }
        if (star == String::npos || starAt >= path.size())
            return false;
        p = star;
        s = ++starAt;
    }
}

String trimmed(const String& text)
{
    const auto begin = text.find_first_not_of(" \t");
    if (begin == String::npos)
        return String();
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

} // namespace

String RobotsProductToken(const String& agent)
{
    const auto end = agent.find_first_of("/ \t");
    return agent.substr(0, end);
}

TRobotsRules TRobotsRules::Parse(const String& source, const String& agentToken)
{
    String text = source.substr(0, kMaxSize);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    const String token = AsciiLower(agentToken);

    // Rules of every group naming the token, else of every "*" group.
    TRobotsRules own;
    TRobotsRules any;
    bool ownFound = false;
    bool inOwn = false;
    bool inAny = false;
    bool groupHasRules = true; // a user-agent line after rules starts a new group
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find_first_of("\r\n", at);
        String line = text.substr(at, end == String::npos ? String::npos : end - at);
        at = end == String::npos ? text.size() : end + 1;
        line = trimmed(line.substr(0, line.find('#')));
        const auto colon = line.find(':');
        if (colon == String::npos)
            continue;
        const String key = AsciiLower(trimmed(line.substr(0, colon)));
        const String value = trimmed(line.substr(colon + 1));
        if (key == "user-agent") {
            if (groupHasRules) {
                inOwn = inAny = false;
                groupHasRules = false;
            }
            const String name = AsciiLower(RobotsProductToken(value));
            if (name == "*")
                inAny = true;
            else if (!name.empty() && name == token)
                inOwn = ownFound = true;
        } else if (key == "allow" || key == "disallow") {
            groupHasRules = true;
            // "Disallow:" with nothing allows everything: no rule.
            if (value.empty() || value.size() > kMaxPattern)
                continue;
            const Rule rule{normalise(value), key == "allow"};
            if (inOwn)
                own.m_rules.push_back(rule);
            if (inAny)
                any.m_rules.push_back(rule);
        } else if (key == "crawl-delay") {
            groupHasRules = true;
            double seconds = 0;
            const auto [ptr, error] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error != std::errc() || ptr != value.data() + value.size() ||
                !std::isfinite(seconds) || seconds < 0)
                continue;
            if (inOwn)
                own.m_crawlDelay = seconds;
            if (inAny)
                any.m_crawlDelay = seconds;
        } else if (key == "sitemap") {
            if (!value.empty())
                own.m_sitemaps.push_back(value);
        }
    }
    TRobotsRules result = ownFound ? std::move(own) : std::move(any);
    if (!ownFound)
        result.m_sitemaps = std::move(own.m_sitemaps);
    return result;
}

bool TRobotsRules::Allowed(const String& path) const
{
    // Most sites give no rules; every listed page asks.
    if (m_rules.empty())
        return true;
    const String target = normalise(path.empty() ? String("/") : path);
    // The rules themselves are always there to be read.
    if (target == "/robots.txt")
        return true;
    std::size_t best = 0;
    bool allowed = true;
    for (const Rule& rule : m_rules) {
        const std::size_t length = rule.pattern.size();
        if (length < best || !matches(rule.pattern, target))
            continue;
        allowed = length > best ? rule.allow : allowed || rule.allow;
        best = length;
    }
    return allowed;
}
