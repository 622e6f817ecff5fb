// The account of a run: how many pages were searched, and why the others were not.

#include "runaccount.h"

#include <algorithm>
#include <map>

namespace {

// 1204 as "1,204", the way the summary line is read.
String grouped(Integer number)
{
    String digits = std::to_string(number);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

} // namespace

String PageStatus(const TPageEntry& entry)
{
    switch (entry.State) {
    case TPageState::Searched:
        return entry.NotModified ? "not-modified" : "ok";
    case TPageState::Failed:
        return FailureWord(entry.Failure());
    case TPageState::Skipped:
        return entry.Rule();
    case TPageState::PatternLimit:
        return "pattern-limit";
    case TPageState::NotSearched:
        break;
    }
    return "not searched";
}

TRunAccount TRunAccount::Of(std::span<const TPageEntry> rows, Integer otherHost)
{
    TRunAccount account;
    std::map<String, Integer> reasons;
    for (const TPageEntry& entry : rows) {
        if (entry.Name.empty() && entry.Address().empty())
            break;
        ++account.Pages;
        if (entry.State == TPageState::Searched) {
            ++account.Searched;
            if (entry.Hits > 0)
                ++account.WithHits;
            if (entry.NotModified)
                ++account.NotModified;
        } else {
            ++reasons[PageStatus(entry)];
        }
    }
    if (otherHost > 0) {
        account.Pages += otherHost;
        reasons["other host"] += otherHost;
    }
    for (const auto& [reason, count] : reasons) {
        account.NotSearched += count;
        account.Reasons.emplace_back(reason, count);
    }
    std::stable_sort(account.Reasons.begin(), account.Reasons.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return account;
}

String TRunAccount::SummaryLine() const
{
    String line = grouped(Pages) + " pages: " + grouped(Searched) + " searched (" +
                  grouped(WithHits) + " with hits" +
                  (NotModified > 0 ? ", " + grouped(NotModified) + " not-modified)" : String(")"));
    if (NotSearched > 0) {
        line += ", " + grouped(NotSearched) + " not searched:";
        for (std::size_t i = 0; i < Reasons.size(); ++i)
            line += (i ? ", " : " ") + grouped(Reasons[i].second) + " " + Reasons[i].first;
    }
    for (std::size_t i = 0; i < TrapPaths.size(); ++i)
        line += (i ? ", " : "; too many query strings: ") + TrapPaths[i];
    if (LinksOverCap > 0)
        line += "; " + grouped(LinksOverCap) + " links over the per-page cap";
    return line;
}
