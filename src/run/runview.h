#pragma once

#include "memo.h"
#include "nqtypes.h"

#include <vector>

// What a scan-and-search run reaches of the window's controls. The main
// window implements it with its controls, tests with a recorder. Texts are
// UTF-8.
class IRunView
{
public:
    enum Button
    {
        ScanButton,   // "Scan/Search site"
        PasteButton,  // "Paste adress and scan"
        CancelButton, // "Cancel "
        ReportButton, // "Show result as Webpage"
    };
    enum Bar
    {
        QueueBar,    // range 0 to 10
        DownloadBar, // range 0 to 5
        AnalyzeBar,  // range 0 to 2
    };

    virtual ~IRunView() = default;

    virtual String AddressText() const = 0;
    virtual void SetAddressText(const String& text) = 0;
    virtual String KeywordText() const = 0;
    // Index of the selected depth entry ("Lowest" 0 to "Highest" 4), -1 for
    // none; and the text the depth box shows.
    virtual Integer DepthIndex() const = 0;
    virtual String DepthText() const = 0;
    virtual bool CaseSensitive() const = 0;

    // The address box's drop-down list.
    virtual std::vector<String> History() const = 0;
    virtual void AppendHistory(const String& address) = 0;

    // Panel 0 of the status bar.
    virtual void SetStatus(const String& text) = 0;

    // Result grid: row 0 is the heading; rows from 1 hold results and the
    // grid grows to hold any row written.
    virtual void ClearResultRows() = 0;
    virtual void SetResultRow(Integer row, const String& name, const String& hits) = 0;
    virtual void SetCurrentRow(Integer row) = 0;

    virtual void SetButtonEnabled(Button button, bool enabled) = 0;
    virtual void SetBar(Bar bar, Integer value) = 0;

    virtual void ShowProgress() = 0;
    virtual void HideProgress() = 0;
    virtual void FlipPictures() = 0;

    // Plays entry index of the sound list "", "1.wav" .. "4.wav"; may throw
    // when the sound cannot be played.
    virtual void PlaySound(Integer index) = 0;

    virtual TMemo& TextBuffer() = 0;

    // Clicks the hidden link label whose caption is "results.htm".
    virtual void OpenResultsPage() = 0;

    // The crawler's figures whenever one changes, for views that show more
    // than the three bars.
    virtual void CrawlProgress(Integer /*inQueue*/, Integer /*downloading*/, Integer /*done*/,
                               Integer /*errors*/, Integer /*retries*/)
    {}
};
