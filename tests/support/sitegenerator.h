#pragma once

#include "loopbackserver.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace nqtest {

// The shape of a generated site: a tree of pages below "/index.htm", each
// level's pages spread over the pages of the level above.
struct SiteShape
{
    std::vector<int> pagesPerLevel = {1, 4, 12}; // level 1 is the start page alone
    std::size_t pageBytes = 2000;                // padding text per page, roughly
    int extraLinks = 4;    // links to ancestors, images, documents, mail and scripts
    int extraLinksMax = 0; // above extraLinks: each page draws its count up to this
    unsigned seed = 1;
};

struct SitePage
{
    std::string path;
    int level = 1;
    std::vector<std::string> childPaths;
    std::string body;
};

struct GeneratedSite
{
    std::vector<SitePage> pages; // pages[0] is "/index.htm"
    std::map<std::string, int> levelOf;
    std::size_t linkCount = 0; // page and other links written into the bodies
};

// Pages link to their children with double or single quotes, spaces around
// "=", mixed letter case, and besides: their ancestors and the start page,
// an image and a document per page, a mail address and a script call, so
// the crawler meets duplicates, links it reports without following, and
// links it must drop.
GeneratedSite GenerateSite(const SiteShape& shape);

// Registers every page of the site as an HTML route.
void ServeSite(LoopbackServer& server, const GeneratedSite& site);

} // namespace nqtest
