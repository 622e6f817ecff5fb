// The HTML report: results.htm, pagelist.htm, links.htm and the logo.

#pragma once

#include "nqtypes.h"
#include "transfererror.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class IRunView;

enum class TPageState : std::uint8_t
{
    NotSearched,
    Searched,
    Failed,       // asked for, and no page came: Failure says why
    Skipped,      // never asked for: a rule kept it out, Rule names it
    PatternLimit, // fetched, but a pattern gave up on it: no count
};

// What only some pages have: kept apart, so that the rows of a big site do
// not each carry room for them.
struct TPageDetails
{
    String Address;        // only when Name does not show it
    TransferError Failure; // why a failed page failed
    String Rule;           // the rule that kept a skipped page out ("robots", "excluded")
    String Location;       // Rule "redirect": where the redirect, not followed, leads
    // Per keyword, where it was found, when snippets were asked for.
    std::vector<std::vector<String>> Snippets;
};

struct TPageEntry
{
    String Name; // the address, or "Invalid URL"; empty marks the end of the used part
    Integer Hits = 0;
    TPageState State = TPageState::NotSearched;
    // Searched in the copy a saved crawl kept: the server said it had not
    // changed since.
    bool NotModified = false;
    // Beyond the grid's two columns, for the command's results.
    std::vector<Integer> KeywordHits; // one per entry of the keyword list

    TPageEntry() = default;
    TPageEntry(const TPageEntry& other);
    TPageEntry& operator=(const TPageEntry& other);
    TPageEntry(TPageEntry&&) noexcept = default;
    TPageEntry& operator=(TPageEntry&&) noexcept = default;
    ~TPageEntry();

    // The page's address, also when Name says "Invalid URL".
    const String& Address() const
    {
        return m_details && !m_details->Address.empty() ? m_details->Address : Name;
    }
    void SetAddress(const String& address);
    // Name := name; the address stays what it was.
    void Rename(String name);

    // Empty for a page that has none; setting an empty one costs nothing.
    const TransferError& Failure() const { return details().Failure; }
    const String& Rule() const { return details().Rule; }
    const String& Location() const { return details().Location; }
    const std::vector<std::vector<String>>& Snippets() const { return details().Snippets; }
    void SetFailure(const TransferError& failure);
    void SetRule(const String& rule);
    void SetLocation(const String& location);
    void SetSnippets(std::vector<std::vector<String>> snippets);

private:
    const TPageDetails& details() const;
    TPageDetails& editDetails();

    std::unique_ptr<TPageDetails> m_details;
};

// What a run leaves behind for the report.
struct TRunData
{
    std::vector<TPageEntry> PageTable;
    std::vector<String> PageList;
    std::vector<String> LinkList;
    std::vector<String> KeywordList;
    // Follows the keyword box's text in the report: keywords given apart
    // from it and the search options in use; empty for the plain search.
    String KeywordNote;
    Integer PageCount = 0;
    Integer LinkCount = 0;
    Integer HitPageCount = 0;
    Integer CurrentPage = 0;
    bool Cancelled = false;
};

// Writes the results of a run as "results.htm", "pagelist.htm" and
// "links.htm" in the working folder. Every inserted text is HTML-escaped,
// with characters outside ASCII as numeric references, so a hostile page
// cannot put markup or script into the report.
class TReportWriter
{
public:
    // HitPageCount := the number of table entries with hits.
    static void CountHitPages(TRunData& data);
    // Writes the three files under the folder's lock, each complete before it
    // replaces the one there, then opens the results page through the view.
    // The first failure throws EInOutError naming the file and the reason;
    // no file is left cut short and the results page is not opened.
    static void WriteReport(const TRunData& data, IRunView& view);
    // The same three files into folder (the working folder when empty),
    // without opening anything.
    static void WriteReportFiles(const TRunData& data, const IRunView& view, const String& folder);

    // Writes the logo the report pages show, "qlogo.gif", into folder;
    // throws EInOutError when it cannot.
    static void WriteLogo(const QString& folder);

    // Bytes (UTF-8, or Windows-1252 when not UTF-8) as escaped HTML text.
    static String EscapeHtml(const String& text);
};
