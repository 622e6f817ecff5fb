#pragma once

#include "runview.h"

#include <map>
#include <string>
#include <vector>

namespace nqtest {

// Records what a run shows, as a user would see it, and answers with the
// inputs a test sets.
class FakeRunView : public IRunView
{
public:
    String address;
    String keywords;
    Integer depthIndex = -1;
    String depthText = "Normal";
    bool caseSensitive = false;
    std::vector<String> history;
    String status;
    std::vector<String> statusLog;
    std::map<Integer, std::pair<String, String>> rows;
    Integer currentRow = 0;
    std::map<Button, bool> enabled{
        {ScanButton, true}, {PasteButton, true}, {CancelButton, true}, {ReportButton, true}};
    std::map<Bar, Integer> bars;
    bool progressShown = false;
    int flips = 0;
    std::vector<Integer> sounds;
    bool soundsFail = false;
    int reportsOpened = 0;
    TMemo memo;

    String AddressText() const override { return address; }
    void SetAddressText(const String& text) override { address = text; }
    String KeywordText() const override { return keywords; }
    Integer DepthIndex() const override { return depthIndex; }
    String DepthText() const override { return depthText; }
    bool CaseSensitive() const override { return caseSensitive; }
    std::vector<String> History() const override { return history; }
    void AppendHistory(const String& text) override { history.push_back(text); }
    void SetStatus(const String& text) override
    {
        status = text;
        statusLog.push_back(text);
    }
    void ClearResultRows() override { rows.clear(); }
    void SetResultRow(Integer row, const String& name, const String& hits) override
    {
        rows[row] = {name, hits};
    }
    void SetCurrentRow(Integer row) override { currentRow = row; }
    void SetButtonEnabled(Button button, bool on) override { enabled[button] = on; }
    void SetBar(Bar bar, Integer value) override { bars[bar] = value; }
    void ShowProgress() override { progressShown = true; }
    void HideProgress() override { progressShown = false; }
    void FlipPictures() override { ++flips; }
    void PlaySound(Integer index) override
    {
        sounds.push_back(index);
        if (soundsFail)
            throw std::runtime_error("no sound device");
    }
    TMemo& TextBuffer() override { return memo; }
    void OpenResultsPage() override { ++reportsOpened; }

    // The buttons as "scan paste cancel report", 1 for enabled.
    std::string buttons() const
    {
        std::string out;
        for (Button b : {ScanButton, PasteButton, CancelButton, ReportButton})
            out += enabled.at(b) ? '1' : '0';
        return out;
    }
    // Result rows 1.. as "name=hits" lines.
    std::vector<std::string> grid() const
    {
        std::vector<std::string> out;
        for (const auto& [row, cells] : rows) {
            if (row > 0)
                out.push_back(cells.first + "=" + cells.second);
        }
        return out;
    }
};

} // namespace nqtest
