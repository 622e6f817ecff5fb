// Sitemaps (sitemaps.org): the page addresses a site lists for crawlers.

#include "sitemap.h"

#include "textdecode.h"

#include <QXmlStreamReader>

#include <zlib.h>

#include <memory>

namespace {

// The gzip stream's content, cut at kMaxSitemapBytes; what came before a
// damaged part is kept.
String gunzip(const String& body)
{
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return String();
    const std::unique_ptr<z_stream, int (*)(z_stream*)> owner(&z, inflateEnd);
    String out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(body.size(), UINT32_MAX));
    char chunk[64 * 1024];
    while (out.size() < kMaxSitemapBytes) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        const int result = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
        if (result != Z_OK)
            break; // the end, damage, or no more input
    }
    if (out.size() > kMaxSitemapBytes)
        out.resize(kMaxSitemapBytes);
    return out;
}

} // namespace

TSitemap ParseSitemap(const String& body)
{
    const bool gzip = body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0x1f &&
                      static_cast<unsigned char>(body[1]) == 0x8b;
    const String xml = gzip ? gunzip(body) : body.substr(0, kMaxSitemapBytes);
    TSitemap map;
    QXmlStreamReader reader(
        QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size())));
    // <loc> counts within <url> (a page) or <sitemap> (another sitemap).
    QString parent;
    while (!reader.atEnd() && map.Pages.size() + map.Sitemaps.size() < kMaxSitemapEntries) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.name();
        if (name == QLatin1String("url") || name == QLatin1String("sitemap")) {
            parent = name.toString();
        } else if (name == QLatin1String("loc") && !parent.isEmpty()) {
            const String address =
                ToUtf8(reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed());
            // An address cut by the file's end or an error is no address.
            if (!address.empty() && !reader.hasError())
                (parent == QLatin1String("url") ? map.Pages : map.Sitemaps).push_back(address);
            parent.clear();
        }
    }
    return map;
}
