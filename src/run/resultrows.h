// The result rows as the command prints and the window exports them: keyword cells, CSV.

#pragma once

#include "reportwriter.h"

#include <functional>
#include <span>
#include <string_view>
#include <vector>

// One CSV field, quoted when it holds a comma, a quote or a line end.
String CsvField(const String& text);
// Whether the page's counts are in (not failed, not left out by a cancel).
bool PageCounted(const TPageEntry& entry);
// The n-th keyword's count, or "" when the page has none.
String KeywordCell(const TPageEntry& entry, std::size_t k);
// The keywords that get a column of their own: empty ones count nothing.
std::vector<std::size_t> KeywordColumns(const std::vector<String>& keywords);

// The page's snippets as one line: "keyword: text" items, in keyword order,
// joined by " | "; empty when it has none.
String SnippetLine(const TPageEntry& entry, const std::vector<String>& keywords);

struct CsvColumns
{
    bool snippets = false; // a last column with the snippet line
    // The rows to write; all when unset.
    std::function<bool(const TPageEntry&)> listed;
};

// The rows as CSV (RFC 4180, CR LF): address, status, total and one column
// per keyword, handed to out line by line so that a large table is never
// held twice.
void WriteResultsCsv(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
                     const CsvColumns& columns, const std::function<void(std::string_view)>& out);
