// The run's view on a terminal: inputs from the command line, progress on standard error.

#include "terminalview.h"

#include "passwordmask.h"

#include <algorithm>

namespace {

const char* const kDepthNames[] = {"Lowest", "Low", "Normal", "High", "Highest"};
constexpr int kBarWidth = 20;

// A terminal can take ten redraws a second; a log wants a line now and then.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kLineEvery = std::chrono::seconds(5);

// Below this the address says too little to be worth its room.
constexpr std::size_t kMinAddress = 12;
// The full figures when they leave the address this much room.
constexpr std::size_t kWantedAddress = 24;
const String kEllipsis = "...";

// Columns a UTF-8 text takes: one per character.
std::size_t columnsOf(const String& text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Byte offset of the character at column n (or the end).
std::size_t offsetOf(const String& text, std::size_t n)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue;
        if (seen++ == n)
            return i;
    }
    return text.size();
}

String cutEnd(const String& text, std::size_t width)
{
    if (columnsOf(text) <= width)
        return text;
    if (width <= kEllipsis.size())
        return text.substr(0, offsetOf(text, width));
    return text.substr(0, offsetOf(text, width - kEllipsis.size())) + kEllipsis;
}

// Both ends of an address say most: its host and its page.
String cutMiddle(const String& text, std::size_t width)
{
    const std::size_t length = columnsOf(text);
    if (length <= width)
        return text;
    const std::size_t keep = width - kEllipsis.size();
    const std::size_t front = keep - keep / 2;
    return text.substr(0, offsetOf(text, front)) + kEllipsis +
           text.substr(offsetOf(text, length - keep / 2));
}

} // namespace

bool TTerminalView::ColourWanted(bool tty, const char* term, const char* noColour)
{
    // https://no-color.org: set and not empty means none.
    if (!tty || (noColour && *noColour) || !term || !*term)
        return false;
    return String(term) != "dumb";
}

void TTerminalView::SetColumns(int columns)
{
    m_columns = std::max(columns, 0);
    if (m_progressShown)
        showProgress(true);
}

void TTerminalView::PageFound(const String& address)
{
    m_address = address;
}

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

void TTerminalView::Warn(const String& text)
{
    FinishProgress();
    std::fprintf(m_err, "warning: %s\n", text.c_str());
    std::fflush(m_err);
    showProgress(true);
}

void TTerminalView::RowFilled(Integer row, const TPageEntry& entry)
{
    if (m_phase == Phase::Searching) {
        m_searched = row;
        m_address = MaskPasswords(entry.Address());
        showProgress(row == m_toSearch);
    }
}

String TTerminalView::progressLine(bool compact) const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - m_started)
                             .count();
    const String time = " " + std::to_string(elapsed) + "s";
    const Integer found = PagesFound ? PagesFound() : 0;
    if (m_phase == Phase::Crawling && compact)
        return "crawling: " + std::to_string(found) + " found, " + std::to_string(m_figures.Done) +
               " fetched" + time;
    if (compact)
        return "searching: " + std::to_string(m_searched) + " of " + std::to_string(m_toSearch) +
               time;
    if (m_phase == Phase::Crawling)
        return "crawling: " + std::to_string(found) + " pages found, " +
               std::to_string(m_figures.Done) + " fetched, " +
               std::to_string(m_figures.Downloading) + " downloading, " +
               std::to_string(m_figures.InQueue) + " queued, " + std::to_string(m_figures.Errors) +
               " errors" + time + (m_figures.Note.empty() ? String() : "; " + m_figures.Note);
    const Integer total = std::max(m_toSearch, 1);
    const int filled = static_cast<int>(static_cast<long long>(m_searched) * kBarWidth / total);
    return "searching: " + std::to_string(m_searched) + " of " + std::to_string(m_toSearch) +
           " pages analyzed [" + String(static_cast<std::size_t>(filled), '#') +
           String(static_cast<std::size_t>(kBarWidth - filled), '-') + "]" + time;
}

String TTerminalView::fittedLine() const
{
    String line = progressLine(false);
    if (m_columns <= 0)
        return m_address.empty() ? line : line + "  " + m_address;
    // The last column would wrap on some terminals.
    const auto room = static_cast<std::size_t>(m_columns - 1);
    if (columnsOf(line) + 2 + kWantedAddress > room)
        line = progressLine(true);
    const std::size_t used = columnsOf(line);
    if (used + 2 + kMinAddress > room || m_address.empty())
        line = cutEnd(line, room);
    else
        line += "  " + cutMiddle(m_address, room - used - 2);
    if (!Colour)
        return line;
    const auto colon = line.find(':');
    if (colon == String::npos)
        return line;
    return "\033[1;36m" + line.substr(0, colon) + "\033[0m" + line.substr(colon);
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
        std::fprintf(m_err, "\r\033[K%s", fittedLine().c_str());
        m_progressShown = true;
    } else {
        std::fprintf(m_err, "%s\n", progressLine(false).c_str());
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
