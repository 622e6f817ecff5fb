#include "curlhandles.h"

#include <csignal>
#include <stdexcept>

CurlGlobal::CurlGlobal()
{
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        throw std::runtime_error("libcurl could not be initialised");
    // Handles run with CURLOPT_NOSIGNAL, so a peer that closes its end of a
    // TLS connection would otherwise kill the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

CurlGlobal::~CurlGlobal()
{
    curl_global_cleanup();
}
