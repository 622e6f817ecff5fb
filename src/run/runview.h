// IRunView: what the run tells its window or terminal, and what it asks of it.

#pragma once

#include "nqtypes.h"
#include "reportwriter.h"
#include "transfererror.h"

#include <vector>

// How a run ended, for views that act on it (the command's exit code, the
// window's sound).
struct TRunOutcome
{
    enum Kind
    {
        Completed,   // every page dealt with, or nothing to search for
        Cancelled,   // stopped by the user
        Refused,     // the address cannot be used; the run or the crawler has said why
        Unreachable, // the start page could not be fetched
        ErrorStatus, // the start page answered with an error status
    };
    Kind kind = Completed;
    String Address;        // the start address as it was crawled
    TransferError Failure; // Unreachable, ErrorStatus: what went wrong
};

// What a scan-and-search run reaches of its view: what the report shows,
// and what happens, as events. The main window implements it with its controls,
// the command with a terminal, tests with a recorder. Texts are UTF-8.
class IRunView
{
public:
    enum class Phase
    {
        Idle,
        Crawling,
        Searching,
    };
    struct CrawlFigures
    {
        Integer InQueue = 0;
        Integer Downloading = 0;
        Integer ToAnalyze = 0;
        Integer Done = 0;
        Integer Retries = 0;
        Integer Errors = 0;
        // What makes the crawl slow, when a site's pace does.
        String Note;
    };

    virtual ~IRunView() = default;

    // What the report's heading shows: the address, the keywords and the
    // depth as the view shows them when the report is written.
    virtual String AddressText() const = 0;
    virtual String KeywordText() const = 0;
    virtual String DepthText() const = 0;
    // The address the run crawls, corrected from the one it was given.
    virtual void SetAddressText(const String& text) = 0;
    // The address box's drop-down list.
    virtual std::vector<String> History() const { return {}; }
    virtual void AppendHistory(const String& /*address*/) {}

    virtual void PhaseChanged(Phase /*phase*/) {}
    // The status text to show.
    virtual void StatusChanged(const String& text) = 0;
    // Something the user should know that stops nothing (a site's pace
    // capped); the window shows it as its status.
    virtual void Warn(const String& text) { StatusChanged(" " + text); }
    virtual void ResultsCleared() {}
    // A page or link the crawl reported, whether new to the lists or not.
    virtual void PageFound(const String& /*address*/) {}
    // The crawler's figures whenever one changes.
    virtual void CrawlProgress(const CrawlFigures& /*figures*/) {}
    // Result row (from 1) now shows entry; the rows fill in table order.
    virtual void RowFilled(Integer row, const TPageEntry& entry) = 0;
    virtual void RunFinished(const TRunOutcome& /*outcome*/) {}
    // Plays entry index of the sound list "", "1.wav" .. "4.wav"; may throw
    // when the sound cannot be played.
    virtual void PlaySound(Integer /*index*/) {}
    // Opens "results.htm" in the user's browser.
    virtual void OpenResultsPage() {}
};
