// The run's view on a terminal: inputs from the command line, progress on standard error.

#include "terminalview.h"

namespace {

const char* const kDepthNames[] = {"Lowest", "Low", "Normal", "High", "Highest"};
constexpr int kBarWidth = 20;

// A terminal can take ten redraws a second; a log wants a line now and then.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kLineEvery = std::chrono::seconds(5);

} // namespace

TTerminalView::TTerminalView(SearchSettings settings, std::FILE* err, Progress progress)
    : m_settings(std::move(settings)), m_err(err), m_progress(progress)
{}

String TTerminalView::DepthText() const
{
    const Integer i = m_settings.depthIndex;
    return i >= 0 && i < 5 ? kDepthNames[i] : "Normal";
}

void TTerminalView::PhaseChanged(Phase phase)
{
    if (phase == Phase::Crawling)
        m_started = std::chrono::steady_clock::now();
    if (phase == Phase::Searching) {
        m_searched = 0;
        m_toSearch = PagesFound ? PagesFound() : 0;
    }
    m_phase = phase;
    if (phase != Phase::Idle)
        showProgress(true);
}

void TTerminalView::CrawlProgress(const CrawlFigures& figures)
{
    m_figures = figures;
    showProgress(false);
}

void TTerminalView::RowFilled(Integer row, const TPageEntry&)
{
    if (m_phase == Phase::Searching) {
        m_searched = row;
        showProgress(row == m_toSearch);
    }
}

String TTerminalView::progressLine() const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - m_started)
                             .count();
    const String time = " " + std::to_string(elapsed) + "s";
    const Integer found = PagesFound ? PagesFound() : 0;
    if (m_phase == Phase::Crawling)
        return "crawling: " + std::to_string(found) + " pages found, " +
               std::to_string(m_figures.Done) + " fetched, " +
               std::to_string(m_figures.Downloading) + " downloading, " +
               std::to_string(m_figures.InQueue) + " queued, " + std::to_string(m_figures.Errors) +
               " errors" + time;
    const Integer total = std::max(m_toSearch, 1);
    const int filled = static_cast<int>(static_cast<long long>(m_searched) * kBarWidth / total);
    return "searching: " + std::to_string(m_searched) + " of " + std::to_string(m_toSearch) +
           " pages analyzed [" + String(static_cast<std::size_t>(filled), '#') +
           String(static_cast<std::size_t>(kBarWidth - filled), '-') + "]" + time;
}

void TTerminalView::showProgress(bool force)
{
    if (m_progress == Progress::None || m_phase == Phase::Idle)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto every = m_progress == Progress::Redraw
                           ? std::chrono::duration_cast<std::chrono::milliseconds>(kRedrawEvery)
                           : std::chrono::duration_cast<std::chrono::milliseconds>(kLineEvery);
    if (!force && now - m_lastShown < every)
        return;
    m_lastShown = now;
    if (m_progress == Progress::Redraw) {
        std::fprintf(m_err, "\r\033[K%s", progressLine().c_str());
        m_progressShown = true;
    } else {
        std::fprintf(m_err, "%s\n", progressLine().c_str());
    }
    std::fflush(m_err);
}

void TTerminalView::FinishProgress()
{
    if (m_progressShown)
        std::fputs("\r\033[K", m_err);
    m_progressShown = false;
    std::fflush(m_err);
}
