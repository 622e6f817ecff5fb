#include "stringhelpers.h"

Integer LastCharPos(char Ch, const String& Text)
{
    const auto pos = Text.rfind(Ch);
    return pos == String::npos ? 0 : static_cast<Integer>(pos + 1);
}
