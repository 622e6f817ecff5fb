// The command's progress line on a terminal: fitted to its width, coloured only when wanted.

#include "terminalview.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// What the view wrote on its terminal, as the redraws it made.
class Screen
{
public:
    Screen() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~Screen()
    {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    std::FILE* file() const { return m_file; }
    std::string all()
    {
        std::fflush(m_file);
        return {m_buffer, m_size};
    }
    // The text of the last redraw, and how many columns it shows.
    std::string lastLine()
    {
        std::fflush(m_file);
        const std::string all(m_buffer, m_size);
        const auto start = all.rfind("\r\033[K");
        return start == std::string::npos ? all : all.substr(start + 4);
    }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_file;
};

std::size_t shownColumns(const std::string& line)
{
    std::size_t columns = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\033') {
            i = line.find('m', i);
            continue;
        }
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80)
            ++columns;
    }
    return columns;
}

} // namespace

TEST(TerminalView, TheProgressLineFitsTheTerminalAndFollowsItsWidth)
{
    const std::string address =
        "http://127.0.0.1:8080/a/rather/long/path/to/the/granite/quarry/page.htm";
    const struct
    {
        int columns;
        std::string shows; // a piece of the line that must be there
    } widths[] = {
        {0, "crawling: 7 pages found, 3 fetched, 2 downloading, 4 queued, 1 errors 0s  " + address},
        {200, "1 errors 0s  " + address},
        {100, "1 errors 0s  http://127....ry/page.htm"},
        {50, "crawling: 7 found, 3 fetched 0s  http://...ge.htm"},
        {30, "crawling: 7 found, 3 fetch..."},
    };
    Screen screen;
    TTerminalView view(SearchSettings{}, screen.file(), TTerminalView::Progress::Redraw);
    view.PagesFound = [] { return 7; };
    view.PhaseChanged(IRunView::Phase::Crawling);
    view.PageFound(address);
    view.CrawlProgress({4, 2, 0, 3, 0, 1, ""});
    for (const auto& width : widths) {
        SCOPED_TRACE(width.columns);
        view.SetColumns(width.columns); // as on SIGWINCH: redrawn at once
        const std::string line = screen.lastLine();
        EXPECT_NE(line.find(width.shows), std::string::npos) << line;
        if (width.columns > 0) {
            EXPECT_LT(shownColumns(line), static_cast<std::size_t>(width.columns)) << line;
        }
    }
    // A site's pace that makes the crawl slow is said, and a warning gets its own line.
    view.CrawlProgress({4, 2, 0, 3, 0, 1, "robots.txt of example.org asks 10 s between requests"});
    view.SetColumns(0);
    EXPECT_NE(screen.lastLine().find("1 errors 0s; robots.txt of example.org asks 10 s between "
                                     "requests  " +
                                     address),
              std::string::npos)
        << screen.lastLine();
    view.Warn("robots.txt of example.org asks 90 s between requests; waiting 30 s");
    EXPECT_NE(screen.all().find("\r\033[Kwarning: robots.txt of example.org asks 90 s between "
                                "requests; waiting 30 s\n\r\033[Kcrawling"),
              std::string::npos);
}

TEST(TerminalView, ColoursOnlyWhereTheyShowAndAreWanted)
{
    const struct
    {
        bool tty;
        const char* term;
        const char* noColour;
        bool colour;
    } cases[] = {
        {true, "xterm-256color", nullptr, true},
        {true, "tmux-256color", "", true},
        {true, "xterm", "1", false},
        {true, "dumb", nullptr, false},
        {true, nullptr, nullptr, false},
        {false, "xterm", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term ? c.term : "(unset)") + (c.tty ? " tty" : " file"));
        EXPECT_EQ(TTerminalView::ColourWanted(c.tty, c.term, c.noColour), c.colour);
    }

    Screen screen;
    TTerminalView view(SearchSettings{}, screen.file(), TTerminalView::Progress::Redraw);
    view.PhaseChanged(IRunView::Phase::Crawling);
    EXPECT_EQ(screen.lastLine().find('\033'), std::string::npos);
    view.Colour = true;
    view.SetColumns(80);
    EXPECT_EQ(screen.lastLine().rfind("\033[1;36mcrawling\033[0m:", 0), 0U) << screen.lastLine();
}
