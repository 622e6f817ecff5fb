// Link extraction: tag marking, page preparation and the link scan.

#include "linkscan.h"

#include "stringhelpers.h"
#include "urlcomponents.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The patterns MarkTags replaces, in its order. None overlaps another or
// itself and none holds a marker code, so one left-to-right pass gives what
// one pass per pattern would.
struct TagPattern
{
    std::string_view text; // upper case
    char code;
};
constexpr std::array<TagPattern, 5> kTagPatterns = {
    {{"HREF=", 10}, {"SRC=", 11}, {"<A", 13}, {"/A>", 14}, {".LOCATION=", 12}}};

// ASCII case only: the patterns are ASCII, and the locale's toupper would
// be both slower and wrong in some (a Turkish i is no I).
constexpr char upperAscii(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - ('a' - 'A')) : ch;
}

// Characters that may start a pattern, in either case.
constexpr std::array<bool, 256> kTagStarts = [] {
    std::array<bool, 256> starts{};
    for (const TagPattern& pattern : kTagPatterns) {
        const char first = pattern.text.front();
        starts[static_cast<unsigned char>(first)] = true;
        if (first >= 'A' && first <= 'Z')
            starts[static_cast<unsigned char>(first - 'A' + 'a')] = true;
    }
    return starts;
}();

// How often the scan offers the UI a turn, in characters.
constexpr std::size_t kYieldEvery = 2048;

// ASCII only, whatever the locale: a byte above 127 is never a plain
// character of an address, nor part of a script name.
bool isAsciiDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

bool isAsciiAlnum(char ch)
{
    return isAsciiDigit(ch) || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

bool isAsciiHex(char ch)
{
    return isAsciiDigit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool isUpperAscii(char ch)
{
    return ch >= 'A' && ch <= 'Z';
}

// Whether text holds the upper-case needle, ignoring ASCII letter case.
// Every link asks, so the search jumps with memchr from one place of the
// needle's first byte that is no letter (":" of "MAILTO:") to the next, or
// else of its first letter, in either case.
bool containsNoCase(std::string_view text, std::string_view needle)
{
    if (text.size() < needle.size())
        return false;
    std::size_t anchor = 0;
    while (anchor < needle.size() && isUpperAscii(needle[anchor]))
        ++anchor;
    if (anchor == needle.size())
        anchor = 0;
    const auto matchesAt = [text, needle](std::size_t start) {
        for (std::size_t k = 0; k < needle.size(); ++k) {
            if (upperAscii(text[start + k]) != needle[k])
                return false;
        }
        return true;
    };
    const char upper = needle[anchor];
    const char lower = isUpperAscii(upper) ? static_cast<char>(upper + ('a' - 'A')) : upper;
    // Where the anchor can lie: a whole needle around it must fit.
    const char* const first = text.data() + anchor;
    const std::size_t places = text.size() - needle.size() + 1;
    for (const char ch : {upper, lower}) {
        const char* at = first;
        while (const void* found =
                   std::memchr(at, ch, places - static_cast<std::size_t>(at - first))) {
            at = static_cast<const char*>(found);
            if (matchesAt(static_cast<std::size_t>(at - first)))
                return true;
            ++at;
        }
        if (lower == upper)
            break;
    }
    return false;
}

// Whether text is the upper-case word, ignoring ASCII letter case.
bool equalsNoCase(std::string_view text, std::string_view word)
{
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

// Blanks, tabs and line breaks around a value are not part of the address;
// browsers drop them too.
std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

// Extensions of pages that a server generates, as HTML, on request.
bool isServerPageExtension(std::string_view ext)
{
    static constexpr std::array<std::string_view, 14> kPages = {
        "HTML",  "HTM", "PHP",  "PHP3", "PHP4", "PHP5", "PHP7",
        "PHTML", "ASP", "ASPX", "JSP",  "JSPX", "CFM",  "CFML"};
    return std::any_of(kPages.begin(), kPages.end(),
                       [ext](std::string_view page) { return equalsNoCase(ext, page); });
}

bool isIdentifier(std::string_view word)
{
    if (word.empty() || isAsciiDigit(word.front()))
        return false;
    return std::all_of(word.begin(), word.end(),
                       [](char ch) { return isAsciiAlnum(ch) || ch == '_' || ch == '$'; });
}

// Whether value, whose first "(" is at open, is a script call such as
// popup(x.htm) or window.open(x.htm) rather than an address that happens to
// hold a parenthesis: Git_(software), crypt(3).html, ../w/Foo_(bar) and
// anything with a scheme are addresses. The name before "(" must be an
// identifier or a dotted chain of them, so a "/" or ":" rules a call out.
bool isScriptCall(std::string_view value, std::size_t open)
{
    const std::string_view name = value.substr(0, open);
    std::size_t start = 0;
    std::string_view last;
    for (;;) {
        const std::size_t dot = name.find('.', start);
        last = name.substr(start,
                           dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (!isIdentifier(last))
            return false;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    // An underscore before "(" stands for a blank in a page name, as in
    // Title_(topic); index.php(2) is a file name, not a method.
    if (name.back() == '_' || (last.size() < name.size() && isServerPageExtension(last)))
        return false;
    // A dot after the call's ")" makes a file name: crypt(3).html.
    const std::size_t close = value.find(')', open);
    if (close != std::string_view::npos) {
        const std::string_view after = value.substr(close + 1);
        if (!after.empty() && after.front() == '.' && after.find('(') == std::string_view::npos)
            return false;
    }
    return true;
}

// The link a complete quoted value stands for, or nothing: an address as
// written, or the argument of a script call.
std::optional<String> linkOfValue(std::string_view value)
{
    value = trimBlanks(value);
    const std::size_t open = value.find('(');
    if (open == std::string_view::npos || open == 0 || !isScriptCall(value, open))
        return String(value);
    std::string_view argument = value.substr(open + 1);
    const std::size_t close = argument.find(')');
    if (close != std::string_view::npos)
        argument = argument.substr(0, close);
    argument = trimBlanks(argument);
    // history.back() and the like name no page.
    if (argument.empty())
        return std::nullopt;
    return String(argument);
}

// Characters that libcurl keeps as they are in a path or query: with only
// these, merging a reference with its base is a concatenation.
constexpr std::array<bool, 256> kPlainUrlChars = [] {
    std::array<bool, 256> plain{};
    for (int c = '0'; c <= '9'; ++c)
        plain[static_cast<std::size_t>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c) {
        plain[static_cast<std::size_t>(c)] = true;
        plain[static_cast<std::size_t>(c - 'a' + 'A')] = true;
    }
    for (const char c : std::string_view("-._~!$&'()*+,;=:@/?%"))
        plain[static_cast<unsigned char>(c)] = true;
    return plain;
}();

bool isPlainUrlChar(char ch)
{
    return kPlainUrlChars[static_cast<unsigned char>(ch)];
}

bool isDotSegment(std::string_view segment)
{
    return segment == "." || segment == "..";
}

// A path made of plain characters, every "%" starting a %xx escape and,
// unless dots are allowed, no "." or ".." segment that the merge would have
// to remove.
bool isPlainPath(std::string_view path, bool dotsAllowed = false)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char ch = path[i];
        if (!isPlainUrlChar(ch))
            return false;
        if (ch == '%' &&
            (i + 2 >= path.size() || !isAsciiHex(path[i + 1]) || !isAsciiHex(path[i + 2])))
            return false;
    }
    if (dotsAllowed)
        return true;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (isDotSegment(path.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

// Whether path holds a segment that starts with a dot: cheaper than finding
// the dot segments themselves, and rare in a page's links.
bool mayHoldDotSegment(std::string_view path)
{
    return (!path.empty() && path.front() == '.') || path.find("/.") != std::string_view::npos;
}

// Appends the absolute path with its "." and ".." segments removed, as RFC
// 3986 (5.2.4) removes them: a ".." above the root stays at the root, and a
// last dot segment leaves the path ending in "/".
void appendWithoutDotSegments(String& out, std::string_view path)
{
    const std::size_t root = out.size();
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('/', i + 1);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(i + 1, end - i - 1);
        if (segment == "..") {
            const std::size_t slash = out.rfind('/');
            out.resize(slash == String::npos || slash < root ? root : slash);
        } else if (segment != ".") {
            out += '/';
            out += segment;
        }
        if (end == path.size() && isDotSegment(segment))
            out += '/';
        i = end;
    }
    if (out.size() == root)
        out += '/';
}

// Whether a base (scheme://host[:port]/dir/, the path starting at
// pathStart) lets plain references merge by concatenation.
bool isPlainBase(const String& base, std::size_t pathStart)
{
    const std::string_view host = std::string_view(base).substr(0, pathStart);
    const std::string_view directory = std::string_view(base).substr(pathStart);
    if (!isPlainPath(directory) || directory.find('?') != std::string_view::npos)
        return false;
    // The host part must be a plain name, which libcurl leaves alone.
    const std::size_t hostStart = host.find("://") + 3;
    for (const char ch : host.substr(hostStart)) {
        if (!isAsciiAlnum(ch) && ch != '.' && ch != '-' && ch != ':')
            return false;
    }
    return true;
}

// The merge of a plain reference with a plain base (see isPlainBase), or
// nothing when it needs the full rules. It
// spares libcurl's parsing of the base for each of a page's many links.
std::optional<String> mergePlain(const String& base, std::size_t pathStart, std::string_view value)
{
    const std::string_view ref = value.substr(0, value.find('#'));
    const std::string_view fragment = value.substr(ref.size());
    // libcurl drops an empty query or fragment; leave those to it.
    if (fragment.size() == 1 || (!fragment.empty() && !isPlainPath(fragment.substr(1))))
        return std::nullopt;
    if (ref.substr(0, 2) == "//")
        return std::nullopt; // another host
    const std::size_t query = ref.find('?');
    const std::string_view path = ref.substr(0, query);
    // "x:y" could be a scheme; a colon before the first slash goes the long way.
    if (path.substr(0, path.find('/')).find(':') != std::string_view::npos)
        return std::nullopt;
    if (!isPlainPath(path, true) ||
        (query != std::string_view::npos &&
         (query + 1 == ref.size() || !isPlainPath(ref.substr(query + 1)))))
        return std::nullopt;
    const std::string_view host = std::string_view(base).substr(0, pathStart);
    String merged;
    if (mayHoldDotSegment(path)) {
        // libcurl merges dot segments beside an empty one, or before a query,
        // its own way; those go the long way.
        // "../x.htm" and its kin, common in generated documentation.
        String full = !path.empty() && path.front() == '/' ? String() : base.substr(pathStart);
        full += path;
        if (full.find("//") != String::npos || query != std::string_view::npos)
            return std::nullopt;
        merged = host;
        appendWithoutDotSegments(merged, full);
    } else {
        merged = !ref.empty() && ref.front() == '/' ? String(host) : base;
        merged += ref;
    }
    // The long way gives up on results, fragment included, that do not fit
    // its 1024-byte buffer; so must this one.
    if (merged.size() + fragment.size() >= 1024)
        return String();
    return merged;
}

} // namespace

String PreparePage(const String& Body)
{
    String out(Body.size(), '\0');
    char* const data = out.data();
    std::size_t n = 0;
    char last = 'X';
    for (const char ch : Body) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > ' ' && ch != '=') {
            data[n++] = ch;
            last = ch;
        } else if (ch == ' ') {
            if (last == '=')
                continue;
            data[n++] = ch;
            last = ch;
        } else if (ch == '=') {
            while (n > 0 && data[n - 1] == ' ')
                --n;
            data[n++] = ch;
            last = ch;
        }
    }
    out.resize(n);
    return out;
}

void MarkTags(String& Text)
{
    // In place: the text only shrinks, so the write position never passes
    // the read position.
    char* const data = Text.data();
    const std::size_t size = Text.size();
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < size) {
        const char ch = data[i];
        if (kTagStarts[static_cast<unsigned char>(ch)]) {
            const TagPattern* match = nullptr;
            for (const TagPattern& pattern : kTagPatterns) {
                const std::string_view p = pattern.text;
                if (size - i < p.size() || upperAscii(ch) != p.front())
                    continue;
                std::size_t k = 1;
                while (k < p.size() && upperAscii(data[i + k]) == p[k])
                    ++k;
                if (k == p.size()) {
                    match = &pattern;
                    break;
                }
            }
            if (match) {
                data[out++] = match->code;
                i += match->text.size();
                continue;
            }
        }
        data[out++] = ch;
        ++i;
    }
    Text.resize(out);
}

namespace {

// What the one-pass preparation does with each byte. Blanks and letters
// are plain text here: a blank matters only after "=", and an "a" only after
// "<", which the bytes before them look ahead for.
enum class ByteRole : unsigned char
{
    Text,
    Drop,
    Equals,
    Less,
    Greater
};

constexpr std::array<ByteRole, 256> kByteRoles = [] {
    std::array<ByteRole, 256> roles{};
    for (int c = 0; c < 256; ++c)
        roles[static_cast<std::size_t>(c)] = c < ' ' ? ByteRole::Drop : ByteRole::Text;
    roles['='] = ByteRole::Equals;
    roles['<'] = ByteRole::Less;
    roles['>'] = ByteRole::Greater;
    return roles;
}();

ByteRole roleOf(char ch)
{
    return kByteRoles[static_cast<unsigned char>(ch)];
}

// Copies the run of plain text (ByteRole::Text) that starts at in[i] to
// out[n] and moves both past it. Sixteen bytes at a time, stored before they
// are looked at: the output never runs ahead of the input, so bytes stored
// past the run land where later ones will be written, within the buffer.
void copyPlainRun(const char* in, std::size_t& i, std::size_t size, char* out, std::size_t& n)
{
#ifdef __SSE2__
    // Below a blank, "=", "<" or ">" end a run.
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i less = _mm_set1_epi8('<');
    const __m128i greater = _mm_set1_epi8('>');
    while (i + 16 <= size) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), bytes);
        // max(b, ' ') == b exactly when b is a blank or above, unsigned.
        const __m128i text = _mm_cmpeq_epi8(_mm_max_epu8(bytes, blank), bytes);
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, equals), _mm_cmpeq_epi8(bytes, less)),
                         _mm_cmpeq_epi8(bytes, greater));
        const int stops =
            _mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(text, _mm_set1_epi8(-1)), marks));
        if (stops != 0) {
            const auto run = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(stops)));
            i += run;
            n += run;
            return;
        }
        i += 16;
        n += 16;
    }
#endif
    while (i < size && roleOf(in[i]) == ByteRole::Text)
        out[n++] = in[i++];
}

// The first marker code (a byte of 14 or less) from i on, or stop.
std::size_t nextMarker(const char* text, std::size_t i, std::size_t stop)
{
#ifdef __SSE2__
    const __m128i highest = _mm_set1_epi8(kMarkAnchorClose);
    while (i + 16 <= stop) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        // min(b, 14) == b exactly when b is 14 or less, unsigned.
        const int marks = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(bytes, highest), bytes));
        if (marks != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(marks)));
        i += 16;
    }
#endif
    while (i<stop&& static_cast<unsigned char>(text[i])> 14)
        ++i;
    return i;
}

// Whether the n characters before end read word, ignoring ASCII case. A
// marker code already written there is never a letter, so a pattern never
// reuses the characters of another.
bool endsWithNoCase(const char* data, std::size_t end, std::string_view word)
{
    if (end < word.size())
        return false;
    const char* from = data + end - word.size();
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (upperAscii(from[k]) != word[k])
            return false;
    }
    return true;
}

} // namespace

String PrepareAndMark(const String& Body)
{
    String out;
    out.resize(PrepareAndMark(Body, out).size());
    return out;
}

std::string_view PrepareAndMark(std::string_view Body, String& Buffer)
{
    // No pattern's ending starts another, so replacing each one the moment
    // its last character is written marks the same places as MarkTags'
    // left-to-right pass over the prepared text.
    if (Buffer.size() < Body.size())
        Buffer.resize(Body.size());
    char* const data = Buffer.data();
    const char* const in = Body.data();
    const std::size_t size = Body.size();
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < size) {
        // A run of plain text is copied as it is.
        copyPlainRun(in, i, size, data, n);
        if (i == size)
            break;
        const char ch = in[i++];
        switch (roleOf(ch)) {
        case ByteRole::Text:
        case ByteRole::Drop:
            break;
        case ByteRole::Less: {
            // "<A", with only dropped characters between.
            std::size_t k = i;
            while (k < size && roleOf(in[k]) == ByteRole::Drop)
                ++k;
            if (k < size && upperAscii(in[k]) == 'A') {
                data[n++] = kMarkAnchorOpen;
                i = k + 1;
            } else {
                data[n++] = ch;
            }
            break;
        }
        case ByteRole::Greater:
            data[n++] = ch;
            if (endsWithNoCase(data, n, "/A>")) {
                n -= 3;
                data[n++] = kMarkAnchorClose;
            }
            break;
        case ByteRole::Equals:
            while (n > 0 && data[n - 1] == ' ')
                --n;
            data[n++] = ch;
            for (const TagPattern& pattern : kTagPatterns) {
                const std::string_view word = pattern.text;
                if (word.back() == '=' && endsWithNoCase(data, n, word)) {
                    n -= word.size();
                    data[n++] = pattern.code;
                    break;
                }
            }
            // The blanks after it go, and what is dropped anyway.
            while (i < size && (in[i] == ' ' || roleOf(in[i]) == ByteRole::Drop))
                ++i;
            break;
        }
    }
    return {data, n};
}

void ScanLinks(std::string_view Text, Integer& anchorCount, const ScanHooks& hooks)
{
    bool pending = false;
    bool inQuotes = false;
    char quote = ' ';
    char kind = ' ';
    bool inAnchor = false;
    String value;
    const char* const data = Text.data();
    const std::size_t size = Text.size();
    const auto aborted = [&hooks] { return hooks.aborted && hooks.aborted(); };
    if (aborted())
        return;

    std::size_t nextTurn = kYieldEvery;
    for (std::size_t i = 0; i < size; ++i) {
        if (i >= nextTurn) {
            nextTurn = i - i % kYieldEvery + kYieldEvery;
            if (aborted() || (hooks.yield && !hooks.yield()))
                return;
        }
        // Runs of ordinary text: nothing to do until a marker code, or a
        // quote while a value is pending.
        if (!pending) {
            const std::size_t stop = std::min(size, nextTurn);
            i = nextMarker(data, i, stop);
            if (i == stop) {
                --i;
                continue;
            }
        } else if (inQuotes) {
            std::size_t j = i;
            const std::size_t stop = std::min(size, nextTurn);
            while (j < stop && data[j] != '"' && data[j] != '\'' &&
                   static_cast<unsigned char>(data[j]) > 14)
                ++j;
            value.append(data + i, j - i);
            i = j;
            if (i == stop) {
                --i;
                continue;
            }
        }
        const char ch = data[i];
        const auto c = static_cast<unsigned char>(ch);
        if (c == static_cast<unsigned char>(kMarkAnchorOpen)) {
            ++anchorCount;
            inAnchor = true;
        } else if (c == static_cast<unsigned char>(kMarkAnchorClose)) {
            inAnchor = false;
        } else if (c <= 12) {
            kind = ch;
            pending = true;
            inQuotes = false;
            value.clear();
        } else if (pending) {
            if (ch == '"' || ch == '\'') {
                if (!inQuotes) {
                    quote = ch;
                    inQuotes = true;
                } else if (ch != quote) {
                    // A value quoted within a quoted value replaces it.
                    quote = ch;
                    value.clear();
                } else {
                    if (!containsNoCase(value, "TOP.WINDOW")) {
                        const std::optional<String> link = linkOfValue(value);
                        if (link && !aborted() && hooks.found)
                            hooks.found(*link, inAnchor ? anchorCount : 0, kind);
                    }
                    pending = false;
                    inQuotes = false;
                    quote = ' ';
                    value.clear();
                }
            } else if (!inQuotes) {
                // Unquoted values never yield a link.
                pending = false;
                value.clear();
                quote = ' ';
            }
        }
    }
}

TLinkBase::TLinkBase(const TCrackUrl& page)
{
    const String scheme = page.Scheme.empty() ? String("http") : page.Scheme.Text();
    m_base = scheme + "://" + page.HostName.Text();
    const bool defaultPort =
        (scheme == "http" && page.Port == 80) || (scheme == "https" && page.Port == 443);
    if (!defaultPort && page.Port != 0)
        m_base += ":" + std::to_string(page.Port);
    m_pathStart = m_base.size();
    m_base += page.Directory();
    if (m_base.back() != '/')
        m_base += '/';
    m_plain = (scheme == "http" || scheme == "https") && isPlainBase(m_base, m_pathStart);
}

String TLinkBase::Resolve(const String& Value) const
{
    const std::string_view value = trimBlanks(Value);
    if (containsNoCase(value, "MAILTO:") || containsNoCase(value, "JAVASCRIPT"))
        return String();
    // Nothing, or only a fragment, is the page itself (RFC 3986, 4.4), which
    // is known already; resolving it would report the page, or its directory,
    // as a new link.
    if (value.empty() || value.front() == '#')
        return String();

    String result;
    if (StartsWithNoCase(value, "HTTP://") || StartsWithNoCase(value, "HTTPS://")) {
        result = value;
    } else {
        std::optional<String> plain;
        if (m_plain)
            plain = mergePlain(m_base, m_pathStart, value);
        if (plain) {
            result = std::move(*plain);
        } else {
            const String reference(value);
            std::array<char, 1024> buffer{};
            std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
            if (CombineUrl(m_base.c_str(), reference.c_str(), buffer.data(), &length,
                           ICU_NO_ENCODE) != UrlError::None)
                return String();
            result.assign(buffer.data(), length);
        }
    }
    const auto hash = result.find('#');
    if (hash != String::npos && hash > 0)
        result.erase(hash);
    return result;
}

bool TLinkBase::SplitOwn(const String& Address, String& Path, String& Extra) const
{
    if (!m_plain || Address.size() >= TUrlPartBuffer::Capacity || Address.size() <= m_pathStart ||
        Address.compare(0, m_pathStart, m_base, 0, m_pathStart) != 0 || Address[m_pathStart] != '/')
        return false;
    const std::string_view rest = std::string_view(Address).substr(m_pathStart);
    if (rest.find('%') != std::string_view::npos)
        return false;
    const std::size_t query = rest.find('?');
    const std::string_view path = rest.substr(0, query);
    if (!isPlainPath(path))
        return false;
    if (query != std::string_view::npos) {
        // Decoding turns a query's "+" into a blank; an empty one is dropped.
        const std::string_view text = rest.substr(query + 1);
        if (text.empty() || text.find('+') != std::string_view::npos || !isPlainPath(text))
            return false;
    }
    Path.assign(path);
    Extra.assign(query == std::string_view::npos ? std::string_view() : rest.substr(query));
    return true;
}

String ResolveLink(const TCrackUrl& page, const String& Value)
{
    return TLinkBase(page).Resolve(Value);
}

String LinkType(const String& Address)
{
    // Views of the address, not copies: every link of a page is typed.
    std::string_view text = Address;
    const auto sep = text.find("://");
    if (sep != std::string_view::npos && sep > 0) {
        const std::string_view scheme = text.substr(0, sep);
        // Secure addresses are typed like plain ones, by their extension. Any
        // other scheme is the type, however long: it is never fetched as a page.
        if (!equalsNoCase(scheme, "HTTP") && !equalsNoCase(scheme, "HTTPS"))
            return AsciiLower(scheme);
        text.remove_prefix(sep + 3);
    }
    const auto amp = text.find('&');
    if (amp != std::string_view::npos && amp > 0)
        text = text.substr(0, amp);
    const auto question = text.find('?');
    if (question != std::string_view::npos && question > 0)
        text = text.substr(0, question);

    const std::size_t slash = text.rfind('/');
    const std::size_t dot = text.rfind('.');
    if (dot == std::string_view::npos || slash == std::string_view::npos || dot < slash)
        return "htm";
    if (dot + 1 < text.size()) {
        const std::string_view extension = text.substr(dot + 1);
        // "unknown" is the verdict that drops a link, not a long extension.
        if (extension.size() > 4 || isServerPageExtension(extension))
            return "htm";
        return AsciiLower(extension);
    }
    return GuessType(String(text));
}

String GuessType(const String& Address)
{
    if (Address.find("cgi") != String::npos)
        return "cgi";
    if (Address.find("dbm") != String::npos)
        return "dbm";
    if (!Address.empty() && Address.back() == '/')
        return "htm";
    return "unknown";
}
