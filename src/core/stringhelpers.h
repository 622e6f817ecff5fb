// Small text helpers: positions, ASCII case, trimming.

#pragma once

#include "nqtypes.h"

#include <cstdio>
#include <memory>
#include <string_view>

// 1-based position of the last Ch in Text, 0 when there is none.
Integer LastCharPos(char Ch, const String& Text);

// Letter case of ASCII letters only: addresses, header names and schemes.
String AsciiLower(std::string_view text);
String AsciiUpper(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

struct FileCloser
{
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
// A C stream that is closed however its scope ends; release() it to close
// it yourself and see whether the close failed.
using CFile = std::unique_ptr<std::FILE, FileCloser>;
