// The text of a page as a reader sees it, and the page's bytes as UTF-8.

#include "visibletext.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five unassigned
// codes stay as their C1 control characters. HTML reads numeric references
// to these codes the same way.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(String& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Valid as the UTF-8 decoder takes it: shortest forms only, no surrogates,
// nothing beyond U+10FFFF, no sequence cut short.
bool validUtf8(std::string_view s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        // Plain ASCII eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int k = 2; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
        }
        p += more + 1;
    }
    return true;
}

bool isBlankByte(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isAsciiLetter(unsigned char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

bool isAsciiAlnum(unsigned char c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

// The named references pages use: HTML 4's Latin-1 and special sets, and its
// common punctuation and symbols. Others stay as written. Sorted by name.
struct NamedReference
{
    std::string_view name;
    char32_t cp;
};
constexpr NamedReference kNamedReferences[] = {
    {"AElig", 0xC6},    {"Aacute", 0xC1},  {"Acirc", 0xC2},    {"Agrave", 0xC0},
    {"Aring", 0xC5},    {"Atilde", 0xC3},  {"Auml", 0xC4},     {"Ccedil", 0xC7},
    {"Dagger", 0x2021}, {"ETH", 0xD0},     {"Eacute", 0xC9},   {"Ecirc", 0xCA},
    {"Egrave", 0xC8},   {"Euml", 0xCB},    {"Iacute", 0xCD},   {"Icirc", 0xCE},
    {"Igrave", 0xCC},   {"Iuml", 0xCF},    {"Ntilde", 0xD1},   {"OElig", 0x152},
    {"Oacute", 0xD3},   {"Ocirc", 0xD4},   {"Ograve", 0xD2},   {"Oslash", 0xD8},
    {"Otilde", 0xD5},   {"Ouml", 0xD6},    {"Prime", 0x2033},  {"Scaron", 0x160},
    {"THORN", 0xDE},    {"Uacute", 0xDA},  {"Ucirc", 0xDB},    {"Ugrave", 0xD9},
    {"Uuml", 0xDC},     {"Yacute", 0xDD},  {"Yuml", 0x178},    {"aacute", 0xE1},
    {"acirc", 0xE2},    {"acute", 0xB4},   {"aelig", 0xE6},    {"agrave", 0xE0},
    {"amp", '&'},       {"apos", '\''},    {"aring", 0xE5},    {"atilde", 0xE3},
    {"auml", 0xE4},     {"bdquo", 0x201E}, {"brvbar", 0xA6},   {"bull", 0x2022},
    {"ccedil", 0xE7},   {"cedil", 0xB8},   {"cent", 0xA2},     {"circ", 0x2C6},
    {"copy", 0xA9},     {"curren", 0xA4},  {"dagger", 0x2020}, {"darr", 0x2193},
    {"deg", 0xB0},      {"divide", 0xF7},  {"eacute", 0xE9},   {"ecirc", 0xEA},
    {"egrave", 0xE8},   {"emsp", 0x2003},  {"ensp", 0x2002},   {"eth", 0xF0},
    {"euml", 0xEB},     {"euro", 0x20AC},  {"frac12", 0xBD},   {"frac14", 0xBC},
    {"frac34", 0xBE},   {"gt", '>'},       {"harr", 0x2194},   {"hellip", 0x2026},
    {"iacute", 0xED},   {"icirc", 0xEE},   {"iexcl", 0xA1},    {"igrave", 0xEC},
    {"iquest", 0xBF},   {"iuml", 0xEF},    {"laquo", 0xAB},    {"larr", 0x2190},
    {"ldquo", 0x201C},  {"lrm", 0x200E},   {"lsaquo", 0x2039}, {"lsquo", 0x2018},
    {"lt", '<'},        {"macr", 0xAF},    {"mdash", 0x2014},  {"micro", 0xB5},
    {"middot", 0xB7},   {"minus", 0x2212}, {"nbsp", 0xA0},     {"ndash", 0x2013},
    {"not", 0xAC},      {"ntilde", 0xF1},  {"oacute", 0xF3},   {"ocirc", 0xF4},
    {"oelig", 0x153},   {"ograve", 0xF2},  {"ordf", 0xAA},     {"ordm", 0xBA},
    {"oslash", 0xF8},   {"otilde", 0xF5},  {"ouml", 0xF6},     {"para", 0xB6},
    {"permil", 0x2030}, {"plusmn", 0xB1},  {"pound", 0xA3},    {"prime", 0x2032},
    {"quot", '"'},      {"raquo", 0xBB},   {"rarr", 0x2192},   {"rdquo", 0x201D},
    {"reg", 0xAE},      {"rlm", 0x200F},   {"rsaquo", 0x203A}, {"rsquo", 0x2019},
    {"sbquo", 0x201A},  {"scaron", 0x161}, {"sect", 0xA7},     {"shy", 0xAD},
    {"sup1", 0xB9},     {"sup2", 0xB2},    {"sup3", 0xB3},     {"szlig", 0xDF},
    {"thinsp", 0x2009}, {"thorn", 0xFE},   {"tilde", 0x2DC},   {"times", 0xD7},
    {"trade", 0x2122},  {"uacute", 0xFA},  {"uarr", 0x2191},   {"ucirc", 0xFB},
    {"ugrave", 0xF9},   {"uml", 0xA8},     {"uuml", 0xFC},     {"yacute", 0xFD},
    {"yen", 0xA5},      {"yuml", 0xFF},    {"zwj", 0x200D},    {"zwnj", 0x200C},
};

// The character a reference at text[0] == '&' stands for, and its length;
// 0 when it is no reference and the '&' is an ordinary character.
char32_t decodeReference(std::string_view text, std::size_t* length)
{
    if (text.size() > 2 && text[1] == '#') {
        const bool hex = text[2] == 'x' || text[2] == 'X';
        std::size_t i = hex ? 3 : 2;
        const std::size_t digits = i;
        std::uint32_t value = 0;
        for (; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                digit = (c | 0x20) - 'a' + 10;
            else
                break;
            value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
        }
        if (i == digits)
            return 0;
        if (i < text.size() && text[i] == ';')
            ++i;
        *length = i;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return 0xFFFD;
        if (value >= 0x80 && value <= 0x9F)
            return kCp1252High[value - 0x80];
        return value;
    }
    std::size_t end = 1;
    while (end < text.size() && end < 10 && isAsciiAlnum(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == 1 || end >= text.size() || text[end] != ';')
        return 0;
    const std::string_view name = text.substr(1, end - 1);
    const auto* found = std::lower_bound(
        std::begin(kNamedReferences), std::end(kNamedReferences), name,
        [](const NamedReference& entry, std::string_view key) { return entry.name < key; });
    if (found == std::end(kNamedReferences) || found->name != name)
        return 0;
    *length = end + 1;
    return found->cp;
}

// Tags that break a line or a cell: they read as a blank between words.
// By length first: this runs for every tag of every page.
bool isBlockTag(std::string_view name)
{
    switch (name.size()) {
    case 1:
        return name == "p";
    case 2:
        return name == "br" || name == "dd" || name == "dl" || name == "dt" || name == "h1" ||
               name == "h2" || name == "h3" || name == "h4" || name == "h5" || name == "h6" ||
               name == "hr" || name == "li" || name == "ol" || name == "td" || name == "th" ||
               name == "tr" || name == "ul";
    case 3:
        return name == "div" || name == "nav" || name == "pre";
    case 4:
        return name == "form" || name == "main";
    case 5:
        return name == "aside" || name == "table" || name == "tbody" || name == "tfoot" ||
               name == "thead" || name == "title";
    case 6:
        return name == "dialog" || name == "figure" || name == "footer" || name == "header" ||
               name == "option";
    case 7:
        return name == "address" || name == "article" || name == "caption" || name == "details" ||
               name == "section" || name == "summary";
    case 8:
        return name == "fieldset";
    case 10:
        return name == "blockquote" || name == "figcaption";
    default:
        return false;
    }
}

// Elements whose contents no reader sees.
bool isHiddenContentTag(std::string_view name)
{
    return name == "script" || name == "style" || name == "template" || name == "noscript";
}

// The end of a tag whose name ends at i: past its '>', skipping quoted
// attribute values; the end of the text when it never closes.
std::size_t tagEnd(std::string_view s, std::size_t i)
{
    while (i < s.size()) {
        const char c = s[i];
        if (c == '>')
            return i + 1;
        if (c != '=') {
            ++i;
            continue;
        }
        ++i;
        while (i < s.size() && isBlankByte(static_cast<unsigned char>(s[i])))
            ++i;
        if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
            const auto close = s.find(s[i], i + 1);
            if (close == std::string_view::npos)
                return s.size();
            i = close + 1;
        }
    }
    return s.size();
}

// Where the element's end tag "</name" starts at or after from, any case;
// the end of the text when there is none.
std::size_t endTagStart(std::string_view s, std::size_t from, std::string_view name)
{
    for (std::size_t i = s.find("</", from); i != std::string_view::npos; i = s.find("</", i + 2)) {
        const std::size_t after = i + 2 + name.size();
        if (after > s.size())
            break;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k)
            same = (static_cast<unsigned char>(s[i + 2 + k]) | 0x20) == name[k];
        if (same && (after == s.size() || !isAsciiAlnum(static_cast<unsigned char>(s[after]))))
            return i;
    }
    return s.size();
}

// Collects text, each run of blanks one space, none at either end.
class BlankCollapser
{
public:
    explicit BlankCollapser(std::size_t capacity) { m_out.reserve(capacity); }
    void blank() { m_pending = !m_out.empty(); }
    void append(std::string_view text)
    {
        if (text.empty())
            return;
        if (m_pending)
            m_out += ' ';
        m_pending = false;
        m_out.append(text);
    }
    void append(char32_t cp)
    {
        if (cp == 0xA0 || (cp < 0x80 && isBlankByte(static_cast<unsigned char>(cp)))) {
            blank();
            return;
        }
        if (m_pending)
            m_out += ' ';
        m_pending = false;
        appendUtf8(m_out, cp);
    }
    String take() { return std::move(m_out); }

private:
    String m_out;
    bool m_pending = false;
};

// Bytes that end a run of ordinary text.
struct SpecialBytes
{
    std::array<bool, 256> special{};
    constexpr SpecialBytes()
    {
        for (const int c :
             {int{'<'}, int{'&'}, int{' '}, int{'\t'}, int{'\n'}, int{'\r'}, int{'\f'}, 0xC2})
            special[static_cast<std::size_t>(c)] = true;
    }
};
constexpr SpecialBytes kSpecial;

// Text up to the next special byte, and where it ends.
std::size_t plainRun(std::string_view s, std::size_t i)
{
    while (i < s.size() && !kSpecial.special[static_cast<unsigned char>(s[i])])
        ++i;
    return i;
}

} // namespace

String WebTextToUtf8(std::string_view bytes)
{
    String out;
    const std::string_view text = WebTextAsUtf8(bytes, out);
    if (text.data() == out.data())
        return out;
    return String(text);
}

std::string_view WebTextAsUtf8(std::string_view bytes, String& Storage)
{
    if (validUtf8(bytes)) {
        if (bytes.starts_with("\xEF\xBB\xBF"))
            bytes.remove_prefix(3);
        return bytes;
    }
    String& out = Storage;
    out.clear();
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else
            appendUtf8(out, c <= 0x9F ? kCp1252High[c - 0x80U] : c);
    }
    return out;
}

String VisibleText(std::string_view s)
{
    BlankCollapser out(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t run = plainRun(s, i);
        out.append(s.substr(i, run - i));
        i = run;
        if (i >= s.size())
            break;
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '<') {
            const unsigned char next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
            if (next == '!' && s.compare(i + 2, 2, "--") == 0) {
                const auto close = s.find("-->", i + 4);
                i = close == std::string_view::npos ? s.size() : close + 3;
            } else if (next == '!' || next == '?') {
                const auto close = s.find('>', i + 2);
                i = close == std::string_view::npos ? s.size() : close + 1;
            } else if (isAsciiLetter(next) ||
                       (next == '/' && i + 2 < s.size() &&
                        isAsciiLetter(static_cast<unsigned char>(s[i + 2])))) {
                const bool closing = next == '/';
                std::size_t end = i + (closing ? 2 : 1);
                // Lower case; no tag that matters here is longer.
                char lower[12];
                std::size_t length = 0;
                while (end < s.size() && isAsciiAlnum(static_cast<unsigned char>(s[end]))) {
                    if (length < sizeof lower)
                        lower[length] =
                            static_cast<char>(static_cast<unsigned char>(s[end]) | 0x20);
                    ++length;
                    ++end;
                }
                const std::string_view name =
                    length <= sizeof lower ? std::string_view(lower, length) : std::string_view();
                i = tagEnd(s, end);
                if (isBlockTag(name))
                    out.blank();
                if (!closing && isHiddenContentTag(name)) {
                    i = tagEnd(s, endTagStart(s, i, name));
                    out.blank();
                }
            } else {
                out.append(U'<');
                ++i;
            }
        } else if (c == '&') {
            std::size_t length = 0;
            const char32_t cp = decodeReference(s.substr(i), &length);
            if (cp == 0) {
                out.append(U'&');
                ++i;
            } else {
                out.append(cp);
                i += length;
            }
        } else if (c == 0xC2) {
            if (i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xA0) {
                out.blank();
                i += 2;
            } else {
                out.append(s.substr(i, 1));
                ++i;
            }
        } else {
            out.blank();
            ++i;
        }
    }
    return out.take();
}

String CollapseBlanks(std::string_view s)
{
    BlankCollapser out(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t run = i;
        while (run < s.size()) {
            const auto c = static_cast<unsigned char>(s[run]);
            if (isBlankByte(c) ||
                (c == 0xC2 && run + 1 < s.size() && static_cast<unsigned char>(s[run + 1]) == 0xA0))
                break;
            ++run;
        }
        out.append(s.substr(i, run - i));
        i = run;
        if (i < s.size()) {
            out.blank();
            i += static_cast<unsigned char>(s[i]) == 0xC2 ? 2U : 1U;
        }
    }
    return out.take();
}
