// The result rows as the command prints them and the window exports them: status, keyword cells,
// CSV.

#include "resultrows.h"

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

bool PageCounted(const TPageEntry& entry)
{
    return entry.State == TPageState::Searched;
}

String PageStatus(const TPageEntry& entry)
{
    switch (entry.State) {
    case TPageState::Searched:
        return "ok";
    case TPageState::Failed:
        return FailureWord(entry.Failure);
    case TPageState::NotSearched:
        break;
    }
    return "not searched";
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

void WriteResultsCsv(std::span<const TPageEntry> rows, const std::vector<String>& keywords,
                     const std::function<void(std::string_view)>& out)
{
    const auto columns = KeywordColumns(keywords);
    String line = "address,status,total";
    for (const std::size_t k : columns)
        line += "," + csvField(keywords[k]);
    out(line + "\r\n");
    for (const TPageEntry& entry : rows) {
        line = csvField(entry.Address) + "," + csvField(PageStatus(entry)) + "," +
               (PageCounted(entry) ? std::to_string(entry.Hits) : String());
        for (const std::size_t k : columns)
            line += "," + KeywordCell(entry, k);
        out(line + "\r\n");
    }
}
