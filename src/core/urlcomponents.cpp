// Address decomposition and combination in the platform's URL-call shape.

#include "urlcomponents.h"

#include "curlhandles.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Spaces are common in the links of hand-written pages; keep them
// decomposable instead of rejecting the whole address.
constexpr unsigned int kParseFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

std::string getPart(CURLU* url, CURLUPart what, unsigned int flags, bool* ok)
{
    char* raw = nullptr;
    const CURLUcode rc = curl_url_get(url, what, &raw, flags);
    const CurlText owned(raw);
    if (rc == CURLUE_OK)
        return owned ? std::string(owned.get()) : std::string();
    // Parts the address does not carry are empty; anything else (a %00 that
    // cannot be decoded, say) makes the address unusable.
    switch (rc) {
    case CURLUE_NO_USER:
    case CURLUE_NO_PASSWORD:
    case CURLUE_NO_QUERY:
    case CURLUE_NO_FRAGMENT:
    case CURLUE_NO_PORT:
        break;
    default:
        *ok = false;
    }
    return {};
}

// libcurl reports "/" for an address without a path; the decomposition says
// empty, as the address has none.
bool hasPath(std::string_view url)
{
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos)
        return true;
    const auto rest = url.substr(schemeEnd + 3);
    const auto end = rest.find_first_of("/?#");
    return end != std::string_view::npos && rest[end] == '/';
}

bool store(const std::string& value, char* buffer, std::uint32_t* length)
{
    if (!buffer || *length == 0)
        return true;
    if (value.size() >= *length)
        return false;
    std::memcpy(buffer, value.data(), value.size());
    buffer[value.size()] = '\0';
    *length = static_cast<std::uint32_t>(value.size());
    return true;
}

INTERNET_SCHEME schemeKind(const std::string& scheme)
{
    if (scheme == "http")
        return INTERNET_SCHEME_HTTP;
    if (scheme == "https")
        return INTERNET_SCHEME_HTTPS;
    if (scheme == "ftp")
        return INTERNET_SCHEME_FTP;
    if (scheme == "file")
        return INTERNET_SCHEME_FILE;
    return INTERNET_SCHEME_UNKNOWN;
}

CurlUrl parse(const char* text)
{
    CurlUrl url(curl_url());
    if (url && curl_url_set(url.get(), CURLUPART_URL, text, kParseFlags) != CURLUE_OK)
        url.reset();
    return url;
}

std::string fullUrl(CURLU* url)
{
    bool ok = true;
    std::string text = getPart(url, CURLUPART_URL, 0, &ok);
    return ok ? text : std::string();
}

} // namespace

UrlError CrackUrlComponents(const char* url, std::uint32_t urlLength, std::uint32_t flags,
                            URL_COMPONENTSA* parts)
{
    if (!url || !parts)
        return UrlError::BadArgument;
    const std::string text(url, urlLength == 0 ? std::strlen(url) : urlLength);
    if (text.empty() || text.find('\0') != std::string::npos)
        return UrlError::InvalidUrl;
    const CurlUrl handle = parse(text.c_str());
    if (!handle)
        return UrlError::InvalidUrl;

    const unsigned int decode = (flags & ICU_DECODE) ? CURLU_URLDECODE : 0U;
    bool ok = true;
    const std::string scheme = getPart(handle.get(), CURLUPART_SCHEME, 0, &ok);
    const std::string host = getPart(handle.get(), CURLUPART_HOST, 0, &ok);
    const std::string port = getPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, &ok);
    const std::string user = getPart(handle.get(), CURLUPART_USER, decode, &ok);
    const std::string password = getPart(handle.get(), CURLUPART_PASSWORD, decode, &ok);
    std::string path = getPart(handle.get(), CURLUPART_PATH, decode, &ok);
    if (!hasPath(text))
        path.clear();

    std::string extra;
    char* raw = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_QUERY, &raw, decode) == CURLUE_OK) {
        const CurlText query(raw);
        extra = "?" + std::string(query ? query.get() : "");
    }
    raw = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_FRAGMENT, &raw, decode) == CURLUE_OK) {
        const CurlText fragment(raw);
        extra += "#" + std::string(fragment ? fragment.get() : "");
    }
    if (!ok)
        return UrlError::InvalidUrl;

    unsigned int portNumber = 0;
    if (!port.empty()) {
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), portNumber);
        if (ec != std::errc() || end != port.data() + port.size() || portNumber > 65535U)
            return UrlError::InvalidUrl;
    }

    if (!store(scheme, parts->lpszScheme, &parts->dwSchemeLength) ||
        !store(host, parts->lpszHostName, &parts->dwHostNameLength) ||
        !store(user, parts->lpszUserName, &parts->dwUserNameLength) ||
        !store(password, parts->lpszPassword, &parts->dwPasswordLength) ||
        !store(path, parts->lpszUrlPath, &parts->dwUrlPathLength) ||
        !store(extra, parts->lpszExtraInfo, &parts->dwExtraInfoLength))
        return UrlError::BufferTooSmall;
    parts->nScheme = schemeKind(scheme);
    parts->nPort = static_cast<INTERNET_PORT>(portNumber);
    return UrlError::None;
}

UrlError CombineUrl(const char* base, const char* relative, char* buffer,
                    std::uint32_t* bufferLength, std::uint32_t /*flags*/)
{
    if (!base || !relative || !buffer || !bufferLength)
        return UrlError::BadArgument;
    const CurlUrl handle = parse(base);
    if (!handle)
        return UrlError::InvalidUrl;

    // libcurl 7.88 merges a reference that is only a fragment or only a query
    // like a path; RFC 3986 keeps the base's path (and its query for "#").
    std::string result;
    const char first = relative[0];
    if (first == '\0' || first == '#' || first == '?') {
        curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0);
        if (first == '?')
            curl_url_set(handle.get(), CURLUPART_QUERY, nullptr, 0);
        result = fullUrl(handle.get());
        if (result.empty())
            return UrlError::InvalidUrl;
        result += relative;
    } else {
        if (curl_url_set(handle.get(), CURLUPART_URL, relative, kParseFlags) != CURLUE_OK)
            return UrlError::InvalidUrl;
        result = fullUrl(handle.get());
        if (result.empty())
            return UrlError::InvalidUrl;
    }

    if (result.size() >= *bufferLength) {
        *bufferLength = static_cast<std::uint32_t>(result.size() + 1);
        return UrlError::BufferTooSmall;
    }
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    *bufferLength = static_cast<std::uint32_t>(result.size());
    return UrlError::None;
}
