// A page's body as strangers write it: prepared, marked and scanned as the
// crawler does, every value found resolved against a fixed page, typed and
// decomposed.
#include "crackurl.h"
#include "fuzzcheck.h"
#include "linkscan.h"
#include "pagescan.h"
#include "stringhelpers.h"
#include "urlcomponents.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

// Below the root, so that "../" and "/" both lead somewhere else.
const TCrackUrl& fixedPage()
{
    static TCrackUrl page;
    static const bool cracked = page.Crack("http://fuzz.test/d/sub/page.htm");
    FUZZ_CHECK(cracked);
    return page;
}

bool hasUpperAscii(const String& text)
{
    for (const char ch : text) {
        if (ch >= 'A' && ch <= 'Z')
            return true;
    }
    return false;
}

void checkType(const String& address)
{
    const String type = LinkType(address);
    FUZZ_CHECK(!type.empty());
    FUZZ_CHECK(!hasUpperAscii(type));
    // A short extension, the verdict "unknown", or the scheme of an address
    // that is never fetched, whatever its length.
    if (type.size() > 4 && type != "unknown") {
        const auto sep = address.find("://");
        FUZZ_CHECK(sep != String::npos && sep > 0);
        String scheme = address.substr(0, sep);
        for (char& ch : scheme)
            if (ch >= 'A' && ch <= 'Z')
                ch = static_cast<char>(ch - 'A' + 'a');
        FUZZ_CHECK(type == scheme && scheme != "http" && scheme != "https");
    }
}

// The page scan's merges of plain references must give what libcurl's
// merge gives; the page's directory is the base of both.
void checkMerge(const String& value, const String& address)
{
    std::string_view reference = value;
    while (!reference.empty() && static_cast<unsigned char>(reference.front()) <= ' ')
        reference.remove_prefix(1);
    while (!reference.empty() && static_cast<unsigned char>(reference.back()) <= ' ')
        reference.remove_suffix(1);
    if (address.empty() || StartsWithNoCase(reference, "HTTP://") ||
        StartsWithNoCase(reference, "HTTPS://"))
        return;
    const String text(reference);
    std::array<char, 1024> buffer{};
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    FUZZ_CHECK(CombineUrl("http://fuzz.test/d/sub/", text.c_str(), buffer.data(), &length,
                          ICU_NO_ENCODE) == UrlError::None);
    String merged(buffer.data(), length);
    const std::size_t hash = merged.find('#');
    if (hash != String::npos && hash > 0)
        merged.erase(hash);
    FUZZ_CHECK(merged == address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const TCrackUrl& page = fixedPage();
    // One decomposition for all links of a page, as the crawler keeps it.
    static TCrackUrl link;

    const String body(reinterpret_cast<const char*>(data), size);
    String text = PreparePage(body);
    FUZZ_CHECK(text.size() <= body.size());
    for (const char ch : text)
        FUZZ_CHECK(static_cast<unsigned char>(ch) >= 32);

    const std::size_t prepared = text.size();
    MarkTags(text);
    FUZZ_CHECK(text.size() <= prepared);
    // The crawler's one pass must mark exactly what the two steps mark.
    FUZZ_CHECK(PrepareAndMark(body) == text);

    Integer anchorCount = 0;
    std::vector<TFoundLink> links; // what the crawler's page scan must give, found the long way
    ScanHooks hooks;
    hooks.found = [&anchorCount, &page, &links](const String& value, Integer countArea, char kind) {
        FUZZ_CHECK(kind == kMarkHref || kind == kMarkSrc || kind == kMarkLocation);
        FUZZ_CHECK(countArea >= 0 && countArea <= anchorCount);
        checkType(value);
        const String address = ResolveLink(page, value);
        if (address.empty())
            return;
        // Only the part before a fragment is ever an address.
        FUZZ_CHECK(address.find('#') == String::npos);
        checkMerge(value, address);
        checkType(address);
        if (link.Crack(address)) {
            FUZZ_CHECK(!link.Directory().empty() && link.Directory().front() == '/');
            FUZZ_CHECK(link.Url() == address);
            const String type = LinkType(address);
            if (type != "unknown")
                links.push_back({address, type, link.Scheme, link.HostName, link.Port,
                                 link.Directory(), link.UrlPath, link.ExtraInfo, countArea, kind});
        }
    };
    ScanLinks(text, anchorCount, hooks);
    FUZZ_CHECK(anchorCount >= 0);

    // The page scan's short way for links of the page's own host must give
    // what the parser gives.
    const TScannedPage scanned = ScanPageLinks(body, page.Url());
    FUZZ_CHECK(scanned.Anchors == anchorCount);
    FUZZ_CHECK(scanned.Links.size() == links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        const TFoundLink& a = scanned.Links[i];
        const TFoundLink& b = links[i];
        FUZZ_CHECK(a.Address == b.Address && a.Type == b.Type && a.Scheme == b.Scheme &&
                   a.HostName == b.HostName && a.Port == b.Port && a.Directory == b.Directory &&
                   a.UrlPath == b.UrlPath && a.ExtraInfo == b.ExtraInfo && a.Anchor == b.Anchor &&
                   a.Kind == b.Kind);
    }
    return 0;
}
