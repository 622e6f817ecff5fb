#include "sitegenerator.h"

#include <random>

namespace nqtest {

namespace {

const char* const kWords[] = {"quarry", "granite", "site", "search", "keyword", "lorem",
                              "ipsum",  "dolor",   "amet", "crawl",  "page",    "link"};

std::string padding(std::size_t bytes, std::mt19937& random)
{
    std::string text;
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kWords) - 1);
    while (text.size() < bytes) {
        text += "<p>";
        for (int i = 0; i < 12; ++i) {
            text += kWords[pick(random)];
            text += ' ';
        }
        text += "</p>\n";
    }
    return text;
}

} // namespace

GeneratedSite GenerateSite(const SiteShape& shape)
{
    GeneratedSite site;
    std::mt19937 random(shape.seed);
    std::vector<std::vector<std::size_t>> levels(shape.pagesPerLevel.size());

    for (std::size_t level = 0; level < shape.pagesPerLevel.size(); ++level) {
        for (int i = 0; i < shape.pagesPerLevel[level]; ++i) {
            SitePage page;
            page.level = static_cast<int>(level) + 1;
            page.path = level == 0 ? std::string("/index.htm")
                                   : "/l" + std::to_string(level + 1) + "/p" +
                                         std::to_string(site.pages.size()) + ".htm";
            levels[level].push_back(site.pages.size());
            site.levelOf[page.path] = page.level;
            site.pages.push_back(std::move(page));
        }
    }
    // Each page of a level gets a parent among the pages of the level above.
    std::vector<std::size_t> parentOf(site.pages.size(), 0);
    for (std::size_t level = 1; level < levels.size(); ++level) {
        const auto& above = levels[level - 1];
        for (std::size_t k = 0; k < levels[level].size(); ++k) {
            const std::size_t child = levels[level][k];
            const std::size_t parent = above[k % above.size()];
            parentOf[child] = parent;
            site.pages[parent].childPaths.push_back(site.pages[child].path);
        }
    }

    for (std::size_t i = 0; i < site.pages.size(); ++i) {
        SitePage& page = site.pages[i];
        std::string body =
            "<html><head><title>Page " + std::to_string(i) + "</title></head>\n<body>\n";
        int n = 0;
        for (const auto& child : page.childPaths) {
            // Absolute paths keep the tree independent of the directories.
            body += (n++ % 2 == 0) ? "<a href = \"" + child + "\">child</a>\n"
                                   : "<A HREF='" + child + "'>child</A>\n";
            ++site.linkCount;
        }
        int extras = shape.extraLinks;
        if (shape.extraLinksMax > shape.extraLinks)
            extras =
                std::uniform_int_distribution<int>(shape.extraLinks, shape.extraLinksMax)(random);
        for (int extra = 0; extra < extras; ++extra) {
            switch (extra % 5) {
            case 0:
                body += "<a href=\"/index.htm\">home</a>\n";
                break;
            case 1:
                body += "<a href=\"" + site.pages[parentOf[i]].path + "\">up</a>\n";
                break;
            case 2:
                body += "<img src=\"/img/p" + std::to_string(i) + ".gif\">\n";
                break;
            case 3:
                body += "<a href=\"/docs/p" + std::to_string(i) + ".pdf\">pdf</a>\n";
                break;
            case 4:
                // The script call's quoted page replaces the whole value.
                body += "<a href=\"mailto:web@site.test\">mail</a><a href=\"javascript:"
                        "window.open('" +
                        site.pages[parentOf[i]].path + "')\">js</a>\n";
                break;
            }
            ++site.linkCount;
        }
        body += padding(shape.pageBytes, random);
        body += "</body></html>\n";
        page.body = std::move(body);
    }
    return site;
}

void ServeSite(LoopbackServer& server, const GeneratedSite& site)
{
    for (const auto& page : site.pages)
        server.serve(page.path, Reply::html(page.body));
}

} // namespace nqtest
