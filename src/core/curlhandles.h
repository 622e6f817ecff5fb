// Owner types for libcurl's handles and its global set-up.

#pragma once

#include <curl/curl.h>

#include <memory>

// Owners for libcurl's C handles. A handle is used by one thread at a time.

struct CurlEasyDeleter
{
    void operator()(CURL* h) const noexcept { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter
{
    void operator()(CURLM* h) const noexcept { curl_multi_cleanup(h); }
};
struct CurlShareDeleter
{
    void operator()(CURLSH* h) const noexcept { curl_share_cleanup(h); }
};
struct CurlUrlDeleter
{
    void operator()(CURLU* h) const noexcept { curl_url_cleanup(h); }
};
struct CurlSlistDeleter
{
    void operator()(curl_slist* l) const noexcept { curl_slist_free_all(l); }
};
struct CurlFreeDeleter
{
    void operator()(char* p) const noexcept { curl_free(p); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlText = std::unique_ptr<char, CurlFreeDeleter>;

// Registers work that must end before libcurl's global cleanup, such as
// stopping a thread that drives libcurl. CurlGlobal's destructor runs it,
// newest first.
void AtCurlCleanup(void (*stop)());

// Initialises libcurl once for the process; create it in main (and in the
// test main) before any thread starts.
class CurlGlobal
{
public:
    CurlGlobal();
    ~CurlGlobal();
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};
