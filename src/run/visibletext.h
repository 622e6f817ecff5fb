// The text of a page as a reader sees it, and the page's bytes as UTF-8.

#pragma once

#include "nqtypes.h"

#include <string_view>

// A page's bytes as UTF-8, as DecodeWebText reads them: kept when they are
// valid UTF-8 (a leading byte order mark dropped), read as Windows-1252
// otherwise.
String WebTextToUtf8(std::string_view bytes);
// The same text, without a copy when bytes are valid UTF-8: then a view of
// them, else a view of Storage, which receives the decoded text.
std::string_view WebTextAsUtf8(std::string_view bytes, String& Storage);

// The text a reader sees in a page given as UTF-8: tags removed (a block
// element's tag reads as one blank, any other as nothing), comments and the
// contents of script, style, template and noscript removed, character
// references decoded, and every run of blanks (space, tab, line break,
// no-break space) one space, none at either end. The title is text;
// attribute values are not.
String VisibleText(std::string_view html);

// Every run of blanks in text (UTF-8) as one space, as VisibleText leaves them.
String CollapseBlanks(std::string_view text);
