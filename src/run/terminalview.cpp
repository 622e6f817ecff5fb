#include "terminalview.h"

namespace {
const char* const kDepthNames[] = {"Lowest", "Low", "Normal", "High", "Highest"};
}

TTerminalView::TTerminalView(Inputs inputs, std::FILE* err, bool redraw)
    : m_inputs(std::move(inputs)), m_err(err), m_redraw(redraw)
{}

String TTerminalView::DepthText() const
{
    const Integer i = m_inputs.depthIndex;
    return i >= 0 && i < 5 ? kDepthNames[i] : "Normal";
}

std::vector<std::pair<String, String>> TTerminalView::Rows() const
{
    std::vector<std::pair<String, String>> rows;
    for (const auto& [row, cells] : m_rows) {
        if (row > 0)
            rows.push_back(cells);
    }
    return rows;
}

void TTerminalView::progress(const String& line)
{
    if (!m_redraw)
        return;
    std::fprintf(m_err, "\r\033[K%s", line.c_str());
    std::fflush(m_err);
    m_progressShown = true;
}

void TTerminalView::FinishProgress()
{
    if (m_progressShown)
        std::fputs("\r\033[K", m_err);
    m_progressShown = false;
}

void TTerminalView::SetStatus(const String& text)
{
    // On a terminal the rows of the final listing redraw one line instead
    // of scrolling a line each.
    const bool listing = text.find(" of ") != String::npos &&
                         text.find(" pages analyzed. Working...") != String::npos;
    m_status = text;
    if (listing && m_redraw) {
        progress(text.substr(1));
        return;
    }
    FinishProgress();
    std::fprintf(m_err, "%s\n", text.substr(text.empty() ? 0 : 1).c_str());
    std::fflush(m_err);
}

void TTerminalView::SetResultRow(Integer row, const String& name, const String& hits)
{
    m_rows[row] = {name, hits};
    if (PageTotal)
        progress("searching: " + std::to_string(row) + " of " + std::to_string(PageTotal()) +
                 " pages analysed");
}

void TTerminalView::CrawlProgress(Integer inQueue, Integer downloading, Integer done,
                                  Integer errors, Integer retries)
{
    progress("crawling: " + std::to_string(inQueue) + " queued, " + std::to_string(downloading) +
             " downloading, " + std::to_string(done) + " done, " + std::to_string(errors) +
             " errors, " + std::to_string(retries) + " retries");
}
