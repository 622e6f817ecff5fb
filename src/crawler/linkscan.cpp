// Link extraction: tag marking, page preparation and the link scan.

#include "linkscan.h"

#include "stringhelpers.h"
#include "urlcomponents.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace {

// Replaces every occurrence of an upper-case pattern, ignoring letter case.
// ASCII case only: the patterns are ASCII, and the locale's toupper would
// be both slower and wrong in some (a Turkish i is no I).
void replaceNoCase(String& text, std::string_view pattern, char code)
{
    const auto upper = [](char ch) {
        return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - ('a' - 'A')) : ch;
    };
    String out;
    out.reserve(text.size());
    std::size_t copied = 0;
    std::size_t i = 0;
    while (text.size() - i >= pattern.size()) {
        if (upper(text[i]) != pattern[0]) {
            ++i;
            continue;
        }
        std::size_t k = 1;
        while (k < pattern.size() && upper(text[i + k]) == pattern[k])
            ++k;
        if (k < pattern.size()) {
            ++i;
            continue;
        }
        out.append(text, copied, i - copied);
        out += code;
        i += pattern.size();
        copied = i;
    }
    out.append(text, copied, String::npos);
    text.swap(out);
}

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
        "PHP",  "PHP3", "PHP4", "PHP5", "PHP7", "PHTML", "ASP",
        "ASPX", "JSP",  "JSPX", "CFM",  "CFML", "HTM",   "HTML"};
    const String up = AsciiUpper(ext);
    return std::find(kPages.begin(), kPages.end(), up) != kPages.end();
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
bool isPlainUrlChar(char ch)
{
    return isAsciiAlnum(ch) ||
           std::string_view("-._~!$&'()*+,;=:@/?%").find(ch) != std::string_view::npos;
}

// A path made of plain characters, every "%" starting a %xx escape and no
// "." or ".." segment that the merge would have to remove.
bool isPlainPath(std::string_view path)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char ch = path[i];
        if (!isPlainUrlChar(ch))
            return false;
        if (ch == '%' &&
            (i + 2 >= path.size() || !isAsciiHex(path[i + 1]) || !isAsciiHex(path[i + 2])))
            return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..")
            return false;
        start = end + 1;
    }
    return true;
}

// The merge of a plain reference with base (scheme://host[:port]/dir/, the
// path starting at pathStart), or nothing when it needs the full rules. It
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
    if (!isPlainPath(path) || (query != std::string_view::npos &&
                               (query + 1 == ref.size() || !isPlainPath(ref.substr(query + 1)))))
        return std::nullopt;
    const std::string_view host = std::string_view(base).substr(0, pathStart);
    const std::string_view directory = std::string_view(base).substr(pathStart);
    if (!isPlainPath(directory) || directory.find('?') != std::string_view::npos)
        return std::nullopt;
    // The host part must be a plain name, which libcurl leaves alone.
    const std::size_t hostStart = host.find("://") + 3;
    for (const char ch : host.substr(hostStart)) {
        if (!isAsciiAlnum(ch) && ch != '.' && ch != '-' && ch != ':')
            return std::nullopt;
    }
    String merged = !ref.empty() && ref.front() == '/' ? String(host) : base;
    merged += ref;
    // The long way gives up on results, fragment included, that do not fit
    // its 1024-byte buffer; so must this one.
    if (merged.size() + fragment.size() >= 1024)
        return String();
    return merged;
}

} // namespace

String PreparePage(const String& Body)
{
    String out;
    out.reserve(Body.size());
    char last = 'X';
    for (const char ch : Body) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == ' ') {
            if (last == '=')
                continue;
            out += ch;
            last = ch;
        } else if (ch == '=') {
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            out += ch;
            last = ch;
        } else if (c < 33) {
            continue;
        } else {
            out += ch;
            last = ch;
        }
    }
    return out;
}

void MarkTags(String& Text)
{
    replaceNoCase(Text, "HREF=", kMarkHref);
    replaceNoCase(Text, "SRC=", kMarkSrc);
    replaceNoCase(Text, "<A", kMarkAnchorOpen);
    replaceNoCase(Text, "/A>", kMarkAnchorClose);
    replaceNoCase(Text, ".LOCATION=", kMarkLocation);
}

void ScanLinks(const String& Text, Integer& anchorCount, const ScanHooks& hooks)
{
    bool pending = false;
    bool inQuotes = false;
    char quote = ' ';
    char kind = ' ';
    bool inAnchor = false;
    String value;

    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (hooks.aborted && hooks.aborted())
            return;
        if (i > 0 && i % kYieldEvery == 0 && hooks.yield && !hooks.yield())
            return;
        const char ch = Text[i];
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
                    if (AsciiUpper(value).find("TOP.WINDOW") == String::npos) {
                        const std::optional<String> link = linkOfValue(value);
                        if (link && !(hooks.aborted && hooks.aborted()) && hooks.found)
                            hooks.found(*link, inAnchor ? anchorCount : 0, kind);
                    }
                    pending = false;
                    inQuotes = false;
                    quote = ' ';
                    value.clear();
                }
            } else if (inQuotes) {
                value += ch;
            } else {
                // Unquoted values never yield a link.
                pending = false;
                value.clear();
                quote = ' ';
            }
        }
    }
}

String ResolveLink(const TCrackUrl& page, const String& Value)
{
    const String value(trimBlanks(Value));
    const String up = AsciiUpper(value);
    if (up.find("MAILTO:") != String::npos || up.find("JAVASCRIPT") != String::npos)
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
        const String scheme = page.Scheme.empty() ? String("http") : page.Scheme.Text();
        String base = scheme + "://" + page.HostName.Text();
        const bool defaultPort =
            (scheme == "http" && page.Port == 80) || (scheme == "https" && page.Port == 443);
        if (!defaultPort && page.Port != 0)
            base += ":" + std::to_string(page.Port);
        const std::size_t pathStart = base.size();
        base += page.Directory();
        if (base.back() != '/')
            base += '/';
        std::optional<String> plain;
        if (scheme == "http" || scheme == "https")
            plain = mergePlain(base, pathStart, value);
        if (plain) {
            result = std::move(*plain);
        } else {
            std::array<char, 1024> buffer{};
            std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
            if (CombineUrl(base.c_str(), value.c_str(), buffer.data(), &length, ICU_NO_ENCODE) !=
                UrlError::None)
                return String();
            result.assign(buffer.data(), length);
        }
    }
    const auto hash = result.find('#');
    if (hash != String::npos && hash > 0)
        result.erase(hash);
    return result;
}

String LinkType(const String& Address)
{
    String type = "unknown";
    String scheme = "http";
    String text = Address;
    const auto sep = text.find("://");
    if (sep != String::npos && sep > 0) {
        scheme = AsciiLower(text.substr(0, sep));
        text = text.substr(sep + 3);
    }
    // Secure addresses are typed like plain ones, by their extension. Any
    // other scheme is the type, however long: it is never fetched as a page.
    if (scheme != "http" && scheme != "https")
        return scheme;
    const auto amp = text.find('&');
    if (amp != String::npos && amp > 0)
        text.erase(amp);
    const auto question = text.find('?');
    if (question != String::npos && question > 0)
        text.erase(question);

    const Integer s = LastCharPos('/', text);
    const Integer d = LastCharPos('.', text);
    const auto length = static_cast<Integer>(text.size());
    if (d == 0 || s == 0 || d < s) {
        type = "htm";
    } else if (d < length) {
        type = text.substr(static_cast<std::size_t>(d));
        if (isServerPageExtension(type))
            type = "htm";
    } else {
        type = GuessType(text);
    }
    // "unknown" is the verdict that drops a link, not a long extension.
    if (type.size() > 4 && type != "unknown")
        type = "htm";
    return AsciiLower(type);
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
