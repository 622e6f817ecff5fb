#pragma once

#include "loopbackserver.h"

#include <string>
#include <utility>
#include <vector>

namespace nqtest {

// A small site served the way generated sites are served today: the start
// address redirects to the canonical host (127.0.0.1 to localhost), pages
// come chunked or ended by the connection's close with no Content-Length,
// .php pages take queries, a folder link redirects to the folder with its
// slash, and there are script pseudo-links, fragments, padded values and
// parentheses in names. Search it from ModernSiteStart for "quarry" at
// depth 3.
void ServeModernSite(LoopbackServer& server);
std::string ModernSiteStart(const LoopbackServer& server);
// Its pages as a search must list them, in order, with their hits.
std::vector<std::pair<std::string, int>> ModernSitePages(const LoopbackServer& server);

} // namespace nqtest
