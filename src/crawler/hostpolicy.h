// THostPolicy: what each host of a crawl allows, and when it may be asked again.

#pragma once

#include "nqtypes.h"
#include "robots.h"
#include "transfererror.h"

#include <ctime>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

// One table per run, keyed by scheme, host and port: the host's robots.txt
// rules, its pace (Crawl-delay, --wait) and its back-off after a 429 or 503.
// Whoever sends requests asks Check before each one and reports its start
// and end; nothing here sleeps or fetches. Times are seconds on the clock
// given, so that tests can move time without waiting for it.
class THostPolicy
{
public:
    using TClock = std::function<double()>;  // seconds, never going back
    using TRandom = std::function<double()>; // uniform in [0, 1)

    // A site asking for more than this between requests gets this, and a warning.
    static constexpr double kMaxCrawlDelay = 30;
    // A 429 or 503 without a usable Retry-After waits this, doubled each time.
    static constexpr double kFirstBackOff = 5;

    // Empty functions: the steady clock and the standard generator.
    explicit THostPolicy(TClock now = {}, TRandom random = {});

    bool ObeyRobots = true;
    String AgentToken = "Netquarry"; // the product token robots.txt groups are matched against
    double Wait = 0;                 // --wait: at least this between starts on one host
    bool RandomWait = false;         // each gap 0.5 to 1.5 times Wait
    double TimeOut = 300;            // a back-off longer than this fails the page instead

    enum class Verdict
    {
        Go,                // ask now
        Later,             // the host is paced, backing off or reading its robots.txt
        FetchRobots,       // its robots.txt comes first: fetch it, then ask again
        Robots,            // robots.txt disallows the page
        RobotsUnavailable, // robots.txt answered 5xx: nothing of the host is fetched
        Unreachable,       // robots.txt could not be fetched at all: see Failure
    };
    Verdict Check(const String& url);
    // The robots.txt of url's host is being fetched.
    void RobotsFetching(const String& url);
    // Its outcome: status 0 with error when no reply came.
    void RobotsRead(const String& url, Integer status, const String& body,
                    const TransferError& error = {});
    // The sitemaps the robots.txt of url's host names, once it is read.
    std::vector<String> Sitemaps(const String& url) const;
    // Why the host of url could not be reached, after Verdict::Unreachable.
    TransferError Failure(const String& url) const;

    // A request to url's host went out, or came back.
    void Started(const String& url);
    void Finished(const String& url);
    // The host answered 429 or 503 with retryAfter (the header's value, maybe
    // empty) to the page's attempt-th request (from 1): the seconds until it
    // may be asked again, or nothing when that is longer than TimeOut and the
    // page should fail. Without a usable Retry-After the wait doubles with
    // each attempt of the page. Either way the host gets one request at a
    // time from now on.
    std::optional<double> BackOff(const String& url, const String& retryAfter, int attempt);

    double Now() const { return m_now(); }
    // The earliest time a host that is waiting now may be asked again;
    // nothing when no host waits on time.
    std::optional<double> NextReady() const;
    // Warnings not yet shown, each naming its host.
    std::vector<String> TakeWarnings();
    // What makes the run slow, for its progress line: the longest pace a
    // robots.txt asks for, at least a second; empty when none does.
    String PaceNote() const;

    // Retry-After as seconds from now: a count of seconds or an HTTP date
    // (a past date is 0). Nothing when it is neither, or negative.
    static std::optional<double> RetryAfterSeconds(const String& value, std::time_t now);
    // The Retry-After field of a reply's header block; empty when it has none.
    static String RetryAfterOf(const String& head);
    // "scheme://host:port" in lower case, the port always given.
    static String HostKey(const String& url);

private:
    enum class RobotsState
    {
        Unknown,
        Fetching,
        Read,
        Unavailable,
        Unreachable,
    };
    struct Host
    {
        String name; // for messages
        RobotsState robots = RobotsState::Unknown;
        TRobotsRules rules;
        TransferError failure;
        double crawlDelay = 0;
        double nextStart = 0;
        int inFlight = 0;
        bool single = false; // one request at a time
    };
    Host& host(const String& url);

    TClock m_now;
    TRandom m_random;
    std::unordered_map<String, Host> m_hosts;
    std::vector<String> m_warnings;
};
