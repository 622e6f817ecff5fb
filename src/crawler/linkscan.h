// Link extraction: tag marking, page preparation and the link scan.

#pragma once

#include "crackurl.h"
#include "nqtypes.h"

#include <functional>
#include <string_view>

// The text steps of link extraction: a character scan, no HTML parser.

// Marker codes put into a page's text (also stored as a queued link's kind).
inline constexpr char kMarkHref = 10;
inline constexpr char kMarkSrc = 11;
inline constexpr char kMarkLocation = 12;
inline constexpr char kMarkAnchorOpen = 13;
inline constexpr char kMarkAnchorClose = 14;
inline constexpr char kKindStart = ' ';

// Drops control characters and the blanks around every "=", so attributes
// written across lines read as NAME="value".
String PreparePage(const String& Body);

// Replaces, ignoring letter case and in this order, HREF=, SRC=, <A, /A> and
// .LOCATION= by their marker codes.
void MarkTags(String& Text);

// PreparePage and MarkTags in one pass over Body: the same text, with no
// second copy and no second walk over a large page.
String PrepareAndMark(const String& Body);
// The same written into Buffer, which only ever grows: one kept from page to
// page is cleared only when a larger page comes. The view is into Buffer.
std::string_view PrepareAndMark(std::string_view Body, String& Buffer);

// Walks marked text and hands the link of every complete quoted attribute
// value to found(value, countArea, kind): the value without the blanks around
// it, or, when it is a script call such as popup(x.htm), the call's argument.
// anchorCount is the crawler's running anchor number. aborted() is asked
// at the start, now and then and before each link; yield() is called now and
// then so the UI stays responsive, and a false from it ends the scan.
struct ScanHooks
{
    std::function<bool()> aborted;
    std::function<bool()> yield;
    std::function<void(const String& value, Integer countArea, char kind)> found;
};
void ScanLinks(std::string_view Text, Integer& anchorCount, const ScanHooks& hooks);

// The absolute address of a link value found on the page decomposed in
// page, cut at its first "#"; empty when the value is to be dropped (mail
// and script links, an empty value or a bare fragment, which mean the page
// itself, or a value that does not combine). Blanks around the value do not
// count. The base keeps the page's scheme and, when not the scheme's
// default, its port; never its credentials.
String ResolveLink(const TCrackUrl& page, const String& Value);

// The same resolution for the many links of one page, the page's part of
// the work done once.
class TLinkBase
{
public:
    explicit TLinkBase(const TCrackUrl& page);
    String Resolve(const String& Value) const;
    // Splits an address Resolve gave into its decoded path and its "?query"
    // (or nothing) when it is on the page's own scheme, host and port and
    // decomposing it would change nothing: plain characters, no %xx escape,
    // no dot segment, no "+" in the query. False leaves it to TCrackUrl.
    bool SplitOwn(const String& Address, String& Path, String& Extra) const;

private:
    String m_base; // scheme://host[:port]/directory/
    std::size_t m_pathStart = 0;
    bool m_plain = false; // plain references merge by concatenation
};

// The link's type from its address alone: "htm" for pages, including those
// a server generates (php, asp, jsp, cfm and their kin), else the
// extension or scheme, lower case, at most four letters; "unknown" drops it.
String LinkType(const String& Address);
String GuessType(const String& Address);
