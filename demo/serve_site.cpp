// Serves a folder on 127.0.0.1 with the project's loopback server, for the
// demo: prints the site's address, then serves until it is stopped.

#include "loopbackserver.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string contentType(const std::filesystem::path& file)
{
    const std::string ext = file.extension().string();
    if (ext == ".htm" || ext == ".html")
        return "text/html";
    if (ext == ".gif")
        return "image/gif";
    return "application/octet-stream";
}

volatile std::sig_atomic_t g_stop = 0;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: serve-site FOLDER\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    nqtest::LoopbackServer server;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream body;
        body << in.rdbuf();
        nqtest::Reply reply;
        reply.headers.emplace_back("Content-Type", contentType(entry.path()));
        reply.body = body.str();
        server.serve("/" + entry.path().lexically_relative(root).generic_string(), reply);
        ++files;
    }
    std::printf("%s\n", server.url("/").c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "serving %zu files\n", files);
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    while (!g_stop)
        pause();
    return 0;
}
