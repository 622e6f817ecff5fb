#pragma once

#include "runview.h"
#include "searchsettings.h"

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nqtest {

// Records what a run shows, as a user of the window would see it (buttons,
// bars, grid, status), and answers with the inputs a test sets.
class FakeRunView : public IRunView
{
public:
    enum Button
    {
        ScanButton,
        PasteButton,
        CancelButton,
        ReportButton,
    };

    String address;
    String keywords;
    Integer depthIndex = -1;
    String depthText = "Normal";
    bool caseSensitive = false;
    std::vector<String> history;
    String status;
    std::vector<String> statusLog;
    std::map<Integer, TPageEntry> entries;
    Integer currentRow = 0;
    std::map<Button, bool> enabled{
        {ScanButton, true}, {PasteButton, true}, {CancelButton, true}, {ReportButton, true}};
    CrawlFigures figures;
    bool progressShown = false;
    int flips = 0;
    std::vector<Integer> sounds;
    bool soundsFail = false;
    int reportsOpened = 0;
    std::vector<TRunOutcome> outcomes;
    // Called at the end of each run, as a user's next click would come.
    std::function<void()> onFinished;

    // The settings a run starts with, from the inputs above.
    SearchSettings Settings() const
    {
        SearchSettings settings;
        settings.address = address;
        settings.keywords = keywords;
        settings.depthIndex = depthIndex;
        settings.caseSensitive = caseSensitive;
        return settings;
    }

    String AddressText() const override { return address; }
    String KeywordText() const override { return keywords; }
    String DepthText() const override { return depthText; }
    void SetAddressText(const String& text) override { address = text; }
    std::vector<String> History() const override { return history; }
    void AppendHistory(const String& text) override { history.push_back(text); }

    void PhaseChanged(Phase phase) override
    {
        const bool idle = phase == Phase::Idle;
        if (phase != Phase::Searching) {
            enabled[ScanButton] = enabled[PasteButton] = idle;
            enabled[CancelButton] = !idle;
            enabled[ReportButton] = idle;
        }
        progressShown = phase == Phase::Crawling;
    }
    void StatusChanged(const String& text) override
    {
        status = text;
        statusLog.push_back(text);
    }
    void ResultsCleared() override { entries.clear(); }
    void PageFound(const String&) override { ++flips; }
    void CrawlProgress(const CrawlFigures& f) override { figures = f; }
    void RowFilled(Integer row, const TPageEntry& entry) override
    {
        entries[row] = entry;
        currentRow = row;
    }
    void RunFinished(const TRunOutcome& outcome) override
    {
        outcomes.push_back(outcome);
        if (onFinished)
            std::exchange(onFinished, nullptr)();
    }
    void PlaySound(Integer index) override
    {
        sounds.push_back(index);
        if (soundsFail)
            throw std::runtime_error("no sound device");
    }
    void OpenResultsPage() override { ++reportsOpened; }

    // The buttons as "scan paste cancel report", 1 for enabled.
    std::string buttons() const
    {
        std::string out;
        for (Button b : {ScanButton, PasteButton, CancelButton, ReportButton})
            out += enabled.at(b) ? '1' : '0';
        return out;
    }
    // One result row as the grid shows it: name and hits, empty for a page
    // not searched.
    std::pair<String, String> row(Integer r) const
    {
        const auto it = entries.find(r);
        if (it == entries.end())
            return {};
        return {it->second.Name, hitsCell(it->second)};
    }
    // Result rows 1.. as "name=hits" lines.
    std::vector<std::string> grid() const
    {
        std::vector<std::string> out;
        for (const auto& [row, entry] : entries) {
            if (row > 0)
                out.push_back(entry.Name + "=" + hitsCell(entry));
        }
        return out;
    }
    static std::string hitsCell(const TPageEntry& entry)
    {
        return entry.State == TPageState::Searched || entry.State == TPageState::Failed
                   ? std::to_string(entry.Hits)
                   : std::string();
    }
};

} // namespace nqtest
