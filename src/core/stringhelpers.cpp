// Small text helpers: positions, ASCII case, trimming.

#include "stringhelpers.h"

Integer LastCharPos(char Ch, const String& Text)
{
    const auto pos = Text.rfind(Ch);
    return pos == String::npos ? 0 : static_cast<Integer>(pos + 1);
}

// A..Z and a..z alone, by arithmetic: the C library's tolower asks the
// locale for every byte, which costs a call each and, in a single-byte
// locale, would change the bytes of UTF-8 text too.
String AsciiLower(std::string_view text)
{
    String out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return out;
}

String AsciiUpper(std::string_view text)
{
    String out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    // Byte by byte, without the two lower-case copies: every link asks.
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    };
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != lower(prefix[i]))
            return false;
    }
    return true;
}
