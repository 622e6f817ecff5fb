// The generated site served by nginx on 127.0.0.1 with an ephemeral port, started and stopped by
// the bench.

#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

// nginx serving pages from files written into folder, with its own
// configuration, logs and pid file there; it runs while this object lives.
// Every request is written to its access log, which gives the counts.
class NginxServer
{
public:
    using Pages = std::unordered_map<std::string, std::string>; // path to HTML body
    struct Options
    {
        std::filesystem::path root; // serve this folder as it is instead of the pages
        // Both set: https with HTTP/2 instead of plain http.
        std::filesystem::path certificate;
        std::filesystem::path key;
    };

    NginxServer(const std::filesystem::path& folder, const Pages& pages,
                const Options& options = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // False when nginx is missing or did not come up; why() says what went wrong.
    bool running() const { return m_running; }
    const std::string& why() const { return m_why; }
    std::string url(std::string_view path) const;
    std::uint16_t port() const { return m_port; }
    std::size_t requestCount() const;
    std::size_t connectionCount() const;

private:
    std::filesystem::path m_folder;
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
    bool m_running = false;
    bool m_secure = false;
    std::string m_why;
};
