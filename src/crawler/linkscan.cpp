#include "linkscan.h"

#include "stringhelpers.h"
#include "urlcomponents.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace {

// Replaces every occurrence of an upper-case pattern, ignoring letter case.
void replaceNoCase(String& text, std::string_view pattern, char code)
{
    String out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.size() - i >= pattern.size()) {
            std::size_t k = 0;
            while (k < pattern.size() &&
                   std::toupper(static_cast<unsigned char>(text[i + k])) ==
                       static_cast<unsigned char>(pattern[k]))
                ++k;
            if (k == pattern.size()) {
                out += code;
                i += pattern.size();
                continue;
            }
        }
        out += text[i++];
    }
    text.swap(out);
}

// How often the scan offers the UI a turn, in characters.
constexpr std::size_t kYieldEvery = 2048;

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
                        const auto open = value.find('(');
                        if (open != String::npos && open > 0) {
                            value = value.substr(open + 1);
                            const auto close = value.find(')');
                            if (close != String::npos && close > 0)
                                value = value.substr(0, close);
                        }
                        if (!(hooks.aborted && hooks.aborted()) && hooks.found)
                            hooks.found(value, inAnchor ? anchorCount : 0, kind);
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
    const String up = AsciiUpper(Value);
    if (up.find("MAILTO:") != String::npos || up.find("JAVASCRIPT") != String::npos)
        return String();

    String result;
    if (StartsWithNoCase(Value, "HTTP://") || StartsWithNoCase(Value, "HTTPS://")) {
        result = Value;
    } else {
        const String scheme = page.Scheme.empty() ? String("http") : page.Scheme.Text();
        String base = scheme + "://" + page.HostName.Text();
        const bool defaultPort =
            (scheme == "http" && page.Port == 80) || (scheme == "https" && page.Port == 443);
        if (!defaultPort && page.Port != 0)
            base += ":" + std::to_string(page.Port);
        base += page.Directory();
        if (base.back() != '/')
            base += '/';
        std::array<char, 1024> buffer{};
        std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
        if (CombineUrl(base.c_str(), Value.c_str(), buffer.data(), &length, ICU_NO_ENCODE) !=
            UrlError::None)
            return String();
        result.assign(buffer.data(), length);
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
    const auto amp = text.find('&');
    if (amp != String::npos && amp > 0)
        text.erase(amp);
    const auto question = text.find('?');
    if (question != String::npos && question > 0)
        text.erase(question);

    if (scheme != "http") {
        type = scheme;
    } else {
        const Integer s = LastCharPos('/', text);
        const Integer d = LastCharPos('.', text);
        const auto length = static_cast<Integer>(text.size());
        if (d == 0 || s == 0 || d < s) {
            type = "htm";
        } else if (d < length) {
            type = text.substr(static_cast<std::size_t>(d));
            if (type.size() == 4 && AsciiUpper(type) == "HTML")
                type = "htm";
        } else {
            type = GuessType(text);
        }
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
