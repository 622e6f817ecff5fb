// Address decomposition and combination in the platform's URL-call shape.

#pragma once

#include <cstdint>

// Address decomposition and combination in the shape of the platform's URL
// calls, over libcurl's URL API. The internet-access layer forwards its
// InternetCrackUrlA and InternetCombineUrlA here; TCrackUrl uses them
// directly, so the foundations need nothing of the layer.

inline constexpr std::uint32_t ICU_ESCAPE = 0x80000000U;
inline constexpr std::uint32_t ICU_DECODE = 0x10000000U;
inline constexpr std::uint32_t ICU_NO_ENCODE = 0x20000000U;

using INTERNET_PORT = std::uint16_t;

enum INTERNET_SCHEME : int
{
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_FTP = 1,
    INTERNET_SCHEME_HTTP = 3,
    INTERNET_SCHEME_HTTPS = 4,
    INTERNET_SCHEME_FILE = 5,
};

// Each buffer is announced with its capacity in characters, terminating NUL
// included; a component that does not fit fails the whole call. On success
// each length holds the component's length without the NUL. A null buffer or
// a zero length means the caller does not want that component.
struct URL_COMPONENTSA
{
    std::uint32_t dwStructSize;
    char* lpszScheme;
    std::uint32_t dwSchemeLength;
    INTERNET_SCHEME nScheme;
    char* lpszHostName;
    std::uint32_t dwHostNameLength;
    INTERNET_PORT nPort;
    char* lpszUserName;
    std::uint32_t dwUserNameLength;
    char* lpszPassword;
    std::uint32_t dwPasswordLength;
    char* lpszUrlPath;
    std::uint32_t dwUrlPathLength;
    char* lpszExtraInfo;
    std::uint32_t dwExtraInfoLength;
};

enum class UrlError
{
    None,
    InvalidUrl,
    BufferTooSmall,
    BadArgument,
};

// Splits an absolute address. With ICU_DECODE, %xx sequences in user name,
// password, path and extra information come back decoded. The port is the
// scheme's default when the address names none.
UrlError CrackUrlComponents(const char* url, std::uint32_t urlLength, std::uint32_t flags,
                            URL_COMPONENTSA* parts);

// Resolves relative against base into buffer (capacity *bufferLength, NUL
// included); *bufferLength receives the result's length, or the size needed
// when it does not fit. Whatever the flags, a relative link's spaces and
// bytes outside ASCII come back percent-encoded, as libcurl resolves it.
UrlError CombineUrl(const char* base, const char* relative, char* buffer,
                    std::uint32_t* bufferLength, std::uint32_t flags);
