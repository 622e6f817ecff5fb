// Owner types for libcurl's handles and its global set-up.

#include "curlhandles.h"

#include <csignal>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

struct CleanupHooks
{
    std::mutex mutex;
    std::vector<void (*)()> hooks;
};

CleanupHooks& cleanupHooks()
{
    static CleanupHooks hooks;
    return hooks;
}

} // namespace

void AtCurlCleanup(void (*stop)())
{
    auto& registry = cleanupHooks();
    const std::lock_guard lock(registry.mutex);
    registry.hooks.push_back(stop);
}

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
    std::vector<void (*)()> hooks;
    {
        auto& registry = cleanupHooks();
        const std::lock_guard lock(registry.mutex);
        hooks = registry.hooks;
    }
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        (*it)();
    curl_global_cleanup();
}
