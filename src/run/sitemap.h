// Sitemaps (sitemaps.org): the page addresses a site lists for crawlers.

#pragma once

#include "nqtypes.h"

#include <cstddef>
#include <vector>

// What one sitemap file lists: pages (a <urlset>) or further sitemaps (a
// <sitemapindex>), in their order.
struct TSitemap
{
    std::vector<String> Pages;
    std::vector<String> Sitemaps;
};

// The protocol's own bounds, which a hostile file must not get past: the
// XML read (after gunzip) and the addresses taken from one file.
inline constexpr std::size_t kMaxSitemapBytes = 50 * 1024 * 1024;
inline constexpr std::size_t kMaxSitemapEntries = 50000;

// body: the file as fetched, plain or gzip. Never fails: rubbish gives an
// empty list, XML beyond the bounds or after an error is ignored.
TSitemap ParseSitemap(const String& body);
