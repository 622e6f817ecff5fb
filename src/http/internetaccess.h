// The internet-access layer's calls (InternetOpen, HttpSendRequest, ...) over libcurl.

#pragma once

#include "transfer.h"
#include "urlcomponents.h"

#include <cstdint>

// Our internet-access layer: the handful of operations of the platform HTTP
// library that the transfers and the URL code rely on, built over libcurl.
//
// Handles are opaque numbers, never reused, so a stale handle is simply
// invalid. Any thread may close any handle; a call blocked on a handle that
// another thread closes returns failure at once.

enum class HINTERNET : std::uintptr_t
{
};
inline constexpr HINTERNET NullHandle{};

inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr std::uint32_t INTERNET_SERVICE_HTTP = 3;
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000U;
inline constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000U;
// Not WinInet's: the request is the site's start page, whose redirects move
// the site, so the site's access (siteaccess.h) follows them.
inline constexpr std::uint32_t INTERNET_FLAG_SITE_START = 0x00000001U;

inline constexpr std::uint32_t HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr std::uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;

// Options of InternetSetOptionA / InternetQueryOptionA.
inline constexpr std::uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr std::uint32_t INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
inline constexpr std::uint32_t INTERNET_OPTION_URL = 34;
// On no handle (NullHandle): the path of a file of certificate authorities
// that later https transfers trust instead of the system's; not WinInet's.
inline constexpr std::uint32_t INTERNET_OPTION_CA_FILE = 0x10001;
// On a request before it is sent: the host (text, any letter case) that its
// redirects may lead to. They are then followed one hop at a time, each
// checked; one to any other host ends the transfer with that 3xx reply,
// unfollowed, so the other host sees no request. Not WinInet's.
inline constexpr std::uint32_t INTERNET_OPTION_REDIRECT_HOST = 0x10002;

// Lengths given as this mean "up to the terminating NUL".
inline constexpr std::uint32_t NUL_TERMINATED = 0xFFFFFFFFU;

// Error numbers of InternetGetLastResponseInfoA.
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr std::uint32_t ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr std::uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr std::uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr std::uint32_t ERROR_INTERNET_REPLY_TOO_LARGE = 12201;

// A reply body beyond this fails the read: a hostile server must not be able
// to fill memory or disk.
inline constexpr std::uint64_t kMaxReplyBody = 64ULL * 1024 * 1024;
inline constexpr long kMaxRedirects = 10;

HINTERNET InternetOpenA(const char* agent, std::uint32_t accessType, const char* proxy,
                        const char* proxyBypass, std::uint32_t flags);

HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port,
                           const char* userName, const char* password, std::uint32_t service,
                           std::uint32_t flags, std::uintptr_t context);

// acceptTypes: a null-terminated list; an entry may carry the "Accept: "
// prefix or be a bare media range. INTERNET_FLAG_SECURE selects https.
HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb, const char* objectName,
                           const char* version, const char* referrer,
                           const char* const* acceptTypes, std::uint32_t flags,
                           std::uintptr_t context);

// INTERNET_OPTION_RECEIVE_TIMEOUT, on a request before it is sent: a
// std::uint32_t of milliseconds that bounds the whole transfer, from the send
// to the body's end (0: no bound). A call blocked when it runs out fails with
// ERROR_INTERNET_TIMEOUT.
// INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, likewise: a std::uint32_t of
// milliseconds in which some reply byte must come, and in which the final
// reply's headers must be complete, counted from the send (0: no bound).
bool InternetSetOptionA(HINTERNET handle, std::uint32_t option, const void* buffer,
                        std::uint32_t length);

// INTERNET_OPTION_URL, on a sent request: the address of the final reply,
// after redirects, as NUL-terminated text; sizes as for HttpQueryInfoA.
bool InternetQueryOptionA(HINTERNET handle, std::uint32_t option, void* buffer,
                          std::uint32_t* length);

// Sends the request and returns once the final reply's headers have arrived
// (redirects followed).
bool HttpSendRequestA(HINTERNET request, const char* headers, std::uint32_t headersLength,
                      const void* optional, std::uint32_t optionalLength);

// Not the platform's: HttpSendRequestA that returns at once. onReply gets the
// whole reply, or its failure, once: on the transfer thread, or on a thread
// that closes the handle. False, with onReply never called, when the request
// cannot be sent (the failure is recorded).
bool HttpSendRequestWhole(HINTERNET request, const char* headers, std::uint32_t headersLength,
                          const void* optional, std::uint32_t optionalLength,
                          inet::ReplyHandler onReply);

// Answers from the final reply's headers as NUL-terminated text. Fails when
// the header is absent or does not fit; *bufferLength then holds the size
// needed. On success it holds the text's length.
// Bodies are asked for compressed and delivered decoded; a reply with a
// Content-Encoding therefore answers no HTTP_QUERY_CONTENT_LENGTH (the raw
// block still shows it).
bool HttpQueryInfoA(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index);

// Blocks until bytesToRead body bytes or the end of the body are there;
// *bytesRead of 0 with true means the body is complete.
bool InternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                      std::uint32_t* bytesRead);

bool InternetCloseHandle(HINTERNET handle);

bool InternetCrackUrlA(const char* url, std::uint32_t urlLength, std::uint32_t flags,
                       URL_COMPONENTSA* components);

bool InternetCombineUrlA(const char* baseUrl, const char* relativeUrl, char* buffer,
                         std::uint32_t* bufferLength, std::uint32_t flags);

// The error number and text of the calling thread's last failure; 0 and an
// empty text when it has had none.
bool InternetGetLastResponseInfoA(std::uint32_t* error, char* buffer, std::uint32_t* bufferLength);
