// The run's view on a terminal: inputs from the command line, progress on standard error.

#pragma once

#include "runview.h"
#include "searchsettings.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

// The run's view on a terminal: the inputs come from the command line,
// progress goes to standard error (one line redrawn in place on a terminal,
// a line now and then elsewhere when asked for); the results stay in the
// run's page table for printing at the end. No sound, no browser.
class TTerminalView : public IRunView
{
public:
    enum class Progress
    {
        None,
        Redraw, // a terminal: one line, redrawn
        Lines,  // a log: a line at most every few seconds
    };

    // settings: what the command line asked for, as the report shows it.
    TTerminalView(SearchSettings settings, std::FILE* err, Progress progress);

    const String& Status() const { return m_status; }
    const TRunOutcome& Outcome() const { return m_outcome; }
    // Pages found so far, for the progress line.
    std::function<Integer()> PagesFound;
    // The phase word in colour; for a terminal that shows colours, when the
    // user has not asked for none.
    bool Colour = false;
    // Whether a terminal of that TERM on a tty shows colours, NO_COLOR being
    // noColour (unset: nullptr).
    static bool ColourWanted(bool tty, const char* term, const char* noColour);

    // The terminal's width in columns, 0 when unknown; the redrawn line is
    // fitted to it, and redrawn at once when it changes.
    void SetColumns(int columns);

    String AddressText() const override { return m_settings.address; }
    String KeywordText() const override { return m_settings.keywords; }
    String DepthText() const override;
    void SetAddressText(const String& text) override { m_settings.address = text; }

    void PhaseChanged(Phase phase) override;
    void StatusChanged(const String& text) override { m_status = text; }
    // On a line of its own, "warning: " before it.
    void Warn(const String& text) override;
    void PageFound(const String& address) override;
    void CrawlProgress(const CrawlFigures& figures) override;
    void RowFilled(Integer row, const TPageEntry& entry) override;
    void RunFinished(const TRunOutcome& outcome) override { m_outcome = outcome; }

    // Ends the progress line so that what follows starts on a line of its own.
    void FinishProgress();

private:
    void showProgress(bool force);
    // The figures of the phase, in words or, compact, in a few.
    String progressLine(bool compact) const;
    // The line as shown: the figures and the address, within the width.
    String fittedLine() const;

    SearchSettings m_settings;
    std::FILE* m_err;
    Progress m_progress;
    Phase m_phase = Phase::Idle;
    CrawlFigures m_figures;
    Integer m_searched = 0;
    Integer m_toSearch = 0;
    String m_address; // the page the run is at
    int m_columns = 0;
    bool m_progressShown = false;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastShown{};
    String m_status;
    TRunOutcome m_outcome;
};
