// SiteAccess: what lets the crawl into a site (credentials, cookies, headers), kept to its host.

#include "siteaccess.h"

#include "curlhandles.h"
#include "replyheaders.h"
#include "stringhelpers.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

namespace inet {

namespace {

std::mutex g_accessMutex;
std::shared_ptr<const SiteAccess> g_access; // guarded by g_accessMutex

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t from = 0;
    for (;;) {
        const auto tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string_view::npos ? tab : tab - from));
        if (tab == std::string_view::npos)
            return fields;
        from = tab + 1;
    }
}

bool isFlag(std::string_view text)
{
    return text == "TRUE" || text == "FALSE";
}

constexpr std::string_view kHttpOnly = "#HttpOnly_";

// Domain, subdomain flag, path, secure flag, expiry, name and value; the
// value may be missing.
bool isCookie(std::string_view line)
{
    if (line.starts_with(kHttpOnly))
        line.remove_prefix(kHttpOnly.size());
    const auto fields = splitTabs(line);
    if (fields.size() != 6 && fields.size() != 7)
        return false;
    const auto control = [](std::string_view field) {
        return std::any_of(field.begin(), field.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ';
        });
    };
    if (std::any_of(fields.begin(), fields.begin() + 6, control))
        return false;
    const std::string_view expiry = fields[4];
    return !fields[0].empty() && fields[0] != "." && isFlag(fields[1]) &&
           fields[2].starts_with('/') && isFlag(fields[3]) && !expiry.empty() &&
           std::all_of(expiry.begin(), expiry.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
           !fields[5].empty();
}

} // namespace

bool OriginOf(std::string_view address, std::string* host, long* port)
{
    CurlUrl url(curl_url());
    if (!url ||
        curl_url_set(url.get(), CURLUPART_URL, std::string(address).c_str(), 0) != CURLUE_OK)
        return false;
    char* hostText = nullptr;
    char* portText = nullptr;
    if (curl_url_get(url.get(), CURLUPART_HOST, &hostText, 0) != CURLUE_OK)
        return false;
    const CurlText ownedHost(hostText);
    if (curl_url_get(url.get(), CURLUPART_PORT, &portText, CURLU_DEFAULT_PORT) != CURLUE_OK)
        return false;
    const CurlText ownedPort(portText);
    *host = AsciiLower(hostText);
    *port = std::strtol(portText, nullptr, 10);
    return !host->empty();
}

bool SiteAccess::covers(std::string_view address) const
{
    std::string otherHost;
    long otherPort = 0;
    return OriginOf(address, &otherHost, &otherPort) && otherHost == host && otherPort == port;
}

SiteAccess SiteAccess::For(std::string_view address)
{
    SiteAccess access;
    OriginOf(address, &access.host, &access.port);
    return access;
}

void SetSiteAccess(std::shared_ptr<const SiteAccess> access)
{
    const std::lock_guard lock(g_accessMutex);
    g_access = std::move(access);
}

std::shared_ptr<const SiteAccess> CurrentSiteAccess()
{
    const std::lock_guard lock(g_accessMutex);
    return g_access;
}

std::string HeaderProblem(std::string_view header)
{
    if (header.find_first_of("\r\n") != std::string_view::npos)
        return "a header is one line";
    const auto colon = header.find(':');
    if (colon == std::string_view::npos)
        return "a header is 'Name: value'";
    // The name is an HTTP token: no blanks, no separators.
    const std::string_view name = header.substr(0, colon);
    const bool token = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F &&
               std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
    });
    if (!token)
        return "the header's name is not a name";
    const std::string_view value = header.substr(colon + 1);
    if (std::any_of(value.begin(), value.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && c != '\t') || u == 0x7F;
        }))
        return "the header's value holds a control character";
    return std::string();
}

CookieLines ParseCookieFile(std::string_view text)
{
    CookieLines result;
    int number = 0;
    std::size_t from = 0;
    while (from < text.size()) {
        auto end = text.find('\n', from);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(from, end - from);
        from = end + 1;
        ++number;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (TrimSpace(line).empty() || (line.starts_with('#') && !line.starts_with(kHttpOnly)))
            continue;
        if (isCookie(line))
            result.cookies.emplace_back(line);
        else
            result.skipped.push_back(number);
    }
    return result;
}

bool CookieServesHost(std::string_view line, std::string_view host)
{
    if (line.starts_with(kHttpOnly))
        line.remove_prefix(kHttpOnly.size());
    const auto fields = splitTabs(line);
    if (fields.size() < 2)
        return false;
    std::string domain = AsciiLower(fields[0]);
    if (!domain.empty() && domain.front() == '.')
        domain.erase(0, 1);
    const std::string lower = AsciiLower(host);
    if (lower == domain)
        return true;
    return fields[1] == "TRUE" && lower.size() > domain.size() && lower.ends_with("." + domain);
}

} // namespace inet
