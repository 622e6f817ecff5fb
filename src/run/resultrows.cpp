// The result rows as the command prints and the window exports them: keyword cells, CSV.

#include "resultrows.h"

#include "passwordmask.h"
#include "runaccount.h"

namespace {

String csvField(const String& text)
{
    if (text.find_first_of(",\"\r\n") == String::npos)
        return text;
    String out = "\"";
    for (char c : text)
        out += c == '"' ? String("\"\"") : String(1, c);
    return out + "\"";
}

} // namespace

String CsvField(const String& text)
{
    return csvField(text);
}

bool PageCounted(const TPageEntry& entry)
{
    return entry.State == TPageState::Searched;
}

String KeywordCell(const TPageEntry& entry, std::size_t k)
{
    if (!PageCounted(entry) || k >= entry.KeywordHits.size())
        return String();
    return std::to_string(entry.KeywordHits[k]);
}

std::vector<std::size_t> KeywordColumns(const std::vector<String>& keywords)
{
    std::vector<std::size_t> columns;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (!keywords[k].empty())
            columns.push_back(k);
    }
    return columns;
}

String SnippetLine(const TPageEntry& entry, const std::vector<String>& keywords)
{
    String line;
    for (std::size_t k = 0; k < entry.Snippets().size() && k < keywords.size(); ++k) {
        for (const String& snippet : entry.Snippets()[k])
            line += (line.empty() ? "" : " | ") + keywords[k] + ": " + snippet;
    }
    return line;
}

void WriteResultsCsv(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
                     const CsvColumns& columns, const std::function<void(std::string_view)>& out)
{
    const auto counted = KeywordColumns(keywords);
    String line = "address,status,total";
    for (const std::size_t k : counted)
        line += "," + csvField(keywords[k]);
    out(line + (columns.snippets ? ",snippets\r\n" : "\r\n"));
    for (const TPageEntry& entry : rows) {
        if (columns.listed && !columns.listed(entry))
            continue;
        line = csvField(MaskPasswords(entry.Address())) + "," + csvField(PageStatus(entry)) + "," +
               (PageCounted(entry) ? std::to_string(entry.Hits) : String());
        for (const std::size_t k : counted)
            line += "," + KeywordCell(entry, k);
        if (columns.snippets)
            line += "," + csvField(SnippetLine(entry, keywords));
        out(line + "\r\n");
    }
}
