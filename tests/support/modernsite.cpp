#include "modernsite.h"

namespace nqtest {

namespace {

std::string canonical(const LoopbackServer& server, const std::string& path)
{
    return "http://localhost:" + std::to_string(server.port()) + path;
}

Reply generated(std::string body, bool chunked)
{
    Reply reply = Reply::html(std::move(body));
    reply.addContentLength = false;
    reply.chunked = chunked;
    reply.chunkSize = 7;
    return reply;
}

} // namespace

void ServeModernSite(LoopbackServer& server)
{
    server.serve("/", Reply::redirect(301, canonical(server, "/home.php")));
    server.serve(
        "/home.php",
        generated("<a href=\"docs\">Docs</a> <a href=\"list.php?page=1\">1</a>\n"
                  "<a href='list.php?page=2'>2</a> <a href=\"javascript:void(0)\">x</a>\n"
                  "<a href=\"javascript:history.back()\">back</a> <a href=\"#top\">top</a>\n"
                  "<a href=\" about.htm \">About</a> <a href=\"Git_(software).htm\">Git</a>\n"
                  "<a href=\"" +
                      canonical(server, "/about.htm").replace(0, 16, "HTTP://LOCALHOST") +
                      "\">About again</a> quarry",
                  true));
    server.serve("/docs", Reply::redirect(301, canonical(server, "/docs/")));
    server.serve("/docs/", generated("<a href=\"intro.htm\">Intro</a> quarry quarry", false));
    server.serve("/docs/intro.htm", generated("quarry quarry quarry", true));
    server.serve("/list.php", generated("the wrong page", true));
    server.serve("/list.php?page=1", generated("page one: quarry", true));
    server.serve("/list.php?page=2", generated("page two: quarry quarry quarry quarry", false));
    server.serve("/about.htm", generated("about the quarry, the quarry", true));
    server.serve("/Git_(software).htm", generated("git quarry", false));
}

std::string ModernSiteStart(const LoopbackServer& server)
{
    return server.url("/");
}

std::vector<std::pair<std::string, int>> ModernSitePages(const LoopbackServer& server)
{
    return {
        {canonical(server, "/home.php"), 1},        {canonical(server, "/docs"), 2},
        {canonical(server, "/list.php?page=1"), 1}, {canonical(server, "/list.php?page=2"), 4},
        {canonical(server, "/about.htm"), 2},       {canonical(server, "/Git_(software).htm"), 1},
        {canonical(server, "/docs/intro.htm"), 3}};
}

} // namespace nqtest
