#pragma once

#include "runview.h"

#include <cstdio>
#include <functional>
#include <map>
#include <vector>

// The run's view on a terminal: the inputs come from the command line, the
// status texts and a progress line go to standard error, and the result
// grid is kept for printing at the end. No sound, no browser.
class TTerminalView : public IRunView
{
public:
    struct Inputs
    {
        String address;
        String keywords;
        Integer depthIndex = -1; // the crawler's own depth
        bool caseSensitive = false;
    };

    TTerminalView(Inputs inputs, std::FILE* err, bool redraw);

    // The grid's result rows, in row order.
    std::vector<std::pair<String, String>> Rows() const;
    const String& Status() const { return m_status; }
    // Pages the search phase has to go through, for the progress line.
    std::function<Integer()> PageTotal;

    String AddressText() const override { return m_inputs.address; }
    void SetAddressText(const String& text) override { m_inputs.address = text; }
    String KeywordText() const override { return m_inputs.keywords; }
    Integer DepthIndex() const override { return m_inputs.depthIndex; }
    String DepthText() const override;
    bool CaseSensitive() const override { return m_inputs.caseSensitive; }
    std::vector<String> History() const override { return m_history; }
    void AppendHistory(const String& address) override { m_history.push_back(address); }
    void SetStatus(const String& text) override;
    void ClearResultRows() override { m_rows.clear(); }
    void SetResultRow(Integer row, const String& name, const String& hits) override;
    void SetCurrentRow(Integer) override {}
    void SetButtonEnabled(Button, bool) override {}
    void SetBar(Bar, Integer) override {}
    void ShowProgress() override {}
    void HideProgress() override {}
    void FlipPictures() override {}
    void PlaySound(Integer) override {}
    TMemo& TextBuffer() override { return m_memo; }
    void OpenResultsPage() override {}
    void CrawlProgress(Integer inQueue, Integer downloading, Integer done, Integer errors,
                       Integer retries) override;

    // Ends the progress line so that what follows starts on a line of its own.
    void FinishProgress();

private:
    void progress(const String& line);

    Inputs m_inputs;
    std::FILE* m_err;
    bool m_redraw;
    bool m_progressShown = false;
    String m_status;
    std::vector<String> m_history;
    std::map<Integer, std::pair<String, String>> m_rows;
    TMemo m_memo;
};
