// THostPolicy: what each host of a crawl allows, and when it may be asked again.

#include "hostpolicy.h"

#include "replyheaders.h"
#include "stringhelpers.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>

namespace {

// Where the authority starting at from ends: its path, query or fragment,
// or the end. A plain loop: find_first_of calls memchr once per character.
std::size_t authorityEnd(const String& url, std::size_t from)
{
    for (std::size_t i = from; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '/' || c == '?' || c == '#')
            return i;
    }
    return String::npos;
}

// The path and query of an absolute address, from "/", as robots.txt rules see them.
String pathOf(const String& url)
{
    const auto sep = url.find("://");
    if (sep == String::npos)
        return "/";
    const auto slash = authorityEnd(url, sep + 3);
    if (slash == String::npos)
        return "/";
    String path = url.substr(slash, url.find('#', slash) - slash);
    return path.empty() || path[0] != '/' ? "/" + path : path;
}

String seconds(double value)
{
    char text[32];
    if (value == std::floor(value))
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

THostPolicy::THostPolicy(TClock now, TRandom random)
    : m_now(now ? std::move(now) : TClock(steadySeconds)), m_random(std::move(random))
{
    if (!m_random) {
        auto engine = std::make_shared<std::mt19937>(std::random_device{}());
        m_random = [engine] { return std::uniform_real_distribution<double>(0, 1)(*engine); };
    }
}

String THostPolicy::HostKey(const String& url)
{
    const auto sep = url.find("://");
    if (sep == String::npos)
        return AsciiLower(url);
    // Built in one string: a finished crawl asks this of every page it listed.
    const auto end = std::min(authorityEnd(url, sep + 3), url.size());
    std::string_view authority(url.data() + sep + 3, end - sep - 3);
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    String key;
    key.reserve(sep + 3 + authority.size() + 4);
    key.append(url, 0, sep + 3);
    key.append(authority);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    // A port is the digits after the last colon outside an IPv6 literal.
    const auto colon = authority.rfind(':');
    const auto bracket = authority.rfind(']');
    bool hasPort =
        colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
    if (hasPort && colon + 1 == authority.size()) {
        key.pop_back(); // "host:" names no port
        hasPort = false;
    }
    if (!hasPort)
        key += std::string_view(key.data(), sep) == "https" ? ":443" : ":80";
    return key;
}

THostPolicy::Host& THostPolicy::host(const String& url)
{
    const String key = HostKey(url);
    const auto found = m_hosts.find(key);
    if (found != m_hosts.end())
        return found->second;
    Host& made = m_hosts[key];
    const auto start = key.find("://") + 3;
    made.name = key.substr(start, key.rfind(':') - start);
    return made;
}

THostPolicy::Verdict THostPolicy::Check(const String& url)
{
    Host& h = host(url);
    if (ObeyRobots) {
        switch (h.robots) {
        case RobotsState::Unknown:
            return Verdict::FetchRobots;
        case RobotsState::Fetching:
            return Verdict::Later;
        case RobotsState::Unavailable:
            return Verdict::RobotsUnavailable;
        case RobotsState::Unreachable:
            return Verdict::Unreachable;
        case RobotsState::Read:
            if (!h.rules.Allowed(pathOf(url)))
                return Verdict::Robots;
            break;
        }
    }
    if ((h.single && h.inFlight > 0) || Now() < h.nextStart)
        return Verdict::Later;
    return Verdict::Go;
}

void THostPolicy::RobotsFetching(const String& url)
{
    host(url).robots = RobotsState::Fetching;
}

void THostPolicy::RobotsRead(const String& url, Integer status, const String& body,
                             const TransferError& error)
{
    Host& h = host(url);
    // 4xx: no rules; 5xx: keep out; no reply: the host cannot be had.
    if (status == 0) {
        h.robots = RobotsState::Unreachable;
        h.failure = error;
        return;
    }
    if (status >= 500) {
        h.robots = RobotsState::Unavailable;
        return;
    }
    h.robots = RobotsState::Read;
    h.rules = status < 400 ? TRobotsRules::Parse(body, AgentToken) : TRobotsRules();
    const double asked = h.rules.CrawlDelay().value_or(0);
    h.crawlDelay = std::min(asked, kMaxCrawlDelay);
    if (asked > kMaxCrawlDelay)
        m_warnings.push_back("robots.txt of " + h.name + " asks " + seconds(asked) +
                             " s between requests; waiting " + seconds(kMaxCrawlDelay) + " s");
}

std::vector<String> THostPolicy::Sitemaps(const String& url) const
{
    const auto found = m_hosts.find(HostKey(url));
    return found == m_hosts.end() ? std::vector<String>{} : found->second.rules.Sitemaps();
}

TransferError THostPolicy::Failure(const String& url) const
{
    const auto found = m_hosts.find(HostKey(url));
    return found == m_hosts.end() ? TransferError{} : found->second.failure;
}

void THostPolicy::Started(const String& url)
{
    Host& h = host(url);
    ++h.inFlight;
    double gap = Wait > 0 && RandomWait ? Wait * (0.5 + m_random()) : Wait;
    if (ObeyRobots)
        gap = std::max(gap, h.crawlDelay);
    if (gap > 0) {
        h.single = true;
        h.nextStart = std::max(h.nextStart, Now() + gap);
    }
}

void THostPolicy::Finished(const String& url)
{
    Host& h = host(url);
    h.inFlight = std::max(h.inFlight - 1, 0);
}

std::optional<double> THostPolicy::BackOff(const String& url, const String& retryAfter, int attempt)
{
    Host& h = host(url);
    h.single = true;
    const double doubled = kFirstBackOff * std::ldexp(1.0, std::clamp(attempt - 1, 0, 20));
    const auto asked = RetryAfterSeconds(retryAfter, std::time(nullptr));
    // A wait the page cannot have fails it; the host still gets a rest.
    const bool tooLong = asked && *asked > TimeOut;
    const double wait = asked && !tooLong ? *asked : doubled;
    h.nextStart = std::max(h.nextStart, Now() + wait);
    if (tooLong || wait > TimeOut)
        return std::nullopt;
    return wait;
}

std::optional<double> THostPolicy::NextReady() const
{
    const double now = Now();
    std::optional<double> earliest;
    for (const auto& [key, h] : m_hosts) {
        if (h.nextStart > now && (!earliest || h.nextStart < *earliest))
            earliest = h.nextStart;
    }
    return earliest;
}

std::vector<String> THostPolicy::TakeWarnings()
{
    return std::exchange(m_warnings, {});
}

String THostPolicy::PaceNote() const
{
    const Host* slowest = nullptr;
    for (const auto& [key, h] : m_hosts) {
        if (h.crawlDelay >= 1 && (!slowest || h.crawlDelay > slowest->crawlDelay))
            slowest = &h;
    }
    if (!slowest || !ObeyRobots)
        return String();
    return "robots.txt of " + slowest->name + " asks " + seconds(slowest->crawlDelay) +
           " s between requests";
}

String THostPolicy::RetryAfterOf(const String& head)
{
    inet::ReplyHeaders headers;
    for (std::size_t at = 0; at < head.size();) {
        const auto end = head.find('\n', at);
        headers.addLine(
            std::string_view(head).substr(at, end == String::npos ? end : end + 1 - at));
        at = end == String::npos ? head.size() : end + 1;
    }
    headers.endOfHeaders();
    return headers.field("Retry-After").value_or(String());
}

std::optional<double> THostPolicy::RetryAfterSeconds(const String& value, std::time_t now)
{
    const auto begin = value.find_first_not_of(" \t");
    if (begin == String::npos)
        return std::nullopt;
    const String text = value.substr(begin, value.find_last_not_of(" \t") - begin + 1);
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Too many digits for any count is simply a very long wait.
        if (text.size() > 15)
            return std::numeric_limits<double>::infinity();
        return std::stod(text);
    }
    // An HTTP date, in any of the three forms HTTP allows.
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    const std::time_t date = curl_getdate(text.c_str(), nullptr);
    if (date == -1)
        return std::nullopt;
    return date > now ? static_cast<double>(date - now) : 0.0;
}
