// Small text helpers: positions, ASCII case, trimming.

#include "stringhelpers.h"

#include <algorithm>
#include <cctype>

Integer LastCharPos(char Ch, const String& Text)
{
    const auto pos = Text.rfind(Ch);
    return pos == String::npos ? 0 : static_cast<Integer>(pos + 1);
}

String AsciiLower(std::string_view text)
{
    String out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

String AsciiUpper(std::string_view text)
{
    String out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}
