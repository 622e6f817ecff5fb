// The generated site served by nginx on 127.0.0.1 with an ephemeral port, started and stopped by
// the bench.

#include "nginxserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A port nothing listens on now; nginx binds it a moment later.
std::uint16_t freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool accepts(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::vector<std::string> accessLog(const fs::path& folder)
{
    std::ifstream in(folder / "access.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

NginxServer::NginxServer(const fs::path& folder, const Pages& pages, const Options& options)
    : m_folder(folder), m_secure(!options.certificate.empty() && !options.key.empty())
{
    const fs::path site = options.root.empty() ? folder / "site" : options.root;
    std::error_code error;
    fs::create_directories(folder / "temp", error);
    // A folder given is served as it is: never written to, its permissions untouched.
    if (options.root.empty()) {
        fs::create_directories(site, error);
        for (const auto& [path, body] : pages) {
            const fs::path file = site / fs::path(path).relative_path();
            fs::create_directories(file.parent_path(), error);
            std::ofstream(file, std::ios::binary) << body;
        }
        // nginx's workers drop root for nobody, who must reach the files.
        for (fs::path p = site; !p.empty() && p != p.root_path(); p = p.parent_path())
            fs::permissions(p, fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add, error);
        for (const auto& entry : fs::recursive_directory_iterator(site, error))
            fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add, error);
    }

    m_port = freePort();
    const std::string dir = folder.string();
    std::ofstream config(folder / "nginx.conf");
    config
        // As root (in a namespace of its own too) the workers keep root
        // rather than become nobody, who may not exist there.
        << (geteuid() == 0 ? "user root root;\n" : "") << "daemon off;\nworker_processes 1;\npid "
        << dir << "/nginx.pid;\n"
        << "error_log " << dir << "/error.log;\n"
        << "events { worker_connections 1024; }\n"
        << "http {\n"
        << "  types { text/html htm html; }\n  default_type application/octet-stream;\n"
        << "  log_format bench '$connection $msec $request_time \"$request\" $status';\n"
        << "  access_log " << dir << "/access.log bench;\n"
        << "  client_body_temp_path " << dir << "/temp/body;\n"
        << "  proxy_temp_path " << dir << "/temp/proxy;\n"
        << "  fastcgi_temp_path " << dir << "/temp/fastcgi;\n"
        << "  uwsgi_temp_path " << dir << "/temp/uwsgi;\n"
        << "  scgi_temp_path " << dir << "/temp/scgi;\n"
        << "  keepalive_requests 1000000;\n  sendfile on;\n"
        << "  server {\n    listen 127.0.0.1:" << m_port << (m_secure ? " ssl http2" : "")
        << ";\n    root " << site.string() << ";\n";
    if (m_secure)
        config << "    ssl_certificate " << options.certificate.string() << ";\n"
             << "    ssl_certificate_key " << options.key.string() << ";\n"
             << "    http2_max_concurrent_streams 128;\n";
    config << "  }\n}\n";
    config.close();

    const std::string conf = (folder / "nginx.conf").string();
    std::vector<std::string> argv = {"nginx", "-p", dir, "-c", conf, "-e", dir + "/error.log"};
    std::vector<char*> args;
    for (auto& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawnp(&m_pid, "nginx", nullptr, nullptr, args.data(), environ) != 0) {
        m_pid = -1;
        m_why = "nginx is missing (apt-get install nginx)";
        return;
    }
    for (int i = 0; i < 100 && !m_running; ++i) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_why = "nginx ended at once; see " + dir + "/error.log";
            return;
        }
        m_running = accepts(m_port);
        if (!m_running)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!m_running)
        m_why = "nginx did not listen within 5 s";
}

NginxServer::~NginxServer()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
}

std::string NginxServer::url(std::string_view path) const
{
    return (m_secure ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port) +
           std::string(path);
}

std::size_t NginxServer::requestCount() const
{
    return accessLog(m_folder).size();
}

std::size_t NginxServer::connectionCount() const
{
    std::set<std::string> connections;
    for (const auto& line : accessLog(m_folder))
        connections.insert(line.substr(0, line.find(' ')));
    return connections.size();
}
